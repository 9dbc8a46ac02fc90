#pragma once
// The "Advanced" options of a task: objects beyond tables, one consistent snapshot,
// statement size, transactions, parallel tables and compression. Stored as the
// "Advanced" section beside the task file (tasks/TaskOptionsStore.h).
//
// A task without the section behaves as tasks always did (Legacy()); new tasks get the
// member defaults below, and so does every key missing from a section that exists.

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "tasks/TaskItem.h"

namespace brevanto {

inline constexpr const char* kAdvancedSection = "Advanced";

enum class Compression : std::uint8_t { None = 0, Gzip = 1, Zstd = 2 };

struct CAdvancedOptions {
  bool IncludeRoutines = true;  // stored procedures and functions
  bool IncludeTriggers = true;
  bool IncludeEvents = true;
  bool ConsistentSnapshot = true;
  // Upper size of one multi-row statement; 0 keeps the task's own statement shape.
  // A run never exceeds the destination's max_allowed_packet.
  std::uint32_t StatementBytes = 1u << 20;
  // Copies and restores load each table in one transaction with unique and foreign-key
  // checks off.
  bool TransactionPerTable = true;
  int Threads = 2;  // tables or files worked on at a time
  ::brevanto::Compression Compression = ::brevanto::Compression::None;
  int CompressionLevel = 0;  // 0: the library's default
  // CSV and TEXT exports write NULL as \N, so it differs from an empty string and from
  // the text "NULL" (both of which it is written as otherwise).
  bool NullMarker = false;

  // What a task without the section does.
  static CAdvancedOptions Legacy();
  friend bool operator==(const CAdvancedOptions&, const CAdvancedOptions&) = default;
};

inline constexpr std::uint32_t kMinStatementBytes = 4096;
inline constexpr std::uint32_t kMaxStatementBytes = 1u << 30;
inline constexpr int kMaxThreads = 16;

// "none", "gzip", "zstd".
const char* CompressionName(Compression compression);
std::optional<Compression> ParseCompressionName(const std::string& name);

// The options of a JSON object: known keys of the right type are taken (numbers clamped
// to their range), anything else keeps the default. `problem`, when given, names the
// first key that was ignored and why; it stays empty for a clean object.
CAdvancedOptions AdvancedOptionsFromJson(const nlohmann::json& object,
                                         std::string* problem = nullptr);
// Every key with its value (the form stored and exported).
nlohmann::json AdvancedOptionsToJson(const CAdvancedOptions& options);

// The task's section, or nothing when it has none.
std::optional<CAdvancedOptions> FindAdvancedOptions(const CTaskItem& task);
// The options a run of the task uses: its section, else Legacy().
CAdvancedOptions AdvancedOptionsOf(const CTaskItem& task);
// Stores the options as the task's section, keeping keys it does not know.
void SetAdvancedOptions(CTaskItem& task, const CAdvancedOptions& options);

}  // namespace brevanto
