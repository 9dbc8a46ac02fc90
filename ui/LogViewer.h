#pragma once
// CTaskLogViewer: one task's log as a list, newest entries last, with Display All,
// Refresh, Empty logs and the three exports. Modal over the main window. GUI thread only.

#include <string>
#include <vector>

#include <QDialog>

#include "logs/TaskLog.h"

class QTableView;

namespace brevanto::ui {

class LogEntryModel;

class CTaskLogViewer : public QDialog {
  Q_OBJECT

 public:
  // Loads the newest entries at once. REQUIRES: `log` outlives the viewer.
  CTaskLogViewer(CTaskLog& log, const std::string& taskName, const std::string& logFileName,
                 int dateStyle, int timeStyle, QWidget* parent = nullptr);
  ~CTaskLogViewer() override;

  void Refresh();
  void DisplayAll();
  void EmptyLogs();
  void ExportToCsv();
  void ExportToLog();
  void ExportToTxt();

  const std::vector<CTaskLogEntry>& Entries() const { return m_entries; }
  QTableView* List() const { return m_list; }

 private:
  void Show(bool all);
  void ExportLines(bool csv);
  // "~/<task name>.<suffix>", what the save picker suggests.
  QString SuggestedFile(const char* suffix) const;
  bool NothingShown();

  CTaskLog& m_log;
  const std::string m_logFileName;
  const QString m_taskName;
  const int m_dateStyle;
  const int m_timeStyle;
  std::vector<CTaskLogEntry> m_entries;
  LogEntryModel* m_model;
  QTableView* m_list;
};

}  // namespace brevanto::ui
