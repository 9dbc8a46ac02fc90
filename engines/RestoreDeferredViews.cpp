#include <algorithm>
#include <utility>

#include "engines/LoadTransaction.h"
#include "engines/RestoreFilesWorker.h"
#include "engines/RestoreRun.h"
#include "engines/ScriptWorker.h"

namespace brevanto {
namespace {

constexpr unsigned int kTableExists = 1050;  // ER_TABLE_EXISTS_ERROR

bool IsWordByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$';
}

// Only names and mode lists the server itself gave, so they can be put in quotes as
// they are.
bool IsPlainSetting(const std::string& value) {
  return std::all_of(value.begin(), value.end(), [](char c) { return IsWordByte(c) || c == ','; });
}

}  // namespace

bool CRestoreRun::Defer(RestoreLane& lane, const std::string& statement, const MySqlError& error) {
  if (!lane.connection.Execute("SELECT DATABASE(), @@sql_mode, @@character_set_client, "
                               "@@collation_connection")) {
    return false;
  }
  MySqlResult result(mysql_store_result(lane.connection.Handle()));
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr) return false;
  DeferredView view;
  view.Statement = statement;
  view.Name = CreatedViewName(statement);
  view.HasDatabase = row[0] != nullptr;
  view.Database = row[0] != nullptr ? row[0] : "";
  view.SqlMode = row[1] != nullptr ? row[1] : "";
  view.CharacterSetClient = row[2] != nullptr ? row[2] : "";
  view.CollationConnection = row[3] != nullptr ? row[3] : "";
  view.Error = error;
  lane.deferred.push_back(std::move(view));
  return true;
}

bool CRestoreRun::RestoreSessionOf(RestoreLane& lane, const DeferredView& view) {
  if (view.HasDatabase && !lane.connection.Execute("USE " + QuoteName(view.Database, true))) {
    return false;
  }
  if (!IsPlainSetting(view.SqlMode) || !IsPlainSetting(view.CharacterSetClient) ||
      !IsPlainSetting(view.CollationConnection)) {
    return true;
  }
  return lane.connection.Execute("SET SESSION sql_mode = '" + view.SqlMode +
                                 "', character_set_client = '" + view.CharacterSetClient +
                                 "', collation_connection = '" + view.CollationConnection + "'");
}

RestoreStep CRestoreRun::RetryDeferredViews(RestoreLane& lane) {
  // Views may read views that were deferred too: retry until a round creates none.
  bool created = true;
  while (!lane.deferred.empty() && created) {
    created = false;
    std::vector<DeferredView> waiting;
    for (DeferredView& view : lane.deferred) {
      MySqlError error;
      bool ran = RestoreSessionOf(lane, view) &&
                 ExecuteScriptStatement(lane.connection, view.Statement, error);
      // A file restored after the view's own one (out of name order, or on another lane)
      // may have put its placeholder table back since the view's file dropped it.
      if (!ran && error.Number == kTableExists && !view.Name.empty() &&
          lane.connection.Execute("DROP TABLE IF EXISTS " + view.Name)) {
        error = {};
        ran = ExecuteScriptStatement(lane.connection, view.Statement, error);
      }
      if (ran) {
        created = true;
      } else {
        if (error.Number == 0) error = lane.connection.LastError();
        if (IsLostConnection(error.Number)) return StatementFailed(view.Statement, error);
        view.Error = error;
        waiting.push_back(std::move(view));
      }
      if (m_context.StopRequested()) return RestoreStep::Cancel;
    }
    lane.deferred.swap(waiting);
  }
  for (const DeferredView& view : lane.deferred) {
    if (StatementFailed(view.Statement, view.Error) == RestoreStep::Stop) return RestoreStep::Stop;
  }
  return RestoreStep::Continue;
}

namespace {

// Where the name of the view starts in a CREATE VIEW statement; npos for other statements.
std::size_t CreatedViewNameStart(const std::string& statement) {
  const std::size_t size = statement.size();
  bool first = true;
  int words = 0;
  std::size_t i = 0;
  while (i < size && words < 24) {
    const char c = statement[i];
    if (c == '/' && i + 1 < size && statement[i + 1] == '*') {
      // Conditional markers are read through; other comments are skipped.
      i += 2;
      if (i < size && statement[i] == 'M') ++i;
      if (i < size && statement[i] == '!') {
        ++i;
        while (i < size && statement[i] >= '0' && statement[i] <= '9') ++i;
      } else {
        const std::size_t close = statement.find("*/", i);
        i = close == std::string::npos ? size : close + 2;
      }
      continue;
    }
    if (c == '\'' || c == '"' || c == '`') {
      const std::size_t close = statement.find(c, i + 1);
      i = close == std::string::npos ? size : close + 1;
      ++words;
      continue;
    }
    if (!IsWordByte(c)) {
      ++i;
      continue;
    }
    std::string word;
    while (i < size && IsWordByte(statement[i])) {
      char w = statement[i++];
      if (w >= 'a' && w <= 'z') w = static_cast<char>(w - 'a' + 'A');
      word.push_back(w);
    }
    ++words;
    if (first) {
      if (word != "CREATE") return std::string::npos;
      first = false;
    } else if (word == "VIEW") {
      return i;
    } else if (word == "AS" || word == "SELECT" || word == "TABLE" || word == "PROCEDURE" ||
               word == "FUNCTION" || word == "TRIGGER" || word == "EVENT" || word == "INDEX" ||
               word == "DATABASE" || word == "SCHEMA") {
      return std::string::npos;
    }
  }
  return std::string::npos;
}

}  // namespace

bool IsCreateViewStatement(const std::string& statement) {
  return CreatedViewNameStart(statement) != std::string::npos;
}

std::string CreatedViewName(const std::string& statement) {
  std::size_t at = CreatedViewNameStart(statement);
  if (at == std::string::npos) return {};
  const auto skipBlanks = [&] {
    while (at < statement.size() && !IsWordByte(statement[at]) && statement[at] != '`') ++at;
  };
  skipBlanks();
  if (statement.compare(at, 3, "IF ") == 0 || statement.compare(at, 3, "if ") == 0) {
    for (int word = 0; word < 3; ++word) {  // IF NOT EXISTS
      while (at < statement.size() && IsWordByte(statement[at])) ++at;
      skipBlanks();
    }
  }
  return NameAt(statement, at);
}

}  // namespace brevanto
