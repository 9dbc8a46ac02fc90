// The kinds table against the TaskType values: code that looks a kind up finds exactly
// one row for every value a task can be created with, and none for any other.

#include <gtest/gtest.h>

#include "tasks/TaskKinds.h"

namespace brevanto {
namespace {

// A TaskType added without naming it here stops the build, so it cannot slip past the
// test below without a row.
#pragma GCC diagnostic push
#pragma GCC diagnostic error "-Wswitch"
bool IsTaskType(std::uint8_t value) {
  switch (static_cast<TaskType>(value)) {
    case TaskType::BackupToFiles:
    case TaskType::BackupToServer:
    case TaskType::BackupToDatabase:
    case TaskType::ExportToFiles:
    case TaskType::ExecuteScript:
    case TaskType::RestoreFromFiles:
    case TaskType::RestoreFromServer:
    case TaskType::RestoreFromDatabase: return true;
  }
  return false;
}
#pragma GCC diagnostic pop

TEST(TaskKindsTest, EveryTaskTypeHasExactlyOneRowAndNothingElseHasOne) {
  for (int value = 0; value <= 255; ++value) {
    const auto type = static_cast<std::uint8_t>(value);
    int rows = 0;
    for (const TaskKind& kind : TaskKinds()) rows += static_cast<std::uint8_t>(kind.Type) == type;
    EXPECT_EQ(rows, IsTaskType(type) ? 1 : 0) << value;
    const TaskKind* found = FindTaskKind(type);
    EXPECT_EQ(found != nullptr, IsTaskType(type)) << value;
    if (found) {
      EXPECT_EQ(static_cast<std::uint8_t>(found->Type), type);
    }
  }
}

}  // namespace
}  // namespace brevanto
