#include "ui/LogViewer.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenuBar>
#include <QTableView>
#include <QVBoxLayout>

#include "logs/LogExport.h"
#include "schedule/LastRunResult.h"
#include "tasks/DisplayDateTime.h"
#include "ui/Dialogs.h"
#include "ui/HelpWindow.h"
#include "ui/Icons.h"
#include "ui/Text.h"

namespace brevanto::ui {

namespace {

constexpr std::size_t kNewestShown = 200;
const char* const kNoLogs = "There are not any task logs!";

class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

// The viewer's rows: SN, Date & Time, Information over the viewer's own entry array.
class LogEntryModel : public QAbstractTableModel {
 public:
  LogEntryModel(const std::vector<CTaskLogEntry>& entries, int dateStyle, int timeStyle,
                QObject* parent)
      : QAbstractTableModel(parent),
        m_entries(entries),
        m_dateStyle(dateStyle),
        m_timeStyle(timeStyle) {
    m_icons[0] = MakeIcon(IconRole::General);
    m_icons[1] = MakeIcon(IconRole::Warning);
    m_icons[2] = MakeIcon(IconRole::Error);
  }

  void Reset() {
    beginResetModel();
    endResetModel();
  }

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
  }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 3; }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= static_cast<int>(m_entries.size())) return {};
    const CTaskLogEntry& e = m_entries[static_cast<std::size_t>(index.row())];
    if (role == Qt::DecorationRole && index.column() == 0)
      return m_icons[e.level > 2 ? 2 : e.level];
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
      case 0: return QString::number(index.row() + 1);
      case 1:
        return ToQt(FormatDisplayDateTime(e.year, e.month, e.day, e.hour, e.minute, e.second,
                                          e.dayOfWeek, m_dateStyle, m_timeStyle, true));
      default: return ToQt(e.text);
    }
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const kCaptions[] = {"SN", "Date & Time", "Information"};
    return section >= 0 && section < 3 ? QString::fromLatin1(kCaptions[section]) : QVariant();
  }

 private:
  const std::vector<CTaskLogEntry>& m_entries;
  const int m_dateStyle;
  const int m_timeStyle;
  QIcon m_icons[3];
};

CTaskLogViewer::CTaskLogViewer(CTaskLog& log, const std::string& taskName,
                               const std::string& logFileName, int dateStyle, int timeStyle,
                               QWidget* parent)
    : QDialog(parent),
      m_log(log),
      m_logFileName(logFileName),
      m_taskName(ToQt(taskName)),
      m_dateStyle(dateStyle),
      m_timeStyle(timeStyle),
      m_model(new LogEntryModel(m_entries, dateStyle, timeStyle, this)),
      m_list(new QTableView(this)) {
  setObjectName("taskLogViewer");
  setWindowTitle(tr("Task Log - %1").arg(ToQt(taskName)));
  setWindowFlag(Qt::WindowMaximizeButtonHint);
  setSizeGripEnabled(true);
  setModal(true);

  auto* menuBar = new QMenuBar(this);
  menuBar->setObjectName("logMenuBar");
  QMenu* logs = menuBar->addMenu(tr("&Logs"));
  logs->addAction(tr("&Display All"), this, &CTaskLogViewer::DisplayAll)
      ->setObjectName("actionDisplayAll");
  logs->addSeparator();
  logs->addAction(tr("&Refresh"), this, &CTaskLogViewer::Refresh)->setObjectName("actionRefresh");
  logs->addSeparator();
  logs->addAction(tr("&Empty logs"), this, &CTaskLogViewer::EmptyLogs)
      ->setObjectName("actionEmptyLogs");
  logs->addSeparator();
  logs->addAction(tr("&Close"), this, &QDialog::accept)->setObjectName("actionClose");
  QMenu* exports = menuBar->addMenu(tr("&Export"));
  exports->addAction(tr("Export to &CSV file..."), this, &CTaskLogViewer::ExportToCsv)
      ->setObjectName("actionExportCsv");
  exports->addAction(tr("Export to &LOG file..."), this, &CTaskLogViewer::ExportToLog)
      ->setObjectName("actionExportLog");
  exports->addAction(tr("Export to &TXT file..."), this, &CTaskLogViewer::ExportToTxt)
      ->setObjectName("actionExportTxt");
  QMenu* help = menuBar->addMenu(tr("&Help"));
  help->addAction(tr("&Help"), this, [] { HelpWindow::Open("::/introduction/tasklog.html"); })
      ->setObjectName("actionLogHelp");

  m_list->setObjectName("logList");
  // Tab leaves the list; the arrow keys move within it.
  m_list->setTabKeyNavigation(false);
  m_list->setModel(m_model);
  m_list->setShowGrid(true);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_list->setIconSize(QSize(18, 18));
  m_list->setWordWrap(false);
  m_list->verticalHeader()->hide();
  m_list->verticalHeader()->setDefaultSectionSize(22);
  m_list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_list->horizontalHeader()->setStretchLastSection(true);
  m_list->setColumnWidth(0, 70);
  // Wide enough for the longest moment the styles produce, whatever the font.
  m_list->setColumnWidth(1, qMax(200, m_list->fontMetrics().horizontalAdvance(
                                          QStringLiteral(" Wed, Sep 30, 2006 00:00:00 P.M ")) +
                                          12));
  m_list->setColumnWidth(2, 720);
  QPalette palette = m_list->palette();
  palette.setColor(QPalette::Text, QColor(0, 0, 160));
  palette.setColor(QPalette::Base, Qt::white);
  m_list->setPalette(palette);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setMenuBar(menuBar);
  layout->addWidget(m_list);
  resize(840, 480);

  Refresh();
}

