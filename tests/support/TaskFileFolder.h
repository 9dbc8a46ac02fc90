#pragma once
// A test fixture for tests of the task file and the options file beside it: both in a
// temporary folder, and a read-back that expects the task file to load.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tasks/TaskFile.h"
#include "tests/support/TempDir.h"

namespace brevanto::test {

class TaskFileFolder : public ::testing::Test {
 protected:
  std::string taskPath() const { return m_dir.file("tasks_se.tsk"); }
  std::string optionsPath() const { return m_dir.file("tasks_se.json"); }
  std::vector<CTaskItem> read() {
    std::vector<CTaskItem> loaded;
    EXPECT_EQ(ReadTaskFile(taskPath(), loaded), TaskFileReadResult::Loaded);
    return loaded;
  }
  TempDir m_dir;
};

}  // namespace brevanto::test
