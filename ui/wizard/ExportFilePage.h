#pragma once
// CExportFilePage: the export file type, the folder and the CSV/TEXT format (the "Export
// File" tab).

#include "ui/wizard/TaskPage.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace brevanto::wizard {

class CExportFilePage : public CTaskPage {
  Q_OBJECT

 public:
  explicit CExportFilePage(CSheetContext& context);
  void Load() override;
  bool Leave() override;

 private:
  // Shows the example name and the default format of the type at `index` (0 CSV .. 3 TEXT).
  void ChooseType(int index);
  // The example file name for the chosen type and the task's compression.
  void ChooseExample();

  QComboBox* m_type;
  QLineEdit* m_folder;
  QLineEdit* m_example;
  QLineEdit* m_terminated;
  QLineEdit* m_enclosed;
  QLineEdit* m_escaped;
  QLineEdit* m_lines;
  QCheckBox* m_columnNames;
};

}  // namespace brevanto::wizard
