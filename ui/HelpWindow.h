#pragma once
// The user manual: HTML topics compiled into the program, shown in a window of its own.
// Topics are named as the help file names them ("::/introduction/tasklog.html"); anything
// before "::" (a help file path) is ignored. GUI thread only.

#include <QMainWindow>
#include <QUrl>

class QTextBrowser;

namespace brevanto::ui {

class HelpWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Opens (or raises) the one help window at `topic`; an empty topic shows the contents.
  // Returns the window, which deletes itself when closed.
  static HelpWindow* Open(const QString& topic = QString());
  // The resource URL of a topic, or an empty URL when the manual has no such page.
  static QUrl TopicUrl(const QString& topic);

  QTextBrowser* Browser() const { return m_browser; }

 private:
  HelpWindow();
  ~HelpWindow() override;

  void PlaceOver(const QWidget* owner);

  QTextBrowser* m_browser;
};

}  // namespace brevanto::ui
