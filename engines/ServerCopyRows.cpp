#include <optional>
#include <string>
#include <vector>

#include "engines/BackupTableDumper.h"
#include "engines/InsertStatements.h"
#include "engines/LoadTransaction.h"
#include "engines/ServerCopyRun.h"
#include "engines/StatementSender.h"
#include "engines/TableDefinition.h"
#include "engines/ValueRenderer.h"

namespace brevanto {

CopyStep CServerCopyRun::CopyRows(CopyLane& lane, const TableItem& item, std::uint8_t kind) {
  const std::string& table = item.TableName;
  const std::string quoted = QuoteName(table, m_quote);
  lane.rowsComplete = false;
  if (m_settings.AddDeleteAllRecords && kind != 2 &&
      !lane.destination.Execute("DELETE FROM " + quoted)) {
    Error(lane, "Failed to DELETE " + table + "!");
    return CopyStep::Skip;
  }
  if (!m_settings.IncludeRecords || kind == 2) {
    lane.rowsComplete = true;
    return CopyStep::Continue;
  }

  MYSQL* source = lane.source.Handle();
  const std::vector<std::string> named = ColumnsNamedForInvisible(lane.source, table, m_quote);
  if (!lane.source.Execute(SelectRowsQuery(table, named, m_quote))) {
    Error(lane, "Failed to get all records of table " + table + " !");
    return CopyStep::Skip;
  }
  // Freed on every path; freeing an unread remainder drains it from the source.
  MySqlResult rows(mysql_use_result(source));
  if (!rows) {
    Error(lane, "No records of the table " + table);
    return CopyStep::Skip;
  }
  if (m_settings.AddDisableKeys &&
      !lane.destination.Execute("ALTER TABLE " + quoted + " DISABLE KEYS")) {
    Error(lane, "Failed to DISABLE KEYS of the table " + table + "!");
    return CopyStep::Skip;
  }
  if (m_settings.AddLockTables && !lane.destination.Execute("LOCK TABLES " + quoted + " WRITE")) {
    Error(lane, "Failed to LOCK TABLES " + table + "!");
    return CopyStep::Skip;
  }
  // One transaction for the table's rows; START TRANSACTION would end the table lock
  // and the task's own autocommit setting already makes one.
  CLoadTransaction transaction(lane.destination, LoadCommitBytes(m_advanced.StatementBytes));
  const bool transactionPerTable =
      m_advanced.TransactionPerTable && !m_settings.AddLockTables && !m_settings.AddSetAutocommit;
  // A table that ends early gives its destination lock back, or every later table of the
  // run would fail as "not locked with LOCK TABLES"; the rows it sent are kept.
  const auto endLockedTable = [&] {
    (void)transaction.Commit();
    if (m_settings.AddLockTables) (void)lane.destination.Execute("UNLOCK TABLES");
    return CopyStep::Skip;
  };
  if (transactionPerTable && !transaction.Begin()) {
    Error(lane, "Failed to start the transaction of the table " + table + "!");
    return CopyStep::Skip;
  }
  if (m_settings.AddSetAutocommit && !lane.destination.Execute("SET AUTOCOMMIT=0")) {
    Error(lane, "Failed to SET AUTOCOMMIT of the table " + table + "!");
    return endLockedTable();
  }

  // Names and types come from the rows' own result, not the table's field list: the two
  // differ when SELECT * leaves out INVISIBLE columns. A table that has them is read by
  // name and its INSERTs name the columns, or those values would be lost.
  const MYSQL_FIELD* columns = mysql_fetch_fields(rows.get());
  const unsigned int columnCount = mysql_num_fields(rows.get());
  std::vector<std::string> names;
  for (unsigned int i = 0; i < columnCount; ++i) names.emplace_back(columns[i].name);
  // A multi-row statement must fit the destination's packet too, where that is smaller.
  const InsertShape shape = ChooseInsertShape(m_settings.MultipleRowInsert != 0,
                                              m_advanced.StatementBytes, m_destinationMaxPacket);
  const bool multiRow = shape.MultiRow;
  CInsertStatements inserts(MakeInsertPrefix(m_settings, m_quote, table, names, "", !named.empty()),
                            shape);
  // False once a row could not be sent or read: the table is then not reported OK.
  bool complete = true;
  bool failedBatch = false;
  bool tooLarge = false;
  // One statement per row, or several rows up to the size cap: the only statement the
  // destination cannot take is a single row beyond its max_allowed_packet.
  const auto fits = [&](const std::string& statement) {
    if (m_destinationMaxPacket == 0 || statement.size() <= m_destinationMaxPacket) return true;
    Error(lane, "A record of the table " + table + " needs a statement of " +
                    std::to_string(statement.size()) +
                    " bytes, more than the destination server's max_allowed_packet of " +
                    std::to_string(m_destinationMaxPacket) + " bytes!");
    tooLarge = true;
    return false;
  };
  const auto send = [&](const std::string& statement) {
    return fits(statement) && lane.destination.Execute(statement);
  };

  // Filled statements of a task with the advanced options go to the destination from a
  // thread of their own; a failure there is logged here, in the order one thread would
  // have met it.
  enum class SendFailure { None, Insert, Commit };
  SendFailure failure = SendFailure::None;  // set on the sender's thread before it stops
  std::optional<CStatementSender> sender;
  if (m_pipelined && multiRow) {
    // Two statements waiting keep the destination busy while the next one is built.
    constexpr std::size_t kStatementsWaiting = 2;
    sender.emplace(
        [&](const std::string& statement) {
          if (!lane.destination.Execute(statement)) {
            failure = SendFailure::Insert;
            return false;
          }
          m_context.ProgressAdvance(0, static_cast<std::int64_t>(statement.size()));
          if (!transaction.Sent(statement.size())) {
            failure = SendFailure::Commit;
            return false;
          }
          return true;
        },
        kStatementsWaiting);
  }
  bool senderFinished = false;

  long long copied = 0;
  while (MYSQL_ROW row = mysql_fetch_row(rows.get())) {
    if (Canceled()) {
      // Cut the source off so that freeing the result does not read the rest.
      lane.source.CancelHandle()->Cancel();
      return CopyStep::Stop;
    }
    const unsigned long* lengths = mysql_fetch_lengths(rows.get());
    const bool ready = inserts.AddRow([&](std::string& text) {
      AppendRenderedRow(text, row, lengths, columns, columnCount, source);
    });
    ++copied;
    m_context.ProgressAdvance(1, 0);
    if (!ready) continue;
    if (sender) {
      if (m_destinationMaxPacket != 0 && inserts.Ready().size() > m_destinationMaxPacket) {
        // The statements before it go first, as one thread would have sent them.
        senderFinished = true;
        if (sender->Finish()) {
          (void)fits(inserts.Ready());
          complete = false;
        }
        break;
      }
      if (!sender->Push(inserts.TakeReady(sender->TakeSpare()))) break;
      continue;
    }
    if (!send(inserts.Ready())) {
      complete = false;
      if (!multiRow) {
        if (!tooLarge) Error(lane, "Failed to insert a record to the table " + table + "!");
        --copied;
        break;
      }
      // The batch stays as it is and is sent once more below.
      if (!tooLarge) Error(lane, "Failed to insert multi-rows records to the table " + table + "!");
      failedBatch = true;
      break;
    }
    const std::size_t sentBytes = inserts.Ready().size();
    m_context.ProgressAdvance(0, static_cast<std::int64_t>(sentBytes));
    inserts.Sent();
    if (!transaction.Sent(sentBytes)) {
      Error(lane, "Failed to commit the records of the table " + table + "!");
      complete = false;
      break;
    }
  }
  if (sender && !senderFinished) (void)sender->Finish();
  if (failure != SendFailure::None) {
    complete = false;
    // A destination statement cut off by a stop request is no failure of the copy.
    if (Canceled()) {
      lane.source.CancelHandle()->Cancel();
      return CopyStep::Stop;
    }
    if (failure == SendFailure::Insert) {
      Error(lane, "Failed to insert multi-rows records to the table " + table + "!");
      failedBatch = true;
    } else {
      Error(lane, "Failed to commit the records of the table " + table + "!");
    }
  }
  if (complete && mysql_errno(source) != 0) {
    // The source went away mid-table: what was read is sent, but the table is not whole.
    Error(lane, "Failed to get all records of table " + table + " !");
    complete = false;
  }
  rows.reset();

  const std::string& last = failedBatch && sender ? sender->Failed() : inserts.Ready();
  if (multiRow && !tooLarge && (failedBatch || inserts.Finish()) && !send(last)) {
    if (!tooLarge) Error(lane, "Failed to insert multi-row records to the table " + table + "!");
    return endLockedTable();
  }
  if (!transaction.Commit()) {
    Error(lane, "Failed to commit the records of the table " + table + "!");
    return endLockedTable();
  }
  if (m_settings.LockTablesBeforeStart) (void)lane.source.Execute("UNLOCK TABLES");
  if (m_settings.AddLockTables && !lane.destination.Execute("UNLOCK TABLES")) {
    Error(lane, "Failed to UNLOCK TABLES on the destination server! - " + table);
    return CopyStep::Skip;
  }
  if (m_settings.AddDisableKeys &&
      !lane.destination.Execute("ALTER TABLE " + quoted + " ENABLE KEYS")) {
    Error(lane, "Failed to ENABLE KEYS of the table " + table + "!");
    return CopyStep::Skip;
  }
  if (m_settings.AddSetAutocommit && !lane.destination.Execute("COMMIT")) {
    Error(lane, "Failed to COMMIT of the table " + table + "!");
    return CopyStep::Skip;
  }
  if (complete) Info(lane, m_wording.RecordsDone + std::to_string(copied) + " records");
  lane.rowsComplete = complete;
  return CopyStep::Continue;
}
}  // namespace brevanto
