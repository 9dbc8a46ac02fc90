#pragma once
// The threads of the test process, for tests that a stopped run leaves none of its own.

#include <filesystem>
#include <iterator>

namespace brevanto::test {

inline int ThreadCount() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                        std::filesystem::directory_iterator()));
}

}  // namespace brevanto::test
