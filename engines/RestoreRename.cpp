#include <memory>

#include "engines/RestoreRun.h"
#include "engines/ScriptWorker.h"
#include "engines/SqlInput.h"
#include "engines/StatementSplitter.h"

namespace brevanto {
namespace {

// Longer statements hold rows, never a database's name: the scan skips them unread.
constexpr std::size_t kLongestDatabaseStatement = 64 * 1024;

}  // namespace

bool CRestoreRun::PrepareRename() {
  // Every file is read before anything runs, so that files holding two databases change
  // nothing. A file that cannot be read is left to the restore, which reports it.
  std::string source;
  for (const RestoreFileItem& file : m_request.Files) {
    if (file.IconIndex != 0) continue;
    std::unique_ptr<CSqlInput> input;
    if (!OpenInput(file.FullPath, input).ok()) continue;
    CStatementSplitter splitter(*input, kLongestDatabaseStatement);
    SqlStatement statement;
    bool named = false;
    for (SplitResult result = splitter.Next(statement);
         result == SplitResult::Statement || result == SplitResult::TooLong;
         result = splitter.Next(statement)) {
      if (result != SplitResult::Statement) continue;
      const std::optional<std::string> database = DatabaseStatementName(statement.Text);
      if (!database) continue;
      named = true;
      if (source.empty()) source = *database;
      // An off-site copy's manifest knows its databases: one named is all there is to find,
      // and the rest of the file is not downloaded for it.
      if (m_request.Offsite && m_request.Offsite->Databases.size() == 1) break;
      if (*database != source) {
        m_context.Log(LogLevel::Error, SeveralDatabasesText(file.FullPath, source, *database,
                                                            m_request.TargetDatabase));
        return false;
      }
    }
    if (!named) m_filesWithoutDatabase.insert(file.FullPath);
  }
  m_rename.emplace(source, m_request.TargetDatabase);
  m_context.Log(LogLevel::General,
                "Restoring the database " +
                    (source.empty() ? std::string("of the files") : QuoteName(source, true)) +
                    " under the name " + QuoteName(m_request.TargetDatabase, true));
  return true;
}

RestoreStep CRestoreRun::EnterTarget(RestoreLane& lane) {
  const std::string name = QuoteName(m_request.TargetDatabase, true);
  for (const std::string& statement : {"CREATE DATABASE IF NOT EXISTS " + name, "USE " + name}) {
    const RestoreStep next = Execute(lane, statement);
    if (next != RestoreStep::Continue) return next;
  }
  return RestoreStep::Continue;
}

bool CRestoreRun::Renamed(std::string& statement, RestoreLane& lane, RestoreStep& next) {
  if (!m_rename) return true;
  const Status renamed = m_rename->Apply(statement, !NoBackslashEscapes(lane.connection));
  if (renamed.ok()) return true;
  m_context.Log(LogLevel::Error, renamed.message() + ": " + LoggedStatement(statement));
  next = m_options.ContinueOnSqlError ? RestoreStep::Continue : RestoreStep::Stop;
  return false;
}

}  // namespace brevanto
