#include "engines/VerifyCopy.h"

#include <sys/stat.h>

#include <cctype>
#include <functional>
#include <future>
#include <set>
#include <tuple>

#include "core/Clock.h"
#include "core/Sha256.h"
#include "core/UtcTime.h"
#include "engines/ContentDigest.h"
#include "engines/ErrorCountingContext.h"
#include "engines/MySqlConnection.h"
#include "engines/RestoreFilesWorker.h"
#include "tasks/CopyManifest.h"

namespace brevanto {
namespace {

// The server's own schemas: never part of what a copy brings.
const std::set<std::string> kSystemSchemas = {"mysql", "information_schema", "performance_schema",
                                              "sys"};

// An object of the restored copy: kind ("table", "view", ...), database, name.
using ObjectKey = std::tuple<std::string, std::string, std::string>;

std::string Named(const std::string& kind, const std::string& database, const std::string& name) {
  std::string text = kind;
  if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return text + " `" + database + "`.`" + name + "`";
}

// What one file of the copy is like, against the manifest.
struct FileFinding {
  bool Present = false;
  RestoreFileItem Item;
  std::string Difference;  // empty when none
};

// Reads every file whole for its SHA-256. Touches nothing but the files, so it runs on a
// thread of its own while the scratch server starts.
std::vector<FileFinding> HashFiles(const CopyManifest& manifest, const std::string& manifestPath);

class Verification {
 public:
  Verification(TaskRunContext& context, const VerifyCopyRequest& request)
      : m_context(context), m_request(request) {}

  RunOutcome Run(CopyVerdict* verdict);

 private:
  void Difference(const std::string& text) {
    m_context.Log(LogLevel::Error, text);
    if (m_verdict.FirstDifference.empty()) m_verdict.FirstDifference = text;
    ++m_verdict.Differences;
  }
  // Counts the files and logs their differences; returns the files present to restore.
  std::vector<RestoreFileItem> CheckFiles(const std::vector<FileFinding>& findings);
  bool ReadRestored(CMySQLConnection& connection, std::set<ObjectKey>& found);
  void Compare(CMySQLConnection& connection);
  RunOutcome Finish(CopyVerdict* verdict);

