#include "ui/wizard/AdvancedOptionsDialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "appcore/TaskRules.h"
#include "appcore/WizardText.h"
#include "core/Clock.h"
#include "tasks/AdvancedOptions.h"
#include "tasks/TaskItem.h"
#include "ui/wizard/EncryptionBox.h"

namespace brevanto::wizard {

namespace {

// The spin box counts KB; a stored size that is not a whole number of KB shows rounded up.
int StatementKB(std::uint32_t bytes) {
  const std::uint32_t kb = (bytes + 1023) / 1024;
  return static_cast<int>(std::clamp(kb, kMinStatementBytes / 1024, kMaxStatementBytes / 1024));
}

}  // namespace

CAdvancedOptionsDialog::CAdvancedOptionsDialog(QWidget* parent, CTaskItem& task, Clock* clock)
    : QDialog(parent),
      m_task(task),
      m_routines(new QCheckBox(tr("Stored procedures and functions"), this)),
      m_triggers(new QCheckBox(tr("Triggers"), this)),
      m_events(new QCheckBox(tr("Events"), this)),
      m_snapshot(new QCheckBox(tr("Read all tables in one consistent snapshot"), this)),
      m_fillStatements(new QCheckBox(tr("Fill statements up to"), this)),
      m_statementKB(new QSpinBox(this)),
      m_transactionPerTable(new QCheckBox(tr("One transaction per table"), this)),
      m_threads(new QSpinBox(this)),
      m_compression(new QComboBox(this)),
      m_level(new QSpinBox(this)),
      m_nullMarker(new QCheckBox(tr("Write NULL as \\N in CSV and TEXT files"), this)),
      m_encryption(new CEncryptionBox(this, clock ? *clock : SystemClock())) {
  setObjectName(QStringLiteral("advancedOptionsDialog"));
  setWindowTitle(tr("Advanced Options"));
  m_routines->setObjectName(QStringLiteral("includeRoutinesCheck"));
  m_triggers->setObjectName(QStringLiteral("includeTriggersCheck"));
  m_events->setObjectName(QStringLiteral("includeEventsCheck"));
  m_snapshot->setObjectName(QStringLiteral("consistentSnapshotCheck"));
  m_fillStatements->setObjectName(QStringLiteral("fillStatementsCheck"));
  m_statementKB->setObjectName(QStringLiteral("statementSizeSpin"));
  m_transactionPerTable->setObjectName(QStringLiteral("transactionPerTableCheck"));
  m_threads->setObjectName(QStringLiteral("threadsSpin"));
  m_compression->setObjectName(QStringLiteral("compressionCombo"));
  m_level->setObjectName(QStringLiteral("compressionLevelSpin"));
  m_nullMarker->setObjectName(QStringLiteral("nullMarkerCheck"));
  m_nullMarker->setToolTip(
      tr("Unchecked: NULL, an empty string and the text NULL are all written as an empty value."));

  m_compression->addItem(tr("None"), static_cast<int>(Compression::None));
  m_compression->addItem(tr("gzip (.gz)"), static_cast<int>(Compression::Gzip));
  m_compression->addItem(tr("zstd (.zst)"), static_cast<int>(Compression::Zstd));
  m_level->setRange(0, 19);
  m_level->setSpecialValueText(tr("default"));
  m_statementKB->setRange(static_cast<int>(kMinStatementBytes / 1024),
                          static_cast<int>(kMaxStatementBytes / 1024));
  m_statementKB->setSuffix(tr(" KB"));
  m_statementKB->setSingleStep(256);
  m_statementKB->setGroupSeparatorShown(true);
  m_fillStatements->setToolTip(
      tr("Unchecked: every statement keeps the shape the task's own settings give it."));
  m_transactionPerTable->setToolTip(
      tr("Loads each table in one transaction, with unique and foreign-key checks off."));
  m_threads->setRange(1, kMaxThreads);
  connect(m_fillStatements, &QCheckBox::toggled, m_statementKB, &QWidget::setEnabled);

  auto* statementRow = new QWidget(this);
  auto* statementLayout = new QHBoxLayout(statementRow);
  statementLayout->setContentsMargins(0, 0, 0, 0);
  statementLayout->addWidget(m_fillStatements);
  statementLayout->addWidget(m_statementKB);
  statementLayout->addStretch();

  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->addRow(tr("Include:"), m_routines);
  form->addRow(QString(), m_triggers);
  form->addRow(QString(), m_events);
  form->addRow(QString(), m_snapshot);
  form->addRow(tr("Statements:"), statementRow);
  form->addRow(QString(), m_transactionPerTable);
  // Only what the task's type uses is shown; the rest keeps its stored value.
  const AdvancedScope scope = AdvancedScopeOf(task.TaskType);
  form->addRow(scope.ThreadsAreFiles ? tr("Files at a time:") : tr("Tables at a time:"), m_threads);
  form->addRow(tr("Compression:"), m_compression);
  form->addRow(tr("Compression level:"), m_level);
  form->addRow(tr("NULL values:"), m_nullMarker);
  form->addRow(tr("Encryption:"), m_encryption);
  layout->addLayout(form);
  for (QWidget* row : {static_cast<QWidget*>(m_routines), static_cast<QWidget*>(m_triggers),
                       static_cast<QWidget*>(m_events), static_cast<QWidget*>(m_snapshot)}) {
    form->setRowVisible(row, scope.Objects);
  }
  form->setRowVisible(statementRow, scope.StatementSize);
  form->setRowVisible(m_transactionPerTable, scope.TransactionPerTable);
  form->setRowVisible(m_threads, scope.Threads);
  form->setRowVisible(m_compression, scope.Compression);
  form->setRowVisible(m_level, scope.Compression);
  form->setRowVisible(m_nullMarker, scope.NullMarker);
  // The kinds that compress are the ones writing files, so the ones that encrypt them.
  form->setRowVisible(m_encryption, scope.Compression);
  m_encryption->Load(task);

  const CAdvancedOptions options = AdvancedOptionsOf(task);
  m_routines->setChecked(options.IncludeRoutines);
  m_triggers->setChecked(options.IncludeTriggers);
  m_events->setChecked(options.IncludeEvents);
  m_snapshot->setChecked(options.ConsistentSnapshot);
  // With the task's own shape the size box offers what a new task starts with.
  m_statementKB->setValue(StatementKB(
      options.StatementBytes != 0 ? options.StatementBytes : CAdvancedOptions().StatementBytes));
  m_fillStatements->setChecked(options.StatementBytes != 0);
  m_statementKB->setEnabled(m_fillStatements->isChecked());
  m_transactionPerTable->setChecked(options.TransactionPerTable);
  m_threads->setValue(std::clamp(options.Threads, 1, kMaxThreads));
  m_compression->setCurrentIndex(m_compression->findData(static_cast<int>(options.Compression)));
  m_level->setValue(options.CompressionLevel);
  m_nullMarker->setChecked(options.NullMarker);

  auto* buttons = new QDialogButtonBox(this);
  connect(buttons->addButton(tr("O&K"), QDialogButtonBox::AcceptRole), &QPushButton::clicked, this,
          &QDialog::accept);
  connect(buttons->addButton(tr("&Cancel"), QDialogButtonBox::RejectRole), &QPushButton::clicked,
          this, &QDialog::reject);
  layout->addWidget(buttons);
}

void CAdvancedOptionsDialog::accept() {
  if (AdvancedScopeOf(m_task.TaskType).Compression && !m_encryption->Commit()) return;
  // Keeps what the dialog does not show.
  CAdvancedOptions options = FindAdvancedOptions(m_task).value_or(CAdvancedOptions());
  options.IncludeRoutines = m_routines->isChecked();
  options.IncludeTriggers = m_triggers->isChecked();
  options.IncludeEvents = m_events->isChecked();
  options.ConsistentSnapshot = m_snapshot->isChecked();
  if (!m_fillStatements->isChecked()) {
    options.StatementBytes = 0;
  } else if (options.StatementBytes == 0 ||
             StatementKB(options.StatementBytes) != m_statementKB->value()) {
    // An untouched size keeps its exact bytes.
    options.StatementBytes = static_cast<std::uint32_t>(m_statementKB->value()) * 1024;
  }
  options.TransactionPerTable = m_transactionPerTable->isChecked();
  options.Threads = m_threads->value();
  options.Compression = static_cast<Compression>(m_compression->currentData().toInt());
  const int highest = options.Compression == Compression::Zstd ? 19 : 9;
  options.CompressionLevel = std::min(m_level->value(), highest);
  options.NullMarker = m_nullMarker->isChecked();
  SetAdvancedOptions(m_task, options);
  if (AdvancedScopeOf(m_task.TaskType).Compression) m_encryption->Store(m_task);
  QDialog::accept();
}

AdvancedScope AdvancedScopeOf(int taskType) {
  const TaskKind* kind = KindOf(taskType);
  return kind ? kind->Advanced : AdvancedScope{};
}

QString AdvancedOptionsSummary(const CTaskItem& task) {
  const AdvancedScope scope = AdvancedScopeOf(task.TaskType);
  const std::optional<CAdvancedOptions> found = FindAdvancedOptions(task);
  if (!found) {
    if (scope.ThreadsAreFiles) {
      return QObject::tr("Advanced options: none (one file at a time, no per-table transactions)");
    }
    return scope.Objects
               ? QObject::tr("Advanced options: none (tables and views only, no snapshot)")
               : QObject::tr("Advanced options: none (no compression)");
  }
  const CAdvancedOptions& o = *found;
  auto yesNo = [](bool on) { return on ? QObject::tr("yes") : QObject::tr("no"); };
  QStringList lines;
  if (scope.Objects) {
    lines << QObject::tr("Stored procedures and functions: %1").arg(yesNo(o.IncludeRoutines))
          << QObject::tr("Triggers: %1").arg(yesNo(o.IncludeTriggers))
          << QObject::tr("Events: %1").arg(yesNo(o.IncludeEvents))
          << QObject::tr("Consistent snapshot: %1").arg(yesNo(o.ConsistentSnapshot));
  }
  if (scope.StatementSize) {
    lines << (o.StatementBytes == 0
                  ? QObject::tr("Statement size: the task's own statement shape")
                  : QObject::tr("Statement size: up to %1 KB").arg(StatementKB(o.StatementBytes)));
  }
  if (scope.TransactionPerTable) {
    lines << QObject::tr("One transaction per table: %1").arg(yesNo(o.TransactionPerTable));
  }
  if (scope.Threads) {
    QString threads = scope.ThreadsAreFiles ? QObject::tr("Files at a time: %1").arg(o.Threads)
                                            : QObject::tr("Tables at a time: %1").arg(o.Threads);
    // A dump into one file writes its tables one after another.
    if (SettingsOf(task.TaskType).BackupFiles && task.BackupSettings.FileGrouping == 1 &&
        o.Threads > 1) {
      threads += QObject::tr(" (not used: one file)");
    }
    lines << threads;
  }
  if (scope.Compression) {
    QString compression = QString::fromLatin1(CompressionName(o.Compression));
    if (o.Compression != Compression::None && o.CompressionLevel != 0) {
      compression += QObject::tr(", level %1").arg(o.CompressionLevel);
    }
    if (SettingsOf(task.TaskType).BackupFiles && task.BackupSettings.FileType == 2) {
      compression += QObject::tr(" (not used: PHP files stay plain)");
    }
    lines << QObject::tr("Compression: %1").arg(compression);
  }
  if (scope.NullMarker && o.NullMarker) lines << QObject::tr("NULL in CSV and TEXT: \\N");
  return lines.join(QLatin1Char('\n'));
}

}  // namespace brevanto::wizard
