// Every task kind is run by a routine the engines provide: a kind whose routine was never
// registered would only show at its first run, as an Error in a user's log.

#include <gtest/gtest.h>

#include "engines/Routines.h"
#include "tasks/TaskKinds.h"

namespace brevanto {
namespace {

TEST(RoutinesTest, EveryKindHasItsRoutineAndATypeWithoutAKindHasNone) {
  const std::map<TaskType, TaskRoutine> table = MakeRoutineTable("/nonexistent/");
  for (const TaskKind& kind : TaskKinds()) {
    SCOPED_TRACE(kind.Name);
    EXPECT_TRUE(MakeRoutine(kind.Routine, "/nonexistent/"));
    const auto found = table.find(kind.Type);
    ASSERT_NE(found, table.end());
    EXPECT_TRUE(found->second);
  }
  EXPECT_EQ(table.size(), TaskKinds().size());
  EXPECT_FALSE(RoutineFor(static_cast<TaskType>(200), "/nonexistent/"));
}

}  // namespace
}  // namespace brevanto