  TaskRunContext& m_context;
  const VerifyCopyRequest& m_request;
  CopyManifest m_manifest;
  CopyVerdict m_verdict;
};

std::vector<FileFinding> HashFiles(const CopyManifest& manifest, const std::string& manifestPath) {
  std::vector<FileFinding> findings;
  for (const ManifestFile& file : manifest.Files) {
    FileFinding finding;
    const std::string path = ManifestFilePath(manifestPath, file.Name);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      finding.Difference = "File " + file.Name + ": missing, the manifest has it (" +
                           std::to_string(file.Size) + " bytes)";
      findings.push_back(std::move(finding));
      continue;
    }
    finding.Present = true;
    finding.Item = {0, file.Name, path, 0, {}};
    std::string sha;
    std::uint64_t size = 0;
    if (Status status = Sha256OfFile(path, sha, &size); !status.ok()) {
      finding.Difference = "File " + file.Name + ": unreadable (" + status.message() + ")";
    } else if (size != file.Size) {
      finding.Difference = "File " + file.Name + ": " + std::to_string(size) +
                           " bytes, the manifest says " + std::to_string(file.Size);
    } else if (sha != file.Sha256) {
      finding.Difference =
          "File " + file.Name + ": SHA-256 " + sha + ", the manifest says " + file.Sha256;
    }
    findings.push_back(std::move(finding));
  }
  return findings;
}

std::vector<RestoreFileItem> Verification::CheckFiles(const std::vector<FileFinding>& findings) {
  std::vector<RestoreFileItem> present;
  for (const FileFinding& finding : findings) {
    ++m_verdict.Files;
    if (!finding.Difference.empty()) Difference(finding.Difference);
    if (finding.Present) present.push_back(finding.Item);
  }
  return present;
}

// Everything the restore left outside the server's own schemas.
bool Verification::ReadRestored(CMySQLConnection& connection, std::set<ObjectKey>& found) {
  static const char* const kQueries[] = {
      "SELECT IF(TABLE_TYPE = 'VIEW', 'view', 'table'), TABLE_SCHEMA, TABLE_NAME FROM "
      "information_schema.TABLES",
      "SELECT 'trigger', TRIGGER_SCHEMA, TRIGGER_NAME FROM information_schema.TRIGGERS",
      "SELECT LOWER(ROUTINE_TYPE), ROUTINE_SCHEMA, ROUTINE_NAME FROM information_schema.ROUTINES",
      "SELECT 'event', EVENT_SCHEMA, EVENT_NAME FROM information_schema.EVENTS",
  };
  for (const char* query : kQueries) {
    if (!connection.Execute(query)) {
      m_context.Log(LogLevel::Error, WithServerError("Failed to list what the restored copy holds!",
                                                     connection.LastError()));
      return false;
    }
    MySqlResult result(mysql_store_result(connection.Handle()));
    while (MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr) {
      if (row[0] == nullptr || row[1] == nullptr || row[2] == nullptr) continue;
      if (kSystemSchemas.count(row[1]) != 0) continue;
      found.emplace(row[0], row[1], row[2]);
    }
  }
  return true;
}

void Verification::Compare(CMySQLConnection& connection) {
  std::set<ObjectKey> found;
  if (!ReadRestored(connection, found)) {
    Difference("The restored copy could not be read");
    return;
  }
  std::set<ObjectKey> expected;
  for (const ManifestTable& table : m_manifest.Tables) {
    if (m_context.StopRequested()) return;
    ++m_verdict.Tables;
    const ObjectKey key{"table", table.Database, table.Name};
    expected.insert(key);
    const std::string what = Named("table", table.Database, table.Name);
    if (found.count(key) == 0) {
      Difference(what + ": missing from the restored copy, the manifest has it with " +
                 std::to_string(table.Rows) + " rows");
      continue;
    }
    ManifestTable restored;
    if (Status status = ComputeRowsDigest(connection, table.Database, table.Name, restored);
        !status.ok()) {
      Difference(what + ": " + status.message());
      continue;
    }
    if (restored.Rows != table.Rows) {
      Difference(what + ": " + std::to_string(restored.Rows) + " rows, the manifest says " +
                 std::to_string(table.Rows));
    } else if (!table.Digest.empty() && restored.Digest != table.Digest) {
      Difference(what + ": rows digest " + restored.Digest + ", the manifest says " + table.Digest);
    }
  }
  for (const ManifestObject& object : m_manifest.Objects) {
    if (m_context.StopRequested()) return;
    ++m_verdict.Objects;
    const ObjectKey key{object.Kind, object.Database, object.Name};
    expected.insert(key);
    const std::string what = Named(object.Kind, object.Database, object.Name);
    if (found.count(key) == 0) {
      Difference(what +
                 ": missing from the restored copy, the manifest has it (definition digest " +
                 object.Digest + ")");
      continue;
    }
    std::string digest;
    if (Status status =
            ComputeDefinitionDigest(connection, object.Kind, object.Database, object.Name, digest);
        !status.ok()) {
      Difference(what + ": " + status.message());
    } else if (digest != object.Digest) {
      Difference(what + ": definition digest " + digest + ", the manifest says " + object.Digest);
    }
  }
  for (const auto& [kind, database, name] : found) {
    if (expected.count({kind, database, name}) == 0) {
      Difference(Named(kind, database, name) +
                 ": in the restored copy, the manifest does not have it");
    }
  }
}

RunOutcome Verification::Finish(CopyVerdict* verdict) {
  m_verdict.Ok = m_verdict.Differences == 0;
  m_verdict.Verified = UtcIso8601(m_context.GetClock().Now());
  const std::string path = VerdictPathOf(m_request.ManifestPath);
  if (Status status = WriteVerdict(path, m_verdict); !status.ok()) {
    m_context.Log(LogLevel::Error, "Failed to record the verification! " + status.message());
    if (verdict != nullptr) *verdict = m_verdict;
    return RunOutcome::Failed;
  }
  if (verdict != nullptr) *verdict = m_verdict;
  if (!m_verdict.Ok) {
    m_context.Log(LogLevel::Error,
                  "The copy failed its verification: " + std::to_string(m_verdict.Differences) +
                      " difference(s); the first: " + m_verdict.FirstDifference);
    return RunOutcome::Failed;
  }
  m_context.Log(LogLevel::General, "The copy is verified: " + std::to_string(m_verdict.Files) +
                                       " files, " + std::to_string(m_verdict.Tables) +
                                       " tables and " + std::to_string(m_verdict.Objects) +
                                       " other objects as the manifest says.");
  return RunOutcome::Finished;
}

RunOutcome Verification::Run(CopyVerdict* verdict) {
  if (Status status = ReadManifest(m_request.ManifestPath, m_manifest); !status.ok()) {
    m_context.Log(LogLevel::Error, "The copy cannot be verified! " + status.message());
    return RunOutcome::Failed;
  }
  m_verdict.Where = "scratch server";
  m_context.Log(LogLevel::General, "Checking the SHA-256 of the copy's " +
                                       std::to_string(m_manifest.Files.size()) +
                                       " files and starting a scratch server for the restore...");
  std::future<std::vector<FileFinding>> hashing = std::async(
      std::launch::async, HashFiles, std::cref(m_manifest), std::cref(m_request.ManifestPath));
  ScratchServerOptions options = m_request.Scratch;
  options.NeededBytes = ScratchSpaceFor(m_manifest);
  ScratchServer scratch(m_context.GetClock());
  const Status started = scratch.Start(options);
  std::vector<RestoreFileItem> files = CheckFiles(hashing.get());
  if (!started.ok()) {
    m_context.Log(LogLevel::Error, "The copy cannot be verified! " + started.message());
    return RunOutcome::Failed;
  }
  if (m_context.StopRequested()) {
    if (Status status = scratch.Stop(); !status.ok()) {
      m_context.Log(LogLevel::Warning, status.message());
    }
    return RunOutcome::Canceled;
  }
  RestoreFilesRequest restore;
  restore.Server = scratch.Server();
  restore.Files = std::move(files);
  restore.IdentityFile = m_request.IdentityFile;
  restore.Advanced.Threads = m_request.Threads;
  // Every difference is wanted, not only the first statement that failed.
  restore.Options.ContinueOnSqlError = 1;
  RunOutcome outcome = RunOutcome::Finished;
  {
    CErrorCountingContext counter(m_context);
    outcome = RestoreFromFiles(counter, restore);
    if (counter.Errors() > 0) {
      Difference("The restore of the copy reported " + std::to_string(counter.Errors()) +
                 " error(s), none expected");
    }
  }
  m_verdict.Restored = outcome != RunOutcome::Canceled;
  if (outcome == RunOutcome::Failed && m_verdict.Differences == 0) {
    Difference("The restore of the copy failed");
  }
  if (outcome != RunOutcome::Canceled) {
    CMySQLConnection connection;
    MySqlError error;
    if (!ConnectServer(scratch.Server(), connection, error)) {
      Difference("The restored copy could not be read: " + error.Text);
    } else {
      m_context.Log(LogLevel::General, "Comparing the restored copy with the manifest...");
      Compare(connection);
    }
  }
  if (Status status = scratch.Stop(); !status.ok())
    m_context.Log(LogLevel::Warning, status.message());
  if (outcome == RunOutcome::Canceled || m_context.StopRequested()) return RunOutcome::Canceled;
  return Finish(verdict);
}

}  // namespace

std::uint64_t ScratchSpaceFor(const CopyManifest& manifest) {
  // Rows take about twice their dump's size in InnoDB; compressed dumps hold ten times
  // their size or more. The server's own files and logs need some 200 MB.
  std::uint64_t needed = std::uint64_t{200} << 20;
  for (const ManifestFile& file : manifest.Files) {
    const bool compressed = !file.Transforms.empty();
    needed += file.Size * (compressed ? 10 : 2);
  }
  return needed;
}

RunOutcome VerifyCopy(TaskRunContext& context, const VerifyCopyRequest& request,
                      CopyVerdict* verdict) {
  Verification verification(context, request);
  return verification.Run(verdict);
}

}  // namespace brevanto
