#include "tasks/AdvancedOptions.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "tasks/TaskOptionsStore.h"

namespace brevanto {
namespace {

using nlohmann::json;

void Note(std::string* problem, const std::string& key, const char* why) {
  if (problem != nullptr && problem->empty()) *problem = key + ": " + why;
}

void TakeBool(const json& object, const char* key, bool& target, std::string* problem) {
  const auto it = object.find(key);
  if (it == object.end()) return;
  if (it->is_boolean()) {
    target = it->get<bool>();
  } else {
    Note(problem, key, "not true or false");
  }
}

template <typename Number>
void TakeNumber(const json& object, const char* key, Number low, Number high, Number& target,
                std::string* problem) {
  const auto it = object.find(key);
  if (it == object.end()) return;
  if (!it->is_number_integer()) {
    Note(problem, key, "not a whole number");
    return;
  }
  // Compared as signed 64-bit values so that a negative number is clamped, not wrapped.
  const std::int64_t value = it->is_number_unsigned()
                                 ? static_cast<std::int64_t>(std::min<std::uint64_t>(
                                       it->get<std::uint64_t>(), INT64_MAX))
                                 : it->get<std::int64_t>();
  const auto clamped = std::clamp<std::int64_t>(value, low, high);
  if (clamped != value) Note(problem, key, "out of range");
  target = static_cast<Number>(clamped);
}

}  // namespace

CAdvancedOptions CAdvancedOptions::Legacy() {
  CAdvancedOptions legacy;
  legacy.IncludeRoutines = false;
  legacy.IncludeTriggers = false;
  legacy.IncludeEvents = false;
  legacy.ConsistentSnapshot = false;
  legacy.StatementBytes = 0;
  legacy.TransactionPerTable = false;
  legacy.Threads = 1;
  return legacy;
}

const char* CompressionName(Compression compression) {
  switch (compression) {
    case Compression::Gzip:
      return "gzip";
    case Compression::Zstd:
      return "zstd";
    case Compression::None:
      break;
  }
  return "none";
}

std::optional<Compression> ParseCompressionName(const std::string& name) {
  for (Compression c : {Compression::None, Compression::Gzip, Compression::Zstd}) {
    if (name == CompressionName(c)) return c;
  }
  return std::nullopt;
}

CAdvancedOptions AdvancedOptionsFromJson(const json& object, std::string* problem) {
  if (problem != nullptr) problem->clear();
  CAdvancedOptions options;
  if (!object.is_object()) {
    if (problem != nullptr) *problem = "not an object";
    return options;
  }
  TakeBool(object, "IncludeRoutines", options.IncludeRoutines, problem);
  TakeBool(object, "IncludeTriggers", options.IncludeTriggers, problem);
  TakeBool(object, "IncludeEvents", options.IncludeEvents, problem);
  TakeBool(object, "ConsistentSnapshot", options.ConsistentSnapshot, problem);
  TakeBool(object, "TransactionPerTable", options.TransactionPerTable, problem);
  TakeBool(object, "NullMarker", options.NullMarker, problem);
  // 0 is allowed: it keeps the task's own statement shape.
  TakeNumber<std::uint32_t>(object, "StatementBytes", 0, kMaxStatementBytes,
                            options.StatementBytes, problem);
  if (options.StatementBytes != 0 && options.StatementBytes < kMinStatementBytes) {
    options.StatementBytes = kMinStatementBytes;
    Note(problem, "StatementBytes", "out of range");
  }
  TakeNumber<int>(object, "Threads", 1, kMaxThreads, options.Threads, problem);
  const auto compression = object.find("Compression");
  if (compression != object.end()) {
    std::optional<Compression> parsed;
    if (compression->is_string()) parsed = ParseCompressionName(compression->get<std::string>());
    if (parsed) {
      options.Compression = *parsed;
    } else {
      Note(problem, "Compression", "not \"none\", \"gzip\" or \"zstd\"");
    }
  }
  // 0 is the library's default; zstd's levels reach 19, gzip's 9.
  const int highestLevel = options.Compression == Compression::Zstd ? 19 : 9;
  TakeNumber<int>(object, "CompressionLevel", 0, highestLevel, options.CompressionLevel, problem);
  return options;
}

json AdvancedOptionsToJson(const CAdvancedOptions& options) {
  return json{
      {"IncludeRoutines", options.IncludeRoutines},
      {"IncludeTriggers", options.IncludeTriggers},
      {"IncludeEvents", options.IncludeEvents},
      {"ConsistentSnapshot", options.ConsistentSnapshot},
      {"StatementBytes", options.StatementBytes},
      {"TransactionPerTable", options.TransactionPerTable},
      {"Threads", options.Threads},
      {"Compression", CompressionName(options.Compression)},
      {"CompressionLevel", options.CompressionLevel},
      {"NullMarker", options.NullMarker},
  };
}

std::optional<CAdvancedOptions> FindAdvancedOptions(const CTaskItem& task) {
  const json section = GetTaskSection(task, kAdvancedSection);
  if (section.is_null()) return std::nullopt;
  return AdvancedOptionsFromJson(section);
}

CAdvancedOptions AdvancedOptionsOf(const CTaskItem& task) {
  return FindAdvancedOptions(task).value_or(CAdvancedOptions::Legacy());
}

void SetAdvancedOptions(CTaskItem& task, const CAdvancedOptions& options) {
  json section = GetTaskSection(task, kAdvancedSection);
  if (!section.is_object()) section = json::object();
  section.update(AdvancedOptionsToJson(options));
  SetTaskSection(task, kAdvancedSection, section);
}

}  // namespace brevanto
