#pragma once
// The size estimate of a run over tables: the row counts the server keeps in its
// statistics (information_schema TABLE_ROWS), read in one query at the run's start and
// handed to the run's progress (TaskRunContext::ProgressPlan). Only an estimate: InnoDB
// counts are approximate, views have none.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "schedule/TaskRoutine.h"
#include "tasks/TaskItem.h"

namespace brevanto {

class CMySQLConnection;

class CTableRowEstimates {
 public:
  // Reads the counts of every table in `databases`; a server that cannot answer (no
  // information_schema before 5.0, a refused query) leaves every estimate 0.
  void Read(CMySQLConnection& connection, const std::vector<std::string>& databases);
  std::int64_t RowsOf(const std::string& database, const std::string& table) const;

 private:
  std::map<std::pair<std::string, std::string>, std::int64_t> m_rows;
};

// Reads the estimates of the selected tables of `databases` and plans the run's progress
// with them: one item for each selected table or view.
CTableRowEstimates PlanTableProgress(TaskRunContext& context, CMySQLConnection& connection,
                                     const std::vector<DatabaseItem>& databases);
// The same for a flat table list (exports).
CTableRowEstimates PlanTableProgress(TaskRunContext& context, CMySQLConnection& connection,
                                     const std::vector<TableItem>& tables);

// The size of a file to restore as it is now (its recorded size when it cannot be read).
std::int64_t FileSizeOf(const RestoreFileItem& file);
// Plans a restore's progress: one item for each file to restore (IconIndex 0), by size.
void PlanFileProgress(TaskRunContext& context, const std::vector<RestoreFileItem>& files);

// Starts the progress item of one table.
void StartTableProgress(TaskRunContext& context, const CTableRowEstimates& estimates,
                        const std::string& database, const std::string& table);

}  // namespace brevanto
