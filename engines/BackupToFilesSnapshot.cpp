#include <cstdlib>

#include "engines/BackupToFilesRun.h"
#include "engines/Snapshot.h"

namespace brevanto {

void CBackupToFilesRun::DescribeSource() {
  m_manifest.Server.Host = m_task.SourceServer.Host;
  m_manifest.Server.Port = static_cast<int>(m_task.SourceServer.Port);
  if (!m_connection.Execute("SELECT @@version, @@hostname, @@server_id")) return;
  MySqlResult result(mysql_store_result(m_connection.Handle()));
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr || mysql_num_fields(result.get()) != 3) return;
  if (row[0] != nullptr) m_manifest.Server.Version = row[0];
  if (row[1] != nullptr) m_manifest.Server.Hostname = row[1];
  if (row[2] != nullptr) m_manifest.Server.ServerId = std::strtoull(row[2], nullptr, 10);
}

void CBackupToFilesRun::OpenSnapshot(const std::vector<DatabaseItem>& resolved) {
  // Table locks (when the task takes them) hold each table only while it is read.
  m_manifest.SnapshotMode = m_options.Settings.LockTablesBeforeStart != 0 ? "locked" : "none";
  if (!m_advanced.ConsistentSnapshot) return;
  std::vector<CMySQLConnection*> readers{&m_connection};
  for (const auto& lane : m_moreLanes) readers.push_back(&lane->connection);
  SnapshotOpened opened = BeginConsistentSnapshot(m_context, readers, resolved, true);
  if (!opened.Consistent) return;
  m_manifest.SnapshotMode = "consistent";
  // A position is only worth recording where it is the snapshot's own.
  m_manifest.Binlog = std::move(opened.Binlog);
}

}  // namespace brevanto
