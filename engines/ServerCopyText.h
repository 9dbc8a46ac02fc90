#pragma once
// The texts of a server-to-server copy that do not need a server: the log wordings of
// the four copy task types, the destination session's prologue and epilogue and the
// destination database name template. Pure functions.

#include <string>
#include <vector>

#include "core/DateTime.h"
#include "tasks/TaskItem.h"

namespace brevanto {

// The log texts that differ between the Backup and the Restore wording.
struct CopyWording {
  const char* NothingToCopy;     // "There are not any databases to backup!"
  const char* CopyingSelection;  // "Backing up the selected databases and tables..."
  const char* CopyingDatabase;   // "Backing up the database "
  const char* CopyingView;       // "Backing up the view "
  const char* CopyingTable;      // "Backing up the table "
  const char* ViewDone;          // "Backup the view "
  const char* RecordsDone;       // "Backup the records from the table OK - "
  const char* CopyingRecords;    // "Backing up the records of the table "
};

// Restore wording for RestoreFromServer and RestoreFromDatabase, Backup otherwise.
const CopyWording& WordingFor(TaskType type);

// True for BackupToDatabase and RestoreFromDatabase: one destination database named by
// the task instead of the source database's own name.
bool CopiesIntoNamedDatabase(TaskType type);

// The character-set statements for `charset` as the source server's version allows them
// (SET NAMES only from 4.1 on).
std::vector<std::string> CharsetStatements(const std::string& charset, unsigned long sourceVersion);

// The destination session's set-up, in order. `serverCharset` empty: no character set
// statements.
std::vector<std::string> DestinationPrologue(const BackupSettings& settings,
                                             const std::string& serverCharset,
                                             unsigned long sourceVersion);

// The statements that restore the destination session's saved values.
std::vector<std::string> DestinationEpilogue(const BackupSettings& settings,
                                             const std::string& serverCharset);

// "CREATE DATABASE IF NOT EXISTS ..." with the character-set clause when allowed, and
// the collation when known.
std::string CreateDatabaseStatement(const std::string& name, bool quote, const std::string& charset,
                                    bool charsetClause, const std::string& collation = {});

// Expands %TASKNAME%, %HOST%, %DATABASE%, %DATE% and %TIME% in `pattern`. `runStart`
// is the run's start, so every database of one run gets the same date and time.
std::string ExpandDestinationDatabaseName(const std::string& pattern, const std::string& taskName,
                                          const std::string& sourceHost,
                                          const std::string& database,
                                          const TaskDateTime& runStart);

}  // namespace brevanto
