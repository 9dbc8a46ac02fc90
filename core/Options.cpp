#include "core/Options.h"

#include "core/AtomicFile.h"
#include "core/BinaryIO.h"

namespace brevanto {

std::string SerializeOptions(const CSystemOptions& o) {
  BinaryWriter w;
  w.U32(kCurrentMagic);
  w.Text(o.LoginUserName);
  // A password is stored only together with a user name.
  w.Text(o.LoginUserName.empty() ? std::string() : o.LoginPassword);
  w.U8(o.AutoRun);
  w.U16(o.HotKeyVirtualKey);
  w.U16(o.HotKeyModifiers);
  w.U8(o.DateFormat);
  w.U8(o.TimeFormat);
  w.I32(o.TipIndex);
  w.U8(o.ShowTipsOnStartup);
  w.Text(o.DefaultBackupFolder);
  w.U8(o.BlockShutdownWhileRunning);
  w.U8(o.LimitLogSize);
  w.U32(o.MaxLogSizeKB);
  w.U8(o.DontAskAutoRun);
  if (!o.MetricsFile.empty()) w.Text(o.MetricsFile);
  return w.Take();
}

bool ParseOptions(std::string_view bytes, CSystemOptions& options) {
  BinaryReader r(bytes);
  if (!r.Expect(kCurrentMagic, "magic")) return false;
  // A truncated file keeps the defaults for the whole record rather than a mix.
  CSystemOptions o;
  r.Text(o.LoginUserName, "LoginUserName");
  r.Text(o.LoginPassword, "LoginPassword");
  r.U8(o.AutoRun, "AutoRun");
  r.U16(o.HotKeyVirtualKey, "HotKeyVirtualKey");
  r.U16(o.HotKeyModifiers, "HotKeyModifiers");
  r.U8(o.DateFormat, "DateFormat");
  r.U8(o.TimeFormat, "TimeFormat");
  r.I32(o.TipIndex, "TipIndex");
  r.U8(o.ShowTipsOnStartup, "ShowTipsOnStartup");
  r.Text(o.DefaultBackupFolder, "DefaultBackupFolder");
  r.U8(o.BlockShutdownWhileRunning, "BlockShutdownWhileRunning");
  r.U8(o.LimitLogSize, "LimitLogSize");
  r.U32(o.MaxLogSizeKB, "MaxLogSizeKB");
  r.U8(o.DontAskAutoRun, "DontAskAutoRun");
  if (!r.Failed() && !r.AtEnd()) r.Text(o.MetricsFile, "MetricsFile");
  if (r.Failed()) return false;
  options = std::move(o);
  return true;
}

bool LoadOptions(const std::string& folder, CSystemOptions& options) {
  std::string bytes;
  // The file is a few hundred bytes; a huge one is not ours.
  if (!ReadFileBytes(folder + kOptionsFileName, bytes, 16u << 20)) return false;
  return ParseOptions(bytes, options);
}

bool SaveOptions(const std::string& folder, const CSystemOptions& options) {
  return WriteFileAtomically(folder + kOptionsFileName, SerializeOptions(options)).ok();
}

void ApplyDefaultBackupFolder(const std::string& folder, CSystemOptions& options) {
  if (options.DefaultBackupFolder.empty()) options.DefaultBackupFolder = folder + "Data/";
}

}  // namespace brevanto
