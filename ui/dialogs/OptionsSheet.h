#pragma once
// COptionsSheet: the "Options" sheet with its "General" and "Backup and Log" pages. It
// edits a copy of the options; OK hands the copy back only when every page accepts it.
// GUI thread only.

#include <string>

#include <QDialog>

#include "core/Options.h"

class QTabWidget;

namespace brevanto::ui {

class CSystemOptionsPage;
class CSystemOptionsBackupLogPage;

class COptionsSheet : public QDialog {
  Q_OBJECT

 public:
  // `applicationFolder` ends in "/".
  COptionsSheet(const CSystemOptions& options, const std::string& applicationFolder,
                QWidget* parent = nullptr);

  // The edited options (valid after OK).
  const CSystemOptions& Options() const { return m_options; }
  QTabWidget* Tabs() const { return m_tabs; }

  void accept() override;

 private:
  // A page that refuses to be left takes the focus back.
  void PageChanged(int index);

  CSystemOptions m_options;
  QTabWidget* m_tabs;
  CSystemOptionsPage* m_general;
  CSystemOptionsBackupLogPage* m_backupLog;
  int m_currentPage = 0;
};

}  // namespace brevanto::ui
