#include "tasks/TaskKinds.h"

namespace brevanto {

namespace {

using Step = WizardStep;

constexpr AdvancedScope kDumpScope{
    .Objects = true, .Compression = true, .StatementSize = true, .Threads = true};
constexpr AdvancedScope kCopyScope{
    .Objects = true, .StatementSize = true, .TransactionPerTable = true, .Threads = true};
constexpr AdvancedScope kExportScope{.Compression = true, .NullMarker = true};
constexpr AdvancedScope kRestoreFilesScope{
    .TransactionPerTable = true, .Threads = true, .ThreadsAreFiles = true};

constexpr KindSettings kBackupSettings{.BackupSettings = true};

std::vector<TaskKind> MakeKinds() {
  return {
      {.Type = TaskType::BackupToFiles,
       .Name = "Backup to files",
       .ListText = "Backup to SQL/PHP files",
       .Description = "Backup MySQL databases to SQL/PHP files",
       .ChooserText = "Backup MySQL databases to SQL/PHP files",
       .ChooserExplanation =
           "Backup one/multiple MySQL database(s) on a remote/local server to the local SQL/PHP "
           "file(s) via TCP/IP protocol (Use SAME database names)",
       .Group = KindGroup::Backup,
       .UsesSourceServer = true,
       .UsesDestinationServer = false,
       .Settings = {.BackupSettings = true, .BackupFiles = true},
       .Selection = DatabaseSelection::Databases,
       .KeepsCopies = true,
       .Progress = ProgressUnit::Rows,
       .Advanced = kDumpScope,
       .Routine = KindRoutine::BackupToFiles,
       .Steps = {Step::SourceServer, Step::ChooseDatabases, Step::BackupFile, Step::Offsite}},
      {.Type = TaskType::BackupToServer,
       .Name = "Backup to server",
       .ListText = "Backup to another server",
       .Description = "Backup MySQL databases to another server",
       .ChooserText = "Backup MySQL databases to another server",
       .ChooserExplanation =
           "Backup one/multiple MySQL database(s) on a remote/local server to another remote/local "
           "server via TCP/IP protocol (Use SAME database names)",
       .Group = KindGroup::Backup,
       .UsesSourceServer = true,
       .UsesDestinationServer = true,
       .Settings = kBackupSettings,
       .Selection = DatabaseSelection::Databases,
       .KeepsCopies = false,
       .Progress = ProgressUnit::Rows,
       .Advanced = kCopyScope,
       .Routine = KindRoutine::ServerCopy,
       .Steps = {Step::SourceServer, Step::ChooseDatabases, Step::DestinationServer}},
      {.Type = TaskType::BackupToDatabase,
       .Name = "Backup to database",
       .ListText = "Backup to another database",
       .Description = "Backup a MySQL database to another database",
       .ChooserText = "Backup a MySQL database to another database",
       .ChooserExplanation =
           "Backup one MySQL database on a remote/local server to another database on the "
           "different/same server via TCP/IP protocol (Choose ANY database name)",
       .Group = KindGroup::Backup,
       .UsesSourceServer = true,
       .UsesDestinationServer = true,
       .Settings = kBackupSettings,
       .Selection = DatabaseSelection::OneDatabase,
       .KeepsCopies = false,
       .Progress = ProgressUnit::Rows,
       .Advanced = kCopyScope,
       .Routine = KindRoutine::ServerCopy,
       .Steps = {Step::SourceDatabase, Step::SelectTables, Step::DestinationDatabase}},
      {.Type = TaskType::ExportToFiles,
       .Name = "Export to files",
       .ListText = "Export to CSV/XML/HTML/TEXT files",
       .Description = "Export MySQL tables and views to CSV/XML/HTML/TEXT files",
       .ChooserText = "Export MySQL tables and views to CSV/XML/HTML/TEXT files (TCP/IP protocol)",
       .ChooserExplanation = nullptr,
       .Group = KindGroup::Accessories,
       .UsesSourceServer = true,
       .UsesDestinationServer = false,
       .Settings = {.ExportSettings = true},
       .Selection = DatabaseSelection::None,
       .KeepsCopies = false,
       .Progress = ProgressUnit::Rows,
       .Advanced = kExportScope,
       .Routine = KindRoutine::Export,
       .Steps = {Step::SourceServer, Step::ChooseTables, Step::ExportFile}},
      {.Type = TaskType::ExecuteScript,
       .Name = "Execute script",
       .ListText = "Execute SQL script",
       .Description = "Execute MySQL script",
       .ChooserText = "Execute MySQL script (TCP/IP protocol)",
       .ChooserExplanation = nullptr,
       .Group = KindGroup::Accessories,
       .UsesSourceServer = true,
       .UsesDestinationServer = false,
       .Settings = {.ScriptStatements = true},
       .Selection = DatabaseSelection::None,
       .KeepsCopies = false,
       .Progress = ProgressUnit::Statements,
       .Advanced = AdvancedScope{},
       .Routine = KindRoutine::Script,
       .Steps = {Step::SourceServer, Step::Script}},
      {.Type = TaskType::RestoreFromFiles,
       .Name = "Restore from files",
       .ListText = "Restore by SQL files",
       .Description = "Restore MySQL databases by SQL files",
       .ChooserText = "Restore MySQL databases by SQL files (TCP/IP, Use SAME database names)",
       .ChooserExplanation = nullptr,
       .Group = KindGroup::Restore,
       .UsesSourceServer = false,
       .UsesDestinationServer = true,
       .Settings = {.RestoreFiles = true},
       .Selection = DatabaseSelection::None,
       .KeepsCopies = false,
       .Progress = ProgressUnit::BytesRead,
       .Advanced = kRestoreFilesScope,
       .Routine = KindRoutine::RestoreFiles,
       .Steps = {Step::RestoreFiles, Step::DestinationServer}},
      {.Type = TaskType::RestoreFromServer,
       .Name = "Restore from server",
       .ListText = "Restore by another server",
       .Description = "Restore MySQL databases by another server",
       .ChooserText = "Restore MySQL databases by another server (TCP/IP, Use SAME database names)",
       .ChooserExplanation = nullptr,
       .Group = KindGroup::Restore,
       .UsesSourceServer = true,
       .UsesDestinationServer = true,
       .Settings = kBackupSettings,
       .Selection = DatabaseSelection::Databases,
       .KeepsCopies = false,
       .Progress = ProgressUnit::Rows,
       .Advanced = kCopyScope,
       .Routine = KindRoutine::ServerCopy,
       .Steps = {Step::SourceServer, Step::ChooseDatabases, Step::DestinationServer}},
      {.Type = TaskType::RestoreFromDatabase,
       .Name = "Restore from database",
       .ListText = "Restore by another database",
       .Description = "Restore a MySQL database by another database",
       .ChooserText =
           "Restore a MySQL database by another database (TCP/IP, Choose ANY database name)",
       .ChooserExplanation = nullptr,
       .Group = KindGroup::Restore,
       .UsesSourceServer = true,
       .UsesDestinationServer = true,
       .Settings = kBackupSettings,
       .Selection = DatabaseSelection::OneDatabase,
       .KeepsCopies = false,
       .Progress = ProgressUnit::Rows,
       .Advanced = kCopyScope,
       .Routine = KindRoutine::ServerCopy,
       .Steps = {Step::SourceDatabase, Step::SelectTables, Step::DestinationDatabase}},
  };
}

}  // namespace

const std::vector<TaskKind>& TaskKinds() {
  static const std::vector<TaskKind> kinds = MakeKinds();
  return kinds;
}

const TaskKind* FindTaskKind(std::uint8_t type) {
  for (const TaskKind& kind : TaskKinds()) {
    if (static_cast<std::uint8_t>(kind.Type) == type) return &kind;
  }
  return nullptr;
}

}  // namespace brevanto
