#pragma once
// Window managers cut a title that does not fit their title bar ("Login - Brevant…"), and a
// narrow message box shows its caption as "Br…o". Every top-level window of the program is
// kept at least as wide as its title needs, whenever it is shown or retitled. Qt also opens
// a window at no more than two thirds of the screen, which cuts a wide dialog on a small or
// scaled screen; a dialog is shown whole when the screen has room. And no window is shown
// larger than the screen's free area or partly off it (a 1366x768 screen at 150 % leaves
// about 910x490 pixels), since its buttons would be out of reach; pages taller than that
// scroll (InScrollArea). The watch is installed on the application when it starts. GUI
// thread only.

class QFont;
class QMessageBox;
class QScrollArea;
class QString;
class QWidget;

namespace brevanto::ui {

// The width a window needs for `title` in its title bar: the text in a bold face (title
// bars draw bold) plus the icon and the buttons beside it.
int TitleBarWidth(const QString& title, const QFont& font);

// Widens `window` (now and as a minimum) when it is narrower than its title needs.
void FitWidthToTitle(QWidget* window);

// Grows `window`, once, to the size its contents ask for, as far as its screen allows.
void FitToContents(QWidget* window);

// The same for a message box, which fixes its own size when shown: call before it is shown.
void FitMessageBox(QMessageBox* box);

// Shrinks `window` (and a minimum size set on it) to its screen's free area, frame
// included, and moves it wholly onto that area.
void BoundToScreen(QWidget* window);

// `page` in a frameless scroll area that grows with its window, so a tall page does not
// make its window taller than the screen.
QScrollArea* InScrollArea(QWidget* page);

}  // namespace brevanto::ui
