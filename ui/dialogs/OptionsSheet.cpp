#include "ui/dialogs/OptionsSheet.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include "ui/HelpWindow.h"
#include "ui/dialogs/Named.h"
#include "ui/dialogs/SystemOptionsBackupLogPage.h"
#include "ui/dialogs/SystemOptionsPage.h"

namespace brevanto::ui {

COptionsSheet::COptionsSheet(const CSystemOptions& options, const std::string& applicationFolder,
                             QWidget* parent)
    : QDialog(parent),
      m_options(options),
      m_tabs(Named(new QTabWidget(this), "optionsTabs")),
      m_general(new CSystemOptionsPage(options, this)),
      m_backupLog(new CSystemOptionsBackupLogPage(options, applicationFolder, this)) {
  setObjectName("optionsSheet");
  setWindowTitle(tr("Options"));
  m_tabs->addTab(m_general, tr("General"));
  m_tabs->addTab(m_backupLog, tr("Backup and Log"));

  std::vector<QPushButton*> pushButtons;
  QHBoxLayout* buttons = ButtonRow(
      this, {{tr("OK"), "ok"}, {tr("Cancel"), "cancel"}, {tr("Help"), "help"}}, pushButtons);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_tabs);
  layout->addLayout(buttons);

  connect(pushButtons[0], &QPushButton::clicked, this, &COptionsSheet::accept);
  connect(pushButtons[1], &QPushButton::clicked, this, &COptionsSheet::reject);
  connect(pushButtons[2], &QPushButton::clicked, this,
          [] { HelpWindow::Open(QStringLiteral("::/introduction/options.html")); });
  connect(m_tabs, &QTabWidget::currentChanged, this, &COptionsSheet::PageChanged);
}

void COptionsSheet::PageChanged(int index) {
  if (m_tabs->widget(m_currentPage) == m_backupLog) {
    // The tab has already switched: go back first, so a refusal is read over the page it
    // is about, and move on only when the page is valid.
    const QSignalBlocker blocker(m_tabs);
    m_tabs->setCurrentIndex(m_currentPage);
    if (!m_backupLog->Validate()) return;
    m_tabs->setCurrentIndex(index);
  }
  m_currentPage = index;
}

void COptionsSheet::accept() {
  CSystemOptions edited = m_options;
  m_general->Store(edited);
  if (!m_backupLog->Store(edited)) {
    const QSignalBlocker blocker(m_tabs);
    m_tabs->setCurrentWidget(m_backupLog);
    m_currentPage = m_tabs->currentIndex();
    m_backupLog->FocusSizeField();
    return;
  }
  m_options = edited;
  QDialog::accept();
}

}  // namespace brevanto::ui
