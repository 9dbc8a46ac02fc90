#pragma once
// "Create a new task": the task-type chooser in front of the wizard.

#include <utility>
#include <vector>

#include <QDialog>

class QRadioButton;

namespace brevanto::wizard {

class CTaskTypeChooser : public QDialog {
  Q_OBJECT

 public:
  explicit CTaskTypeChooser(QWidget* parent);
  // The chosen task type after accept().
  int ChosenType() const { return m_chosen; }
  void accept() override;

 private:
  std::vector<std::pair<int, QRadioButton*>> m_radios;  // task type and its button, first checked
  int m_chosen = 0;
};

}  // namespace brevanto::wizard
