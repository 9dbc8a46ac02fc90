#pragma once
// Every message box and file picker of the program goes through here, so that tests can
// answer them in advance and never block on a modal window. All boxes carry the caption
// "Brevanto". GUI thread only.

#include <QString>
#include <QStringList>

class QWidget;

namespace brevanto::ui {

enum class Answer { Yes, No, Cancel, Ok };

enum class BoxKind { Question, Warning, Information, Stop, OpenFile, SaveFile, Folder };

// One box or picker as it was shown, for tests to inspect.
struct ShownBox {
  BoxKind Kind;
  QString Text;  // the message, the filter of a file picker, or a folder picker's title
  QString Caption = QString();  // the box's title; empty for a file picker
  // Whether the widget the box was opened for was on screen: a message about a page must
  // not show over another one.
  bool ParentShown = false;
  QString Start = QString();  // the file a save picker suggests, or ""
};

class Dialogs {
 public:
  // Question icon, Yes default. YesNoCancel offers a third button; callers treat only
  // Yes as consent.
  static Answer AskYesNo(QWidget* parent, const QString& text);
  static Answer AskYesNoCancel(QWidget* parent, const QString& text);
  // Question with a check box under the text (the check box state is returned in
  // `checked`, which also gives its initial state). Buttons "&Yes" and "&No"; closing the
  // box otherwise answers Cancel.
  static Answer AskWithCheckBox(QWidget* parent, const QString& caption, const QString& text,
                                const QString& checkBoxText, bool& checked);
  static void Warning(QWidget* parent, const QString& text);
  static void Information(QWidget* parent, const QString& text);
  static void Stop(QWidget* parent, const QString& text);

  // A file that must exist; empty when cancelled. `filter` uses Qt's form ("Tasks Files (*.tsk)").
  static QString OpenFileName(QWidget* parent, const QString& filter);
  // Appends `suffix` when the name has none; asks before replacing an existing file.
  // Empty when cancelled.
  static QString SaveFileName(QWidget* parent, const QString& filter, const QString& suffix,
                              const QString& suggested = QString());
  // An existing folder, starting at `startFolder`; empty when cancelled. Scripted, it
  // records `title` as the text and takes the next queued file name.
  static QString FolderName(QWidget* parent, const QString& title, const QString& startFolder);
  // Several existing files; empty when cancelled. Scripted, each call takes one queued name.
  static QStringList OpenFileNames(QWidget* parent, const QString& filter);

  // Test hook. Once scripted, no real window is ever shown: boxes take the queued answers in
  // order (an empty queue answers No for questions, nothing for pickers) and every box is
  // recorded.
  static void Script();
  static void QueueAnswer(Answer answer);
  static void QueueCheckBox(bool checked);
  static void QueueFileName(const QString& path);
  static QList<ShownBox> TakeShown();
  static bool Scripted();
  static void EndScript();
};

}  // namespace brevanto::ui