CTaskLogViewer::~CTaskLogViewer() = default;

void CTaskLogViewer::Show(bool all) {
  WaitCursor wait;
  if (all) {
    m_log.ReadAll(m_logFileName, m_entries);
  } else {
    m_entries.clear();
    m_log.ReadLast(m_logFileName, m_entries, kNewestShown);
  }
  m_model->Reset();
  m_list->clearSelection();
  if (!m_entries.empty()) {
    // A failed last run opens at its first error: that is what the reader came for.
    const int firstError = FindLastRunFirstError(m_entries);
    const int shown = firstError >= 0 ? firstError : static_cast<int>(m_entries.size()) - 1;
    m_list->selectRow(shown);
    if (firstError >= 0) {
      m_list->scrollTo(m_list->model()->index(shown, 0), QAbstractItemView::PositionAtCenter);
    } else {
      m_list->scrollToBottom();
    }
  }
}

void CTaskLogViewer::Refresh() {
  Show(false);
}

void CTaskLogViewer::DisplayAll() {
  Show(true);
}

bool CTaskLogViewer::NothingShown() {
  if (!m_entries.empty()) return false;
  Dialogs::Warning(this, tr(kNoLogs));
  return true;
}

void CTaskLogViewer::EmptyLogs() {
  if (NothingShown()) return;
  const QFileInfo file(ToQt(m_log.PathOf(m_logFileName)));
  if (!file.isFile() || !file.isWritable()) {
    Dialogs::Warning(this, tr(kNoLogs));
    return;
  }
  if (Dialogs::AskYesNo(this, tr("Do you want to EMPTY ALL logs of the task?")) != Answer::Yes)
    return;
  WaitCursor wait;
  (void)m_log.DeleteLog(m_logFileName);
  m_entries.clear();
  m_model->Reset();
}

QString CTaskLogViewer::SuggestedFile(const char* suffix) const {
  // The task's name, made a file name: a "/" would name a folder.
  QString name = m_taskName;
  name.replace(QLatin1Char('/'), QLatin1Char('_'));
  if (name.isEmpty() || name.startsWith(QLatin1Char('.'))) name.prepend(QStringLiteral("log"));
  return QDir::home().filePath(name + QLatin1Char('.') + QLatin1String(suffix));
}

void CTaskLogViewer::ExportLines(bool csv) {
  if (NothingShown()) return;
  const QString path =
      csv ? Dialogs::SaveFileName(this, tr("Task Log Files(*.csv)"), "csv", SuggestedFile("csv"))
          : Dialogs::SaveFileName(this, tr("Task Log Files(*.txt)"), "txt", SuggestedFile("txt"));
  if (path.isEmpty()) return;
  Status written;
  {
    WaitCursor wait;
    written = ExportLogEntries(m_entries, csv ? LogExportFormat::CSV : LogExportFormat::TXT,
                               m_dateStyle, m_timeStyle, FromQt(path));
  }
  // A target that cannot be written is said, not passed over: the user expects a file there.
  if (!written.ok()) Dialogs::Stop(this, ToQt(written.message()));
}

void CTaskLogViewer::ExportToCsv() {
  ExportLines(true);
}

void CTaskLogViewer::ExportToTxt() {
  ExportLines(false);
}

void CTaskLogViewer::ExportToLog() {
  if (NothingShown()) return;
  const QString path =
      Dialogs::SaveFileName(this, tr("Task Log Files(*.log)"), "log", SuggestedFile("log"));
  if (path.isEmpty()) return;
  const Status copied = ExportLogFile(m_log.PathOf(m_logFileName), FromQt(path));
  if (!copied.ok()) Dialogs::Stop(this, ToQt(copied.message()));
}

}  // namespace brevanto::ui
