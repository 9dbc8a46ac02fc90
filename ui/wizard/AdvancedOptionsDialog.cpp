#include "ui/wizard/AdvancedOptionsDialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "tasks/AdvancedOptions.h"
#include "tasks/TaskItem.h"

namespace brevanto::wizard {

CAdvancedOptionsDialog::CAdvancedOptionsDialog(QWidget* parent, CTaskItem& task)
    : QDialog(parent),
      m_task(task),
      m_routines(new QCheckBox(tr("Stored procedures and functions"), this)),
      m_triggers(new QCheckBox(tr("Triggers"), this)),
      m_events(new QCheckBox(tr("Events"), this)),
      m_snapshot(new QCheckBox(tr("Read all tables in one consistent snapshot"), this)),
      m_compression(new QComboBox(this)),
      m_level(new QSpinBox(this)) {
  setObjectName(QStringLiteral("advancedOptionsDialog"));
  setWindowTitle(tr("Advanced Options"));
  m_routines->setObjectName(QStringLiteral("includeRoutinesCheck"));
  m_triggers->setObjectName(QStringLiteral("includeTriggersCheck"));
  m_events->setObjectName(QStringLiteral("includeEventsCheck"));
  m_snapshot->setObjectName(QStringLiteral("consistentSnapshotCheck"));
  m_compression->setObjectName(QStringLiteral("compressionCombo"));
  m_level->setObjectName(QStringLiteral("compressionLevelSpin"));

  m_compression->addItem(tr("None"), static_cast<int>(Compression::None));
  m_compression->addItem(tr("gzip (.gz)"), static_cast<int>(Compression::Gzip));
  m_compression->addItem(tr("zstd (.zst)"), static_cast<int>(Compression::Zstd));
  m_level->setRange(0, 19);
  m_level->setSpecialValueText(tr("default"));

  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->addRow(tr("Include:"), m_routines);
  form->addRow(QString(), m_triggers);
  form->addRow(QString(), m_events);
  form->addRow(QString(), m_snapshot);
  form->addRow(tr("Compression:"), m_compression);
  form->addRow(tr("Compression level:"), m_level);
  layout->addLayout(form);
  // Only what the task's type uses is shown; the rest keeps its stored value.
  const AdvancedScope scope = AdvancedScopeOf(task.TaskType);
  for (QWidget* row : {static_cast<QWidget*>(m_routines), static_cast<QWidget*>(m_triggers),
                       static_cast<QWidget*>(m_events), static_cast<QWidget*>(m_snapshot)}) {
    form->setRowVisible(row, scope.Objects);
  }
  form->setRowVisible(m_compression, scope.Compression);
  form->setRowVisible(m_level, scope.Compression);

  const CAdvancedOptions options = AdvancedOptionsOf(task);
  m_routines->setChecked(options.IncludeRoutines);
  m_triggers->setChecked(options.IncludeTriggers);
  m_events->setChecked(options.IncludeEvents);
  m_snapshot->setChecked(options.ConsistentSnapshot);
  m_compression->setCurrentIndex(m_compression->findData(static_cast<int>(options.Compression)));
  m_level->setValue(options.CompressionLevel);

  auto* buttons = new QDialogButtonBox(this);
  connect(buttons->addButton(tr("O&K"), QDialogButtonBox::AcceptRole), &QPushButton::clicked, this,
          &QDialog::accept);
  connect(buttons->addButton(tr("&Cancel"), QDialogButtonBox::RejectRole), &QPushButton::clicked,
          this, &QDialog::reject);
  layout->addWidget(buttons);
}

void CAdvancedOptionsDialog::accept() {
  // Keeps what the dialog does not show.
  CAdvancedOptions options = FindAdvancedOptions(m_task).value_or(CAdvancedOptions());
  options.IncludeRoutines = m_routines->isChecked();
  options.IncludeTriggers = m_triggers->isChecked();
  options.IncludeEvents = m_events->isChecked();
  options.ConsistentSnapshot = m_snapshot->isChecked();
  options.Compression = static_cast<Compression>(m_compression->currentData().toInt());
  const int highest = options.Compression == Compression::Zstd ? 19 : 9;
  options.CompressionLevel = std::min(m_level->value(), highest);
  SetAdvancedOptions(m_task, options);
  QDialog::accept();
}

AdvancedScope AdvancedScopeOf(int taskType) {
  switch (taskType) {
    case 1: return {true, true};
    case 2:
    case 3:
    case 7:
    case 8: return {true, false};
    case 4: return {false, true};
    default: return {false, false};
  }
}

QString AdvancedOptionsSummary(const CTaskItem& task) {
  const AdvancedScope scope = AdvancedScopeOf(task.TaskType);
  const std::optional<CAdvancedOptions> found = FindAdvancedOptions(task);
  if (!found) {
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
  if (scope.Compression) {
    QString compression = QString::fromLatin1(CompressionName(o.Compression));
    if (o.Compression != Compression::None && o.CompressionLevel != 0) {
      compression += QObject::tr(", level %1").arg(o.CompressionLevel);
    }
    if (task.TaskType == 1 && task.BackupSettings.FileType == 2) {
      compression += QObject::tr(" (not used: PHP files stay plain)");
    }
    lines << QObject::tr("Compression: %1").arg(compression);
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace brevanto::wizard
