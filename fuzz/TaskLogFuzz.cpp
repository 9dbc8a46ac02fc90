// Feeds arbitrary bytes to the task-log readers as the content of a log file. Beyond
// "no crash, no leak, no huge allocation": ReadLast gives the tail of what ReadAll gives,
// and an append keeps every entry already readable and adds exactly one.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "logs/TaskLog.h"
#include "tasks/TaskItem.h"

namespace {

class FixedClock final : public brevanto::Clock {
 public:
  brevanto::TaskDateTime Now() override { return {2006, 3, 5, 9, 7, 2, 1}; }
  std::int64_t MonotonicMs() override { return 0; }
  void SleepMs(int) override {}
};

const std::string& LogsFolder() {
  static const std::string folder = [] {
    char name[] = "/tmp/brevanto-fuzz-log-XXXXXX";
    if (::mkdtemp(name) == nullptr) std::abort();
    return std::string(name) + "/";
  }();
  // Every corpus replay in the tests makes one. Registered after `folder` is built, so it
  // runs before `folder` is destroyed.
  [[maybe_unused]] static const int removed_at_exit =
      std::atexit([] { std::filesystem::remove_all(folder); });
  return folder;
}

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FixedClock clock;
  static brevanto::CTaskLog log(LogsFolder(), clock);
  const std::string name = "fuzz.log";
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!brevanto::WriteFileAtomically(log.PathOf(name), bytes).ok()) std::abort();

  std::vector<brevanto::CTaskLogEntry> all;
  log.ReadAll(name, all);
  const bool current = size >= 4 && data[0] == 0xE0 && data[1] == 0xF9 && data[2] == 0xBD &&
                       data[3] == 0xCA;
  for (std::size_t count : {std::size_t{1}, std::size_t{200}, std::size_t{1} << 40}) {
    std::vector<brevanto::CTaskLogEntry> last;
    log.ReadLast(name, last, count);
    if (!current) {
      Check(last.empty());
      continue;
    }
    Check(last.size() == std::min(count, all.size()));
    Check(std::equal(last.begin(), last.end(), all.end() - static_cast<std::ptrdiff_t>(last.size())));
  }
  for (const auto& entry : all) Check(entry.text.size() <= brevanto::kLogTextSize || !current);

  // An older-format log is converted by the append: its texts are cut to the field and
  // end at their first zero byte, everything else stays.
  const bool legacy = size >= 4 && data[0] == 0xB0 && data[1] == 0xAE && data[2] == 0xDF &&
                      data[3] == 0xBF;
  if (current || (legacy && !all.empty())) {
    Check(log.AppendEntry(name, brevanto::LogLevel::Warning, "appended"));
    std::vector<brevanto::CTaskLogEntry> after;
    log.ReadAll(name, after);
    Check(after.size() == all.size() + 1);
    for (std::size_t i = 0; i < all.size(); ++i) {
      brevanto::CTaskLogEntry expected = all[i];
      expected.text = expected.text.substr(0, std::min(expected.text.find('\0'),
                                                       brevanto::kLogTextSize));
      Check(after[i] == expected);
    }
    Check(after.back().text == "appended" && after.back().level == 1);
  }
  return 0;
}
