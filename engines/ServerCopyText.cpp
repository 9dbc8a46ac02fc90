#include "engines/ServerCopyText.h"

#include "engines/MySqlConnection.h"
#include "tasks/BackupFileName.h"
#include "tasks/TaskKinds.h"

namespace brevanto {
namespace {

const CopyWording kBackupWording = {
    "There are not any databases to backup!",
    "Backing up the selected databases and tables...",
    "Backing up the database ",
    "Backing up the view ",
    "Backing up the table ",
    "Backup the view ",
    "Backup the records from the table OK - ",
    "Backing up the records of the table ",
};

const CopyWording kRestoreWording = {
    "There are not any databases to restore!",
    "Restoring the selected databases and tables...",
    "Restoring the database ",
    "Restoring the view ",
    "Restoring the table ",
    "Restore the view ",
    "Restore the records from the table OK - ",
    "Restoring the records of the table ",
};

void ReplaceAll(std::string& text, const std::string& token, const std::string& value) {
  std::size_t pos = 0;
  while ((pos = text.find(token, pos)) != std::string::npos) {
    text.replace(pos, token.size(), value);
    pos += value.size();
  }
}

// A name part of a database name: no dots or path separators, no blanks at the ends.
std::string NamePart(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '.' && c != '\\' && c != '/') out += c;
  }
  return TrimBlanks(out);
}

}  // namespace

const CopyWording& WordingFor(TaskType type) {
  const TaskKind* kind = FindTaskKind(type);
  return kind && kind->Group == KindGroup::Restore ? kRestoreWording : kBackupWording;
}

bool CopiesIntoNamedDatabase(TaskType type) {
  const TaskKind* kind = FindTaskKind(type);
  return kind && kind->Selection == DatabaseSelection::OneDatabase;
}

std::vector<std::string> CharsetStatements(const std::string& charset,
                                           unsigned long sourceVersion) {
  std::vector<std::string> statements = {
      "SET CHARACTER_SET_CLIENT='" + charset + "'",
      "SET CHARACTER_SET_RESULTS='" + charset + "'",
      "SET CHARACTER_SET_CONNECTION='" + charset + "'",
  };
  if (HasCharacterSets(sourceVersion)) statements.push_back("SET NAMES '" + charset + "'");
  return statements;
}

std::vector<std::string> DestinationPrologue(const BackupSettings& settings,
                                             const std::string& serverCharset,
                                             unsigned long sourceVersion) {
  std::vector<std::string> statements;
  if (settings.AddSetNames && !serverCharset.empty()) {
    statements = {
        "SET @OLD_CHARACTER_SET_CLIENT=@@CHARACTER_SET_CLIENT",
        "SET @OLD_CHARACTER_SET_RESULTS=@@CHARACTER_SET_RESULTS",
        "SET @OLD_CHARACTER_SET_CONNECTION=@@CHARACTER_SET_CONNECTION",
        "SET @OLD_COLLATION_CONNECTION=@@COLLATION_CONNECTION",
    };
    for (std::string& s : CharsetStatements(serverCharset, sourceVersion)) {
      statements.push_back(std::move(s));
    }
  }
  if (settings.AddSetUniqueChecks) {
    statements.push_back("SET @OLD_UNIQUE_CHECKS=@@UNIQUE_CHECKS");
    statements.push_back("SET UNIQUE_CHECKS=0");
  }
  if (settings.AddSetForeignKeyChecks) {
    statements.push_back("SET @OLD_FOREIGN_KEY_CHECKS=@@FOREIGN_KEY_CHECKS");
    statements.push_back("SET FOREIGN_KEY_CHECKS=0");
  }
  statements.push_back("SET @OLD_SQL_MODE=@@SQL_MODE");
  statements.push_back("SET SQL_MODE='NO_AUTO_VALUE_ON_ZERO'");
  if (settings.AddSetSqlNotes) {
    statements.push_back("SET @OLD_SQL_NOTES=@@SQL_NOTES");
    statements.push_back("SET SQL_NOTES=0");
  }
  return statements;
}

std::vector<std::string> DestinationEpilogue(const BackupSettings& settings,
                                             const std::string& serverCharset) {
  std::vector<std::string> statements = {"SET SQL_MODE=@OLD_SQL_MODE"};
  if (settings.AddSetForeignKeyChecks) {
    statements.push_back("SET FOREIGN_KEY_CHECKS=@OLD_FOREIGN_KEY_CHECKS");
  }
  if (settings.AddSetUniqueChecks) statements.push_back("SET UNIQUE_CHECKS=@OLD_UNIQUE_CHECKS");
  if (settings.AddSetSqlNotes) statements.push_back("SET SQL_NOTES=@OLD_SQL_NOTES");
  if (settings.AddSetNames && !serverCharset.empty()) {
    statements.push_back("SET CHARACTER_SET_CLIENT=@OLD_CHARACTER_SET_CLIENT");
    statements.push_back("SET CHARACTER_SET_RESULTS=@OLD_CHARACTER_SET_RESULTS");
    statements.push_back("SET CHARACTER_SET_CONNECTION=@OLD_CHARACTER_SET_CONNECTION");
    statements.push_back("SET COLLATION_CONNECTION=@OLD_COLLATION_CONNECTION");
  }
  return statements;
}

std::string CreateDatabaseStatement(const std::string& name, bool quote, const std::string& charset,
                                    bool charsetClause, const std::string& collation) {
  std::string statement = "CREATE DATABASE IF NOT EXISTS " + QuoteName(name, quote);
  if (!charsetClause || charset.empty()) return statement;
  statement += " DEFAULT CHARACTER SET " + charset;
  if (!collation.empty()) statement += " COLLATE " + collation;
  return statement;
}

std::string ExpandDestinationDatabaseName(const std::string& pattern, const std::string& taskName,
                                          const std::string& sourceHost,
                                          const std::string& database,
                                          const TaskDateTime& runStart) {
  std::string name = pattern;
  ReplaceAll(name, "%TASKNAME%", NamePart(taskName));
  ReplaceAll(name, "%HOST%", NamePart(sourceHost));
  ReplaceAll(name, "%DATABASE%", database);
  ReplaceAll(name, "%DATE%", FormatRunDate(runStart));
  ReplaceAll(name, "%TIME%", FormatRunTime(runStart));
  return name;
}

}  // namespace brevanto
