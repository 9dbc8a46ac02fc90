#pragma once
// CSystemOptions: the program-wide settings and their file "opt_se.dll" in the
// application folder. Layout: docs/formats/task-file.md ("Options file").
//
// The live record belongs to the application core (UI thread). Workers read the
// log-size and date/time fields; those change only when the Options dialog is confirmed.

#include <cstdint>
#include <string>
#include <string_view>

namespace brevanto {

inline constexpr const char* kOptionsFileName = "opt_se.dll";

struct CSystemOptions {
  std::string LoginUserName;
  std::string LoginPassword;  // cleared on save whenever LoginUserName is empty
  std::uint8_t AutoRun = 0;
  std::uint16_t HotKeyVirtualKey = 77;  // 'M'
  std::uint16_t HotKeyModifiers = 6;    // 1 Shift, 2 Ctrl, 4 Alt, 8 extended (Meta)
  std::uint8_t DateFormat = 1;          // 1..3
  std::uint8_t TimeFormat = 1;          // 1 24-hour, 2 12-hour
  std::int32_t TipIndex = -1;           // last tip shown; the next shown is TipIndex + 1
  std::uint8_t ShowTipsOnStartup = 1;
  std::string DefaultBackupFolder;  // empty: the application folder + "Data/" (set at start)
  std::uint8_t BlockShutdownWhileRunning = 0;
  std::uint8_t LimitLogSize = 0;
  std::uint32_t MaxLogSizeKB = 0;  // 1..100000 when LimitLogSize is 1, else 0
  std::uint8_t DontAskAutoRun = 0;
  // Where every run's end writes the metrics for a monitor (node_exporter's textfile
  // format); empty for none. Stored after the others only when set, so files without it
  // stay as they were.
  std::string MetricsFile;

  // A login guards the window when either field is set.
  bool HasLogin() const { return !LoginUserName.empty() || !LoginPassword.empty(); }

  friend bool operator==(const CSystemOptions&, const CSystemOptions&) = default;
};

// `folder` is the application folder, ending in "/".

// Reads folder + "opt_se.dll" into `options`. Returns true when the file was read.
// A missing, foreign, truncated or damaged file leaves `options` untouched.
bool LoadOptions(const std::string& folder, CSystemOptions& options);

// Writes `options` (mode 0600, atomically replacing the old file). An empty
// LoginUserName stores an empty LoginPassword. Returns false when it cannot be written.
bool SaveOptions(const std::string& folder, const CSystemOptions& options);

// The file's bytes for `options`, and their inverse (used by the fuzzer and the tests).
// ParseOptions leaves `options` untouched unless it returns true.
std::string SerializeOptions(const CSystemOptions& options);
bool ParseOptions(std::string_view bytes, CSystemOptions& options);

// Sets an empty DefaultBackupFolder to folder + "Data/".
void ApplyDefaultBackupFolder(const std::string& folder, CSystemOptions& options);

}  // namespace brevanto
