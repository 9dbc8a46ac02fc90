#include <string>

#include "engines/ServerCopyRun.h"
#include "engines/TableDefinition.h"

namespace brevanto {
namespace {

// "LIKE" pattern text that matches exactly `name`: quotes escaped, wildcards literal.
std::string LikeLiteral(MYSQL* handle, const std::string& name) {
  std::string escaped(name.size() * 2 + 1, '\0');
  escaped.resize(mysql_real_escape_string(handle, escaped.data(), name.data(), name.size()));
  std::string out;
  for (char c : escaped) {
    if (c == '%' || c == '_') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

CopyStep CServerCopyRun::CopyTable(CopyLane& lane, const TableItem& item, std::size_t order) {
  std::uint8_t kind = 0;
  const CopyStep next = PrepareTable(lane, item, order, true, kind);
  if (next != CopyStep::Continue) return next;
  if (Canceled()) return CopyStep::Stop;
  return CopyRows(lane, item, kind);
}

CopyStep CServerCopyRun::PrepareTable(CopyLane& lane, const TableItem& item, std::size_t order,
                                      bool lockSource, std::uint8_t& kind) {
  const std::string& table = item.TableName;
  Info(lane, (item.Kind == 2 ? m_wording.CopyingView : m_wording.CopyingTable) + item.DatabaseName +
                 "." + table + "...");
  if (Canceled()) return CopyStep::Stop;
  // First: every statement below names the table in the session's character set.
  AlignTableCharset(lane, item.DatabaseName, table);
  if (lockSource) {
    const CopyStep next = FlushAndLockSource(lane, QuoteName(table, m_quote));
    if (next != CopyStep::Continue) return next;
  }
  kind = m_settings.IncludeStructure ? ClassifyTable(lane.source, table, m_quote) : item.Kind;
  if (Canceled()) return CopyStep::Stop;

  std::string engine;
  CopyStep next = ReadEngine(lane, table, engine);
  if (next != CopyStep::Continue) return next;
  if (Canceled()) return CopyStep::Stop;

  MySqlResult fields(mysql_list_fields(lane.source.Handle(), table.c_str(), nullptr));
  if (!fields) {
    Error(lane, "No result of list table fields: " + table);
    return CopyStep::Skip;
  }
  if (Canceled()) return CopyStep::Stop;

  if (m_settings.IncludeStructure) {
    next = CopyStructure(lane, item, order, kind, engine, fields.get());
    if (next != CopyStep::Continue) return next;
  } else {
    Info(lane, "Structure option is unchecked.");
  }
  return CopyStep::Continue;
}

CopyStep CServerCopyRun::FlushAndLockSource(CopyLane& lane, const std::string& quoted) {
  // FLUSH and LOCK TABLES would end the snapshot's transaction.
  if (m_settings.FlushTablesBeforeStart && !m_advanced.ConsistentSnapshot) {
    (void)lane.source.Execute("FLUSH TABLE " + quoted);
    if (Canceled()) return CopyStep::Stop;
  }
  if (m_settings.LockTablesBeforeStart && !m_advanced.ConsistentSnapshot) {
    // Replaces the previous table's lock; released after the rows or by the next LOCK.
    (void)lane.source.Execute("LOCK TABLES " + quoted + " READ LOCAL");
    if (Canceled()) return CopyStep::Stop;
  }
  return CopyStep::Continue;
}

void CServerCopyRun::AlignTableCharset(CopyLane& lane, const std::string& database,
                                       const std::string& table) {
  const std::string& base =
      lane.databaseCharset.empty() ? lane.sourceCharset : lane.databaseCharset;
  const std::string wanted = TableReadCharset(lane.source, database, table, base);
  if (wanted != lane.sourceCharset) {
    SetConnectionCharacterSet(lane.source, wanted, m_sourceVersion);
    lane.sourceCharset = wanted;
  }
  FollowSourceCharset(lane);
}

CopyStep CServerCopyRun::ReadEngine(CopyLane& lane, const std::string& table, std::string& engine) {
  engine = "MyISAM";
  if (!lane.source.Execute("SHOW TABLE STATUS LIKE '" + LikeLiteral(lane.source.Handle(), table) +
                           "'")) {
    Error(lane, "Failed to show table status: " + table);
    return CopyStep::Skip;
  }
  MySqlResult status(mysql_store_result(lane.source.Handle()));
  if (!status) {
    Error(lane, "No result of show table status: " + table);
    return CopyStep::Skip;
  }
  MYSQL_ROW row = mysql_fetch_row(status.get());
  if (row != nullptr && mysql_num_fields(status.get()) > 1 && row[1] != nullptr) engine = row[1];
  return CopyStep::Continue;
}

CopyStep CServerCopyRun::CopyStructure(CopyLane& lane, const TableItem& item, std::size_t order,
                                       std::uint8_t kind, const std::string& engine,
                                       MYSQL_RES* fields) {
  const std::string& table = item.TableName;
  const std::string quoted = QuoteName(table, m_quote);
  if (m_settings.AddDropTable) {
    if (kind == 2) (void)lane.destination.Execute("DROP VIEW IF EXISTS " + quoted);
    if (!lane.destination.Execute("DROP TABLE IF EXISTS " + quoted)) {
      Error(lane, "Failed to drop table " + table + "!");
      return CopyStep::Skip;
    }
  }
  if (kind == 2) return CopyViewPlaceholder(lane, item, order);

  std::string definition;
  if (!GetTableDefinition(lane.source, table, engine, mysql_fetch_fields(fields),
                          mysql_num_fields(fields), m_quote, m_showCreate, definition) ||
      definition.empty()) {
    Error(lane, "Failed to get create table! - " + table);
    return CopyStep::Skip;
  }
  if (!lane.destination.Execute(definition)) {
    Error(lane, CopiesIntoNamedDatabase(m_task.GetType())
                    ? "Failed to CREATE TABLE " + table + " on the destination server!"
                    : "Failed to CREATE TABLE " + item.DatabaseName + "." + table +
                          " on the destination server!");
    return CopyStep::Skip;
  }
  return CopyStep::Continue;
}

CopyStep CServerCopyRun::CopyViewPlaceholder(CopyLane& lane, const TableItem& item,
                                             std::size_t order) {
  const std::string& view = item.TableName;
  // Views exist only on servers that know backticks: the source's statements always
  // quote, or a view named with a blank, a dash, a dot or a keyword would be lost.
  const std::string quoted = QuoteName(view, true);
  // The temporary table takes the view's columns and hides the view in this session.
  if (!lane.source.Execute("CREATE TEMPORARY TABLE " + quoted + " SELECT * FROM " + quoted +
                           " WHERE 0")) {
    Error(lane, "Failed to create temporary table for the view " + view);
    return CopyStep::Skip;
  }
  std::string definition;
  if (!ReadCreateTable(lane.source, view, definition) || definition.empty()) {
    Error(lane, "Failed to show temporary table for the view " + view);
    (void)lane.source.Execute("DROP TEMPORARY TABLE IF EXISTS " + quoted);
    return CopyStep::Skip;
  }
  // "CREATE TEMPORARY TABLE ..." minus "CREATE TEMPORARY " is "TABLE ...".
  constexpr std::size_t kTemporaryPrefix = 17;
  if (definition.size() <= kTemporaryPrefix ||
      !lane.destination.Execute("CREATE " + definition.substr(kTemporaryPrefix))) {
    Error(lane,
          "Failed to create temporary table on the destination server for the view " + view + "!");
    (void)lane.source.Execute("DROP TEMPORARY TABLE IF EXISTS " + quoted);
    return CopyStep::Skip;
  }
  if (!lane.source.Execute("DROP TEMPORARY TABLE " + quoted)) {
    Error(lane, "Failed to drop temporary table for the view " + view);
    return CopyStep::Skip;
  }
  std::string createView;
  if (!ReadCreateTable(lane.source, view, createView) || createView.empty()) {
    Error(lane, "Failed to show view " + view);
    return CopyStep::Skip;
  }
  lane.pendingViews.push_back({order, view, std::move(createView), lane.sourceCharset});
  Info(lane, m_wording.ViewDone + item.DatabaseName + "." + view + " - OK");
  return CopyStep::Continue;
}
}  // namespace brevanto
