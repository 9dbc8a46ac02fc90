#include "ui/wizard/RestoreFilesPage.h"

#include <ctime>

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "appcore/ApplicationCore.h"
#include "tasks/DisplayDateTime.h"
#include "tasks/EncryptionOptions.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "ui/wizard/AdvancedOptionsDialog.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::ToQt;

bool MakeRestoreFileItem(const std::string& path, RestoreFileItem& item) {
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // Any name: the restore reads compressed files by their first bytes, and a user who
  // picked a dump saved as "*.txt" means it.
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  struct stat info {};
  const bool isFile = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  if (!isFile) return false;
  struct tm local {};
  localtime_r(&info.st_mtime, &local);
  item = RestoreFileItem();
  item.IconIndex = 0;
  item.FileName = name;
  item.FullPath = path;
  // The record holds 32 bits; larger files show the largest size it can hold.
  item.FileSize =
      info.st_size > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<std::uint32_t>(info.st_size);
  item.FileTime =
      TaskDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,    local.tm_hour,
                   local.tm_min,         local.tm_sec,     local.tm_wday + 1};
  return true;
}

CRestoreFilesPage::CRestoreFilesPage(CSheetContext& context)
    : CTaskPage(context, tr("SQL Files")),
      m_list(new QTreeWidget(this)),
      m_continueSql(
          new QCheckBox(tr("Continue even if an SQL error occurs during restoring"), this)),
      m_continueFile(
          new QCheckBox(tr("Continue even if an FILE error occurs during restoring"), this)),
      m_identity(new QLineEdit(this)) {
  setObjectName(QStringLiteral("restoreFilesPage"));
  m_list->setObjectName(QStringLiteral("filesList"));
  m_continueSql->setObjectName(QStringLiteral("continueSqlCheck"));
  m_continueFile->setObjectName(QStringLiteral("continueFileCheck"));
  m_list->setRootIsDecorated(false);
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_list->setHeaderLabels({tr("File Name"), tr("Full Path"), tr("File Size"), tr("Date & Time")});
  m_list->header()->setStretchLastSection(false);
  FitColumns();
  auto* layout = new QVBoxLayout(this);
  auto* top = new QGridLayout;
  top->addWidget(m_list, 0, 0, 6, 1);
  const struct {
    const char* Text;
    const char* Name;
  } kButtons[] = {{"&Add", "addButton"},
                  {"&Remove", "removeButton"},
                  {"Re&move All", "removeAllButton"},
                  {"Move &Up", "moveUpButton"},
                  {"Move &Down", "moveDownButton"}};
  QPushButton* made[5];
  for (int i = 0; i < 5; ++i) {
    made[i] = new QPushButton(tr(kButtons[i].Text), this);
    made[i]->setObjectName(QString::fromLatin1(kButtons[i].Name));
    top->addWidget(made[i], i, 1);
  }
  layout->addLayout(top, 1);
  layout->addWidget(m_continueSql);
  auto* options = new QPushButton(tr("Advanced Options..."), this);
  options->setObjectName(QStringLiteral("advancedOptionsButton"));
  connect(options, &QPushButton::clicked, this, [this] {
    CAdvancedOptionsDialog dialog(this, Task());
    dialog.exec();
  });
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(m_continueFile);
  bottom->addStretch();
  bottom->addWidget(options);
  layout->addLayout(bottom);
  m_identity->setObjectName(QStringLiteral("identityFileEdit"));
  m_identity->setPlaceholderText(tr("None: the files are not encrypted"));
  m_identity->setToolTip(
      tr("The age identity that opens encrypted files. One protected by a passphrase takes it "
         "from the environment variable BREVANTO_IDENTITY_PASSPHRASE."));
  auto* identityLabel = new QLabel(tr("&Identity file:"), this);
  identityLabel->setBuddy(m_identity);
  auto* browseIdentity = new QPushButton(tr("Bro&wse..."), this);
  browseIdentity->setObjectName(QStringLiteral("browseIdentityButton"));
  connect(browseIdentity, &QPushButton::clicked, this, [this] {
    const QString path =
        ui::Dialogs::OpenFileName(this, tr("Identity Files (*.txt *.key *.age);;All Files (*)"));
    if (!path.isEmpty()) m_identity->setText(path);
  });
  auto* identityRow = new QHBoxLayout;
  identityRow->addWidget(identityLabel);
  identityRow->addWidget(m_identity, 1);
  identityRow->addWidget(browseIdentity);
  layout->addLayout(identityRow);
  auto* passphraseHint = new QLabel(
      tr("An identity file protected by a passphrase takes it from BREVANTO_IDENTITY_PASSPHRASE."),
      this);
  passphraseHint->setWordWrap(true);
  layout->addWidget(passphraseHint);
  connect(made[0], &QPushButton::clicked, this, [this] {
    const QStringList paths =
        ui::Dialogs::OpenFileNames(this, tr("SQL Files (*.sql *.sql.gz *.sql.zst);;All Files (*)"));
    AddFiles(paths);
  });
  connect(made[1], &QPushButton::clicked, this, [this] { Remove(false); });
  connect(made[2], &QPushButton::clicked, this, [this] { Remove(true); });
  connect(made[3], &QPushButton::clicked, this, [this] { Move(-1); });
  connect(made[4], &QPushButton::clicked, this, [this] { Move(1); });
}

