// --copies: a backup task's copies as the catalogue sees them (tasks/CopyCatalogue.h), a
// table for a terminal or one JSON document for scripts; the exit code says whether every
// copy still matches what was recorded of it.

#include <cstdio>

#include <nlohmann/json.hpp>

#include "app/run/Commands.h"
#include "app/run/Output.h"
#include "app/run/TaskListing.h"
#include "core/AtomicFile.h"
#include "schedule/RunStatusText.h"
#include "tasks/CopyCatalogue.h"
#include "tasks/CopyVerdict.h"

namespace brevanto::run {

std::string CopyTimeText(const BackupTimeStamp& t) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour,
                t.Minute, t.Second);
  return text;
}

namespace {

// What the table's manifest column says: a copy without one is not at fault by itself.
const char* ManifestColumn(ManifestState state) {
  return state == ManifestState::Missing ? "no manifest" : ManifestStateName(state);
}

std::string StateText(const CatalogueCopy& copy, const std::vector<std::string>& problems) {
  if (copy.Replaced) return "replaced by a later run";
  if (problems.empty()) return copy.OffsiteOnly ? "off-site only" : "ok";
  return std::to_string(problems.size()) + (problems.size() == 1 ? " problem" : " problems");
}

nlohmann::json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::json() : nlohmann::json(text);
}

// What the copy's last verification found, when one was recorded beside its manifest: a
// line for the table ("" when none) and the JSON value (null when none).
struct VerdictShown {
  std::string Line;
  nlohmann::json Json;
};

VerdictShown ShowVerdict(const CatalogueCopy& copy) {
  if (copy.ManifestPath.empty() || copy.Replaced) return {};
  const std::string path = VerdictPathOf(copy.ManifestPath);
  if (!FileExists(path)) return {};
  CopyVerdict verdict;
  if (Status status = ReadVerdict(path, verdict); !status.ok()) {
    return {"verification unknown: " + status.message(), {{"problem", status.message()}}};
  }
  return {(verdict.Ok ? "verified " + verdict.Verified
                      : "verification failed " + verdict.Verified + ": " + verdict.FirstDifference),
          {{"time", verdict.Verified},
           {"ok", verdict.Ok},
           {"firstDifference", TextOrNull(verdict.FirstDifference)}}};
}

nlohmann::json CopyJson(const CatalogueCopy& copy, const std::vector<std::string>& problems) {
  nlohmann::json files = nlohmann::json::array();
  for (const CatalogueFile& file : copy.Files) {
    files.push_back({{"path", file.Path},
                     {"size", file.Exists ? nlohmann::json(file.Size) : nlohmann::json()},
                     {"expectedSize",
                      file.ExpectedSize ? nlohmann::json(*file.ExpectedSize) : nlohmann::json()},
                     {"sha256", TextOrNull(file.Sha256)},
                     {"expectedSha256", TextOrNull(file.ExpectedSha256)},
                     {"state", CopyFileStateName(file.State)}});
  }
  nlohmann::json manifest{{"path", TextOrNull(copy.ManifestPath)},
                          {"state", ManifestStateName(copy.Manifest)},
                          {"problem", TextOrNull(copy.ManifestProblem)},
                          {"started", nullptr},
                          {"ended", nullptr}};
  if (copy.Details) {
    manifest["started"] = TextOrNull(copy.Details->Started);
    manifest["ended"] = TextOrNull(copy.Details->Ended);
  }
  return {{"time", CopyTimeText(copy.Copy.BackupTime)},
          {"folder", TextOrNull(copy.Copy.CopyFolder)},
          {"size", copy.Size},
          {"manifest", manifest},
          {"files", files},
          {"state", copy.Replaced       ? "replaced"
                    : !problems.empty() ? "problem"
                    : copy.OffsiteOnly  ? "off-site"
                                        : "ok"},
          {"problems", problems},
          {"verification", ShowVerdict(copy).Json}};
}

std::string Column(std::string text, std::size_t width, bool right = false) {
  if (text.size() >= width) return text;
  const std::string pad(width - text.size(), ' ');
  return right ? pad + text : text + pad;
}

}  // namespace

int PrintCopies(const std::string& folder, const CommandLine& line) {
  std::vector<CTaskItem> tasks;
  if (!ReadTasks(folder, tasks)) return kExitFailed;
  const CTaskItem* task = NamedTask(tasks, line.names.front());
  if (task == nullptr) return kExitUsage;
  const std::vector<CatalogueCopy> copies = ListCopies(*task, CatalogueCheck{line.check});

  bool intact = true;
  nlohmann::json list = nlohmann::json::array();
  if (!line.json && !copies.empty()) {
    Say(Column("TIME", 21) + Column("FILES", 5, true) + Column("SIZE", 11, true) + "  " +
        Column("MANIFEST", 13) + "STATE");
  }
  for (const CatalogueCopy& copy : copies) {
    const std::vector<std::string> problems = CopyProblems(copy, line.check);
    intact = intact && problems.empty();
    if (line.json) {
      list.push_back(CopyJson(copy, problems));
      continue;
    }
    Say(Column(CopyTimeText(copy.Copy.BackupTime), 21) +
        Column(std::to_string(copy.Files.size()), 5, true) +
        Column(ByteCountText(static_cast<std::int64_t>(copy.Size)), 11, true) + "  " +
        Column(ManifestColumn(copy.Manifest), 13) + StateText(copy, problems));
    for (const std::string& problem : problems) Say("    " + Escaped(problem));
    if (const std::string verdict = ShowVerdict(copy).Line; !verdict.empty()) {
      Say("    " + Escaped(verdict));
    }
  }
  if (line.json) {
    const nlohmann::json document{
        {"task", task->TaskName}, {"checked", line.check}, {"ok", intact}, {"copies", list}};
    // Scripts read the document even with --quiet.
    std::printf("%s\n",
                document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else if (copies.empty()) {
    Say("\"" + Escaped(task->TaskName) + "\" has no recorded backup copies");
  }
  if (std::fflush(stdout) != 0) return kExitFailed;
  return intact ? kExitOk : kExitFailed;
}

}  // namespace brevanto::run
