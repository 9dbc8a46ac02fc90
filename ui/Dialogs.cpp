#include "ui/Dialogs.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>
#include <QWidget>

#include "ui/Product.h"
#include "ui/WindowFit.h"

namespace brevanto::ui {

namespace {

struct ScriptState {
  bool active = false;
  QQueue<Answer> answers;
  QQueue<bool> checkBoxes;
  QQueue<QString> fileNames;
  QList<ShownBox> shown;
};

ScriptState& State() {
  static ScriptState state;
  return state;
}

bool OnScreen(const QWidget* parent) {
  return parent != nullptr && parent->isVisible();
}

Answer ScriptedAnswer(const QWidget* parent, BoxKind kind, const QString& text,
                      Answer unanswered, const QString& caption = QString::fromUtf8(kCaption)) {
  ScriptState& s = State();
  s.shown.append({kind, text, caption, OnScreen(parent)});
  return s.answers.isEmpty() ? unanswered : s.answers.dequeue();
}

QString ScriptedFileName(const QWidget* parent, BoxKind kind, const QString& filter) {
  ScriptState& s = State();
  s.shown.append({kind, filter, QString(), OnScreen(parent)});
  return s.fileNames.isEmpty() ? QString() : s.fileNames.dequeue();
}

Answer FromButton(int button) {
  switch (button) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Ok: return Answer::Ok;
    default: return Answer::Cancel;
  }
}

Answer Ask(QWidget* parent, const QString& text, QMessageBox::StandardButtons buttons) {
  if (State().active) return ScriptedAnswer(parent, BoxKind::Question, text, Answer::No);
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(kCaption), text, buttons, parent);
  box.setDefaultButton(QMessageBox::Yes);
  FitMessageBox(&box);
  return FromButton(box.exec());
}

void Tell(QWidget* parent, BoxKind kind, QMessageBox::Icon icon, const QString& text) {
  if (State().active) {
    ScriptedAnswer(parent, kind, text, Answer::Ok);
    return;
  }
  QMessageBox box(icon, QString::fromUtf8(kCaption), text, QMessageBox::Ok, parent);
  FitMessageBox(&box);
  box.exec();
}

}  // namespace

Answer Dialogs::AskYesNo(QWidget* parent, const QString& text) {
  return Ask(parent, text, QMessageBox::Yes | QMessageBox::No);
}

Answer Dialogs::AskYesNoCancel(QWidget* parent, const QString& text) {
  return Ask(parent, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
}

Answer Dialogs::AskWithCheckBox(QWidget* parent, const QString& caption, const QString& text,
                                const QString& checkBoxText, bool& checked) {
  ScriptState& s = State();
  if (s.active) {
    if (!s.checkBoxes.isEmpty()) checked = s.checkBoxes.dequeue();
    return ScriptedAnswer(parent, BoxKind::Question, text, Answer::Cancel, caption);
  }
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
  QPushButton* yes = box.addButton(QMessageBox::tr("&Yes"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QMessageBox::tr("&No"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  // Without a button of its own, closing the box (Escape, the title bar) would count as
  // "No"; this one is never shown and answers Cancel.
  QPushButton* closed = box.addButton(QMessageBox::Cancel);
  closed->hide();
  box.setEscapeButton(closed);
  auto* check = new QCheckBox(checkBoxText, &box);
  check->setChecked(checked);
  box.setCheckBox(check);
  FitMessageBox(&box);
  box.exec();
  checked = check->isChecked();
  if (box.clickedButton() == yes) return Answer::Yes;
  if (box.clickedButton() == no) return Answer::No;
  return Answer::Cancel;
}

void Dialogs::Warning(QWidget* parent, const QString& text) {
  Tell(parent, BoxKind::Warning, QMessageBox::Warning, text);
}

void Dialogs::Information(QWidget* parent, const QString& text) {
  Tell(parent, BoxKind::Information, QMessageBox::Information, text);
}

void Dialogs::Stop(QWidget* parent, const QString& text) {
  Tell(parent, BoxKind::Stop, QMessageBox::Critical, text);
}

QString Dialogs::OpenFileName(QWidget* parent, const QString& filter) {
  if (State().active) return ScriptedFileName(parent, BoxKind::OpenFile, filter);
  QFileDialog dialog(parent, QString(), QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().constFirst();
}

QString Dialogs::SaveFileName(QWidget* parent, const QString& filter, const QString& suffix,
                              const QString& suggested) {
  if (State().active) {
    const QString path = ScriptedFileName(parent, BoxKind::SaveFile, filter);
    State().shown.last().Start = suggested;
    return path;
  }
  // The dialog appends the suffix and asks before replacing (QFileDialog's default).
  QFileDialog dialog(parent, QString(), QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(suffix);
  if (!suggested.isEmpty()) dialog.selectFile(suggested);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().constFirst();
}

QString Dialogs::FolderName(QWidget* parent, const QString& title, const QString& startFolder) {
  if (State().active) return ScriptedFileName(parent, BoxKind::Folder, title);
  return QFileDialog::getExistingDirectory(parent, title, startFolder);
}

QStringList Dialogs::OpenFileNames(QWidget* parent, const QString& filter) {
  if (State().active) {
    const QString path = ScriptedFileName(parent, BoxKind::OpenFile, filter);
    return path.isEmpty() ? QStringList() : QStringList{path};
  }
  return QFileDialog::getOpenFileNames(parent, QString(), QString(), filter);
}

void Dialogs::Script() {
  EndScript();
  State().active = true;
}

void Dialogs::QueueAnswer(Answer answer) {
  State().answers.enqueue(answer);
}
void Dialogs::QueueCheckBox(bool checked) {
  State().checkBoxes.enqueue(checked);
}
void Dialogs::QueueFileName(const QString& path) {
  State().fileNames.enqueue(path);
}

QList<ShownBox> Dialogs::TakeShown() {
  QList<ShownBox> shown;
  shown.swap(State().shown);
  return shown;
}

bool Dialogs::Scripted() {
  return State().active;
}

void Dialogs::EndScript() {
  State() = ScriptState();
}

}  // namespace brevanto::ui
