#pragma once
// "Create a new task": the task-type chooser in front of the wizard.

#include <QDialog>

class QRadioButton;

namespace brevanto::wizard {

class CTaskTypeChooser : public QDialog {
  Q_OBJECT

 public:
  explicit CTaskTypeChooser(QWidget* parent);
  // The chosen task type (1..8) after accept().
  int ChosenType() const { return m_chosen; }
  void accept() override;

 private:
  QRadioButton* m_radios[8] = {};  // by type code - 1
  int m_chosen = 0;
};

}  // namespace brevanto::wizard
