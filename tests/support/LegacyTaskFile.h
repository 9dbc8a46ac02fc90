#pragma once
// Task files of the earlier versions, built from their documented layout
// (docs/formats/task-file.md): one task "Old task" of the given type with every field away
// from its default; a version 2 file also records one backup copy of `copyFile`.

#include <cstdint>
#include <string>

#include "core/BinaryIO.h"

namespace brevanto::test {

inline constexpr std::uint32_t kVersion2 = 0xBFDFAEC0u;
inline constexpr std::uint32_t kVersion1 = 0xBFDFAEBAu;

inline void LegacyServer(BinaryWriter& w, const std::string& host, std::uint32_t port) {
  w.Text(host, kLegacyTextKey);
  w.U32(port);
  w.Text("olduser", kLegacyTextKey);
  w.Text("oldpw", kLegacyTextKey);
  w.Text("olddb", kLegacyTextKey);
  w.Text("old comment", kLegacyTextKey);
  w.U8(1);  // SavePassword
  w.U8(0);  // UseCompression
  w.U8(1);  // UseSSL
}

inline std::string LegacyFile(std::uint32_t magic, std::uint8_t taskType,
                              const std::string& copyFile = "/old/folder/a.sql") {
  const bool v2 = magic == kVersion2;
  BinaryWriter w;
  w.U32(magic);
  w.U32(1);
  w.U32(magic);
  w.Text("key", 0);
  w.U8(1);  // RunImmediately
  w.Text("Old task", 0);
  w.Text("old comment", 0);
  w.U8(taskType);
  w.U8(3);  // Status
  for (int i = 0; i < 4 * 7; ++i) w.I32(i + 1);
  w.Text("Old task_2005.log", 0);
  LegacyServer(w, "src.example", 3310);
  LegacyServer(w, "dst.example", 3311);
  w.U8(2);  // ExportSettings.Format
  w.Text("/old/export/", 0);
  w.U32(1);  // ExportTables, without Kind
  w.U8(1);
  w.Text("shop", 0);
  w.Text("orders", 0);
  // Option bytes in file order; each value names its position so a wrong map shows.
  const int options = v2 ? 12 : 10;
  for (int i = 0; i < options; ++i) w.U8(static_cast<std::uint8_t>(0x10 + i));
  w.Text("/old/same.sql", 0);
  w.Text("/old/folder/", 0);
  if (v2) {
    w.Text("%DATE%", 0);
    w.U8(1);
    w.U32(7);
    w.U8(1);
  }
  w.U32(1);  // BackupDatabases
  w.U8(1);
  w.Text("shop", 0);
  w.U32(1);
  w.U8(0);
  w.Text("shop", 0);
  w.Text("customers", 0);
  w.U8(2);  // Schedule: EveryWeek at 22:30 on Mondays
  w.I32(22);
  w.I32(30);
  for (int d = 0; d < 7; ++d) w.U8(d == 1);
  for (int d = 0; d < 31; ++d) w.U8(0);
  for (int v : {0, 0, 0, 0, 15}) w.I32(v);
  w.U32(1);  // ScriptStatements
  w.Text("SELECT 1", 0);
  if (v2) {
    w.U32(1);  // BackupHistory
    for (int v : {2005, 6, 7, 8, 9, 10}) w.I32(v);
    w.U8(2);
    w.U8(1);
    w.U8(0);
    w.Text("", 0);
    w.U32(1);
    w.Text(copyFile, 0);
  }
  w.U32(magic);
  return w.Take();
}

}  // namespace brevanto::test