void CRestoreFilesPage::FillList() {
  m_list->clear();
  const int dateStyle = Context().Core ? Context().Core->Options().DateFormat : 1;
  const int timeStyle = Context().Core ? Context().Core->Options().TimeFormat : 1;
  for (const RestoreFileItem& file : m_files) {
    auto* row = new QTreeWidgetItem(m_list);
    row->setText(0, ToQt(file.FileName));
    row->setText(1, ToQt(file.FullPath));
    row->setText(2, QStringLiteral("%1 KB").arg(file.FileSize / 1024));
    row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    row->setText(3, ToQt(FormatDisplayDateTime(file.FileTime, dateStyle, timeStyle, true)));
  }
  FitColumns();
}

void CRestoreFilesPage::FitColumns() {
  // Names and paths are read whole or not at all: each column is as wide as its longest
  // text, never narrower than a sensible start; the list scrolls sideways when needed.
  const int dateWidth =
      m_list->fontMetrics().horizontalAdvance(QStringLiteral("Wed, Sep 30, 2006 00:00:00 P.M")) +
      16;
  const int minimum[] = {160, 260, 80, dateWidth};
  for (int column = 0; column < m_list->columnCount(); ++column) {
    m_list->resizeColumnToContents(column);
    if (m_list->columnWidth(column) < minimum[column]) {
      m_list->setColumnWidth(column, minimum[column]);
    }
  }
}

void CRestoreFilesPage::Load() {
  m_files = Task().RestoreFiles;
  m_continueSql->setChecked(Task().RestoreOptions.ContinueOnSqlError != 0);
  m_continueFile->setChecked(Task().RestoreOptions.ContinueOnFileError != 0);
  m_identity->setText(ToQt(EncryptionOptionsOf(Task()).IdentityFile));
  FillList();
}

void CRestoreFilesPage::AddFiles(const QStringList& paths) {
  QStringList refused;
  for (const QString& path : paths) {
    const std::string full = FromQt(path);
    bool listed = false;
    for (const RestoreFileItem& file : m_files) listed = listed || file.FullPath == full;
    if (listed) continue;  // already in the list: nothing to say
    RestoreFileItem item;
    if (MakeRestoreFileItem(full, item)) {
      m_files.push_back(item);
    } else {
      refused << path;
    }
  }
  FillList();
  if (!refused.isEmpty()) {
    ui::Dialogs::Warning(this, tr("These files were not added: they are not files that can be "
                                  "read.\n\n%1")
                                   .arg(refused.join(QLatin1Char('\n'))));
  }
}

void CRestoreFilesPage::Remove(bool all) {
  if (m_files.empty()) return;
  if (!all && m_list->selectedItems().isEmpty()) return;
  const QString question = all ? tr("Do you want to remove all file items in the list?")
                               : tr("Do you want to remove the file item(s) in the list?");
  if (ui::Dialogs::AskYesNo(this, question) != ui::Answer::Yes) return;
  std::vector<RestoreFileItem> kept;
  for (std::size_t i = 0; i < m_files.size(); ++i) {
    if (!all && !m_list->topLevelItem(static_cast<int>(i))->isSelected())
      kept.push_back(m_files[i]);
  }
  m_files = std::move(kept);
  FillList();
}

void CRestoreFilesPage::Move(int delta) {
  const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
  if (selected.isEmpty()) {
    ui::Dialogs::Warning(this, tr("Please choose a file item!"));
    return;
  }
  const int row = m_list->indexOfTopLevelItem(selected.front());
  const int target = row + delta;
  if (target < 0 || target >= static_cast<int>(m_files.size())) return;
  std::swap(m_files[static_cast<std::size_t>(row)], m_files[static_cast<std::size_t>(target)]);
  FillList();
  m_list->topLevelItem(target)->setSelected(true);
  m_list->setCurrentItem(m_list->topLevelItem(target));
}

bool CRestoreFilesPage::Leave() {
  if (m_files.empty()) {
    ui::Dialogs::Warning(this, tr("Please add the files!"));
    m_list->setFocus();
    return false;
  }
  EncryptionOptions encryption = EncryptionOptionsOf(Task());
  encryption.IdentityFile = FromQt(m_identity->text().trimmed());
  if (const std::string problem = EncryptionOptionsProblem(encryption); !problem.empty()) {
    ui::Dialogs::Warning(this, ToQt(problem));
    m_identity->setFocus();
    return false;
  }
  const QString question =
      tr("If there are some DROP and DELETE statements in these SQL files, some old databases and "
         "tables on the destination server will be deleted during the task running.\n\nDo you want "
         "to continue?");
  if (Context().Wizard() && ui::Dialogs::AskYesNo(this, question) != ui::Answer::Yes) return false;
  Task().RestoreFiles = m_files;
  Task().RestoreOptions.ContinueOnSqlError = m_continueSql->isChecked() ? 1 : 0;
  Task().RestoreOptions.ContinueOnFileError = m_continueFile->isChecked() ? 1 : 0;
  SetEncryptionOptions(Task(), encryption);
  return true;
}

}  // namespace brevanto::wizard
