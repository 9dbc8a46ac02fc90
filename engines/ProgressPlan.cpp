#include "engines/ProgressPlan.h"

#include <cstdlib>
#include <set>

#include <sys/stat.h>

#include "engines/MySqlConnection.h"
#include "engines/MySqlHandles.h"
#include "schedule/ProgressTracker.h"

namespace brevanto {

namespace {

std::string QuoteString(MYSQL* handle, const std::string& text) {
  std::string escaped(text.size() * 2 + 1, '\0');
  const unsigned long length =
      mysql_real_escape_string(handle, escaped.data(), text.data(), text.size());
  escaped.resize(length);
  return "'" + escaped + "'";
}

}  // namespace

void CTableRowEstimates::Read(CMySQLConnection& connection,
                              const std::vector<std::string>& databases) {
  m_rows.clear();
  if (databases.empty() || connection.ServerVersion() < 50000) return;
  std::string query =
      "SELECT TABLE_SCHEMA, TABLE_NAME, TABLE_ROWS FROM information_schema.TABLES WHERE "
      "TABLE_SCHEMA IN (";
  for (std::size_t i = 0; i < databases.size(); ++i) {
    query += (i == 0 ? "" : ",") + QuoteString(connection.Handle(), databases[i]);
  }
  query += ")";
  if (!connection.Execute(query)) return;
  MySqlResult result(mysql_store_result(connection.Handle()));
  if (!result || mysql_num_fields(result.get()) < 3) return;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    if (row[0] == nullptr || row[1] == nullptr || row[2] == nullptr) continue;
    m_rows[{row[0], row[1]}] = std::strtoll(row[2], nullptr, 10);
  }
}

std::int64_t CTableRowEstimates::RowsOf(const std::string& database,
                                        const std::string& table) const {
  auto it = m_rows.find({database, table});
  return it == m_rows.end() ? 0 : it->second;
}

CTableRowEstimates PlanTableProgress(TaskRunContext& context, CMySQLConnection& connection,
                                     const std::vector<DatabaseItem>& databases) {
  std::vector<TableItem> tables;
  for (const DatabaseItem& database : databases) {
    if (database.Selected == 0) continue;
    for (TableItem table : database.Tables) {
      table.DatabaseName = database.DatabaseName;
      tables.push_back(std::move(table));
    }
  }
  return PlanTableProgress(context, connection, tables);
}

CTableRowEstimates PlanTableProgress(TaskRunContext& context, CMySQLConnection& connection,
                                     const std::vector<TableItem>& tables) {
  std::set<std::string> names;
  for (const TableItem& table : tables) {
    if (table.Selected != 0) names.insert(table.DatabaseName);
  }
  CTableRowEstimates estimates;
  estimates.Read(connection, std::vector<std::string>(names.begin(), names.end()));
  std::int64_t total = 0;
  for (const TableItem& table : tables) {
    if (table.Selected == 0) continue;
    total += CProgressTracker::ShareOf(estimates.RowsOf(table.DatabaseName, table.TableName));
  }
  context.ProgressPlan(total);
  return estimates;
}

std::int64_t FileSizeOf(const RestoreFileItem& file) {
  struct stat info {};
  if (::stat(file.FullPath.c_str(), &info) == 0) return static_cast<std::int64_t>(info.st_size);
  return file.FileSize;
}

void PlanFileProgress(TaskRunContext& context, const std::vector<RestoreFileItem>& files) {
  std::int64_t total = 0;
  for (const RestoreFileItem& file : files) {
    if (file.IconIndex == 0) total += CProgressTracker::ShareOf(FileSizeOf(file));
  }
  context.ProgressPlan(total);
}

void StartTableProgress(TaskRunContext& context, const CTableRowEstimates& estimates,
                        const std::string& database, const std::string& table) {
  context.ProgressItem(database + "." + table, estimates.RowsOf(database, table));
}

}  // namespace brevanto
