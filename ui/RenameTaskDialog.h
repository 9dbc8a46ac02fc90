#pragma once
// "Rename Task": one field holding the task's name. OK checks the name against the other
// tasks' names (exact comparison) and keeps the dialog open on a problem. GUI thread only.

#include <functional>

#include <QDialog>

class QLineEdit;

namespace brevanto::ui {

class RenameTaskDialog : public QDialog {
  Q_OBJECT

 public:
  // `nameTaken` answers whether another task already has the name.
  RenameTaskDialog(const QString& name, std::function<bool(const QString&)> nameTaken,
                   QWidget* parent = nullptr);

  QString Name() const;
  QLineEdit* NameField() const { return m_name; }

  void accept() override;

 private:
  QLineEdit* m_name;
  std::function<bool(const QString&)> m_nameTaken;
};

}  // namespace brevanto::ui
