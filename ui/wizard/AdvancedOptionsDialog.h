#pragma once
// "Advanced Options...": a task's options beyond the classic ones (triggers, routines and
// events, one consistent snapshot, statement size, transactions, tables or files at a time,
// compression, the NULL marker of exports, the keys files are encrypted to). Edits the task's
// "Advanced" section, keeping the keys it does not show; a task that had none gets one only on OK.

#include <QDialog>

#include "tasks/TaskKinds.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace brevanto {
class Clock;
struct CTaskItem;
}

namespace brevanto::wizard {

class CEncryptionBox;

class CAdvancedOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows the task's options (the classic behaviour when it has none); accept() stores
  // them into `task`, which must outlive the dialog. `clock` dates a generated key
  // (the system clock when null).
  CAdvancedOptionsDialog(QWidget* parent, CTaskItem& task, Clock* clock = nullptr);
  void accept() override;

 private:
  CTaskItem& m_task;
  QCheckBox* m_routines;
  QCheckBox* m_triggers;
  QCheckBox* m_events;
  QCheckBox* m_snapshot;
  QCheckBox* m_fillStatements;
  QSpinBox* m_statementKB;
  QCheckBox* m_transactionPerTable;
  QSpinBox* m_threads;
  QComboBox* m_compression;
  QSpinBox* m_level;
  QCheckBox* m_nullMarker;
  CEncryptionBox* m_encryption;
};

// Which of the dialog's groups a task type uses: its kind's scope, none for a type with
// no kind.
AdvancedScope AdvancedScopeOf(int taskType);

// One line per option for the properties sheet, e.g. "Compression: zstd"; the classic
// behaviour's line when the task has no advanced options.
QString AdvancedOptionsSummary(const CTaskItem& task);

}  // namespace brevanto::wizard
