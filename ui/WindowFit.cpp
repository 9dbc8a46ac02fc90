#include "ui/WindowFit.h"

#include <algorithm>

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLayout>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QSpacerItem>

namespace brevanto::ui {

namespace {

// Icon, three buttons and the frame's padding as the common window managers draw them;
// generous, since a few pixels too wide costs nothing and too narrow cuts the title.
constexpr int kTitleBarChrome = 140;
constexpr const char* kFittedProperty = "brevantoTitleFitted";
constexpr const char* kContentsFittedProperty = "brevantoContentsFitted";
// Room a window manager's frame takes around a window: its borders and title bar.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 40;

bool IsTitled(const QWidget* widget) {
  if (!widget->isWindow()) return false;
  const Qt::WindowType type = widget->windowType();
  return type == Qt::Window || type == Qt::Dialog || type == Qt::Sheet;
}

class TitleWatch : public QObject {
 public:
  using QObject::QObject;

  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type != QEvent::Show && type != QEvent::WindowTitleChange) return false;
    if (!watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (!IsTitled(widget)) return false;
    if (auto* box = qobject_cast<QMessageBox*>(widget)) {
      if (type == QEvent::Show) FitMessageBox(box);
      return false;
    }
    if (type == QEvent::Show && qobject_cast<QDialog*>(widget)) FitToContents(widget);
    FitWidthToTitle(widget);
    if (type == QEvent::Show) BoundToScreen(widget);
    return false;
  }
};

void InstallTitleWatch() {
  QCoreApplication* app = QCoreApplication::instance();
  app->installEventFilter(new TitleWatch(app));
}

}  // namespace

// Installed with the application; the program's message boxes (ui/Dialogs) use this file,
// so the linker keeps it and the watch with it.
Q_COREAPP_STARTUP_FUNCTION(InstallTitleWatch)

int TitleBarWidth(const QString& title, const QFont& font) {
  QFont bold = font;
  bold.setBold(true);
  return QFontMetrics(bold).horizontalAdvance(title) + kTitleBarChrome;
}

void FitWidthToTitle(QWidget* window) {
  if (window->windowTitle().isEmpty()) return;
  const int needed = TitleBarWidth(window->windowTitle(), window->font());
  // A layout that fixes the size would undo a plain resize; such windows are small boxes
  // whose titles are short.
  if (window->layout() && window->layout()->sizeConstraint() == QLayout::SetFixedSize) return;
  if (window->maximumWidth() < needed) return;
  if (window->minimumWidth() < needed) window->setMinimumWidth(needed);
  if (window->width() < needed) window->resize(needed, window->height());
}

void FitToContents(QWidget* window) {
  if (!window->layout() || window->property(kContentsFittedProperty).toBool()) return;
  window->setProperty(kContentsFittedProperty, true);
  const QScreen* screen = window->screen();
  if (screen == nullptr) return;
  const QSize room = screen->availableGeometry().size() - QSize(kFrameWidth, kFrameHeight);
  const QSize wanted = window->sizeHint().boundedTo(room).boundedTo(window->maximumSize());
  const QSize grown = window->size().expandedTo(wanted);
  if (grown != window->size()) window->resize(grown);
}

void BoundToScreen(QWidget* window) {
  const QScreen* screen = window->screen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  const QSize room = area.size() - QSize(kFrameWidth, kFrameHeight);
  if (window->minimumWidth() > room.width()) window->setMinimumWidth(room.width());
  if (window->minimumHeight() > room.height()) window->setMinimumHeight(room.height());
  const QSize bounded = window->size().boundedTo(room);
  if (bounded != window->size()) window->resize(bounded);
  // The frame's top left corner, so that frame and window fit between the area's edges.
  const QSize outer = window->size() + QSize(kFrameWidth, kFrameHeight);
  const QPoint at = window->frameGeometry().topLeft();
  const QPoint inside(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())),
                      std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
  if (inside != at) window->move(inside);
}

QScrollArea* InScrollArea(QWidget* page) {
  auto* area = new QScrollArea;
  area->setObjectName(page->objectName() + QStringLiteral("Scroll"));
  area->setFrameShape(QFrame::NoFrame);
  area->setWidgetResizable(true);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // Tab goes to the page's fields, not to the area around them.
  area->setFocusPolicy(Qt::NoFocus);
  area->setWidget(page);
  return area;
}

// A message box fixes its own size when it is shown, so it is widened through its layout.
void FitMessageBox(QMessageBox* box) {
  auto* grid = qobject_cast<QGridLayout*>(box->layout());
  if (!grid || box->property(kFittedProperty).toBool()) return;
  box->setProperty(kFittedProperty, true);
  const QMargins margins = grid->contentsMargins();
  const int needed = TitleBarWidth(box->windowTitle(), box->font());
  grid->addItem(new QSpacerItem(needed - margins.left() - margins.right(), 0, QSizePolicy::Fixed,
                                QSizePolicy::Minimum),
                grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace brevanto::ui
