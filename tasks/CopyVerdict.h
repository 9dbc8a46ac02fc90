#pragma once
// What a verification found out about a copy: "<copy>.verified.json" beside its manifest
// (which is never rewritten). Written by the check (engines/VerifyCopy.h), read by
// whatever shows a copy's state.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Status.h"

namespace brevanto {

struct CopyVerdict {
  static constexpr int kFormat = 1;
  int Format = kFormat;
  std::string Verified;  // when, UTC, ISO 8601
  bool Ok = false;
  std::string FirstDifference;  // empty when Ok
  std::uint64_t Differences = 0;
  // What was checked.
  std::uint64_t Files = 0;    // SHA-256 of each file against the manifest
  bool Restored = false;      // the copy was restored into a scratch server
  std::uint64_t Tables = 0;   // row count and rows digest of each table
  std::uint64_t Objects = 0;  // definition digest of each view, trigger, routine, event
  std::string Where;          // "scratch server"
  friend bool operator==(const CopyVerdict&, const CopyVerdict&) = default;
};

inline constexpr std::string_view kVerdictSuffix = ".verified.json";

// "<copy>.verified.json" for "<copy>.manifest.json" (any other path: the suffix appended).
std::string VerdictPathOf(const std::string& manifestPath);

std::string VerdictToJson(const CopyVerdict& verdict);
Status VerdictFromJson(std::string_view json, CopyVerdict& verdict);
// Written under a temporary name, fsynced, renamed (0600).
Status WriteVerdict(const std::string& path, const CopyVerdict& verdict);
Status ReadVerdict(const std::string& path, CopyVerdict& verdict);

// "verified" or "failed: <first difference>", for listings.
std::string VerdictSummary(const CopyVerdict& verdict);

}  // namespace brevanto
