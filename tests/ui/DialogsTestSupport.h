#pragma once
// Helpers of the settings-dialog tests: typing into named fields and answering a modal
// dialog once it has opened.

#include <functional>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

namespace brevanto::test {

template <typename W = QWidget>
W* Child(const QWidget* root, const char* name) {
  W* child = root->findChild<W*>(QString::fromLatin1(name));
  if (child == nullptr) ADD_FAILURE() << "no widget named " << name;
  return child;
}

inline void Type(const QWidget* root, const char* name, const QString& text) {
  if (auto* edit = Child<QLineEdit>(root, name)) edit->setText(text);
}

inline void Click(const QWidget* root, const char* name) {
  if (auto* button = Child<QAbstractButton>(root, name)) button->click();
}

// Calls `answer` with the next modal dialog as soon as it is open; it must close it.
inline void WhenModalOpens(std::function<void(QWidget*)> answer) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, answer] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    timer->stop();
    timer->deleteLater();
    answer(modal);
  });
  timer->start();
}

}  // namespace brevanto::test
