#include "core/ServerList.h"

#include <cstdio>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/AtomicFile.h"
#include "core/BinaryIO.h"

namespace brevanto {
namespace {

// The saved-server file of the earlier version: no ConnectionName, no Reserved, texts
// under the older key.
constexpr std::uint32_t kLegacyServerMagic = 0xBFDFAEBAu;

std::string ServerFilePath(const std::string& folder) {
  return folder + kServerFileName;
}

using nlohmann::json;

constexpr const char* kServersKey = "Servers";
constexpr std::size_t kMaxTlsFileBytes = std::size_t{16} << 20;

json ParseTlsFile(const std::string& path) {
  std::string bytes;
  if (!ReadFileBytes(path, bytes, kMaxTlsFileBytes)) return json(json::value_t::discarded);
  json parsed = json::parse(bytes, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_object()) return json(json::value_t::discarded);
  return parsed;
}

std::string TextMember(const json& object, const char* key) {
  const auto item = object.find(key);
  return item != object.end() && item->is_string() ? item->get<std::string>() : std::string();
}

// The TLS settings of each server, by ConnectionName (unique in the list). A missing or
// damaged file leaves every server with the system's CAs and no pin.
void ReadServerTlsFile(const std::string& folder, std::vector<CServerInfo>& servers) {
  const std::string path = folder + kServerTlsFileName;
  if (!FileExists(path)) return;
  const json file = ParseTlsFile(path);
  const auto entries = file.is_discarded() ? file.end() : file.find(kServersKey);
  if (file.is_discarded() || entries == file.end() || !entries->is_object()) return;
  for (CServerInfo& server : servers) {
    const auto entry = entries->find(server.ConnectionName);
    if (entry == entries->end() || !entry->is_object()) continue;
    server.SslCaFile = TextMember(*entry, "SslCaFile");
    server.SslFingerprint = TextMember(*entry, "SslFingerprint");
    server.DefaultsFile = TextMember(*entry, "DefaultsFile");
  }
}

// Written before the server file itself, so the list never names a server whose
// settings were not saved. No server with such settings: no file.
bool WriteServerTlsFile(const std::string& folder, const std::vector<CServerInfo>& servers) {
  const std::string path = folder + kServerTlsFileName;
  json entries = json::object();
  for (const CServerInfo& server : servers) {
    json entry = json::object();
    if (!server.SslCaFile.empty()) entry["SslCaFile"] = server.SslCaFile;
    if (!server.SslFingerprint.empty()) entry["SslFingerprint"] = server.SslFingerprint;
    if (!server.DefaultsFile.empty()) entry["DefaultsFile"] = server.DefaultsFile;
    if (!entry.empty()) entries[server.ConnectionName] = std::move(entry);
  }
  if (FileExists(path) && ParseTlsFile(path).is_discarded()) {
    // What the user had there is kept aside, not overwritten unseen.
    if (std::rename(path.c_str(), (path + ".damaged").c_str()) != 0) return false;
  }
  if (entries.empty()) return RemoveFileIfExists(path);
  json file = json::object();
  file["Format"] = 1;
  file[kServersKey] = std::move(entries);
  const std::string text = file.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
  return WriteFileAtomically(path, text).ok();
}

}  // namespace

void WriteServerEntry(BinaryWriter& w, const CServerInfo& s) {
  w.Text(s.ConnectionName);
  w.Text(s.Host);
  w.U32(s.Port);
  w.Text(s.UserName);
  w.Text(s.Password);
  w.Text(s.Database);
  w.Text(s.Comment);
  w.U8(s.SavePassword);
  w.U8(s.UseCompression);
  w.U8(s.UseSSL);
  w.U8(s.Reserved);
}

bool ReadServerEntry(BinaryReader& r, bool legacy, CServerInfo& s) {
  std::uint8_t key = legacy ? kLegacyTextKey : kTextKey;
  if (!legacy) r.Text(s.ConnectionName, "ConnectionName", key);
  r.Text(s.Host, "Host", key);
  r.U32(s.Port, "Port");
  r.Text(s.UserName, "UserName", key);
  r.Text(s.Password, "Password", key);
  r.Text(s.Database, "Database", key);
  r.Text(s.Comment, "Comment", key);
  r.U8(s.SavePassword, "SavePassword");
  r.U8(s.UseCompression, "UseCompression");
  r.U8(s.UseSSL, "UseSSL");
  if (!legacy) r.U8(s.Reserved, "Reserved");
  return !r.Failed();
}

std::string SerializeServers(const std::vector<CServerInfo>& servers) {
  BinaryWriter w;
  w.U32(kCurrentMagic);
  for (const CServerInfo& s : servers) WriteServerEntry(w, s);
  return w.Take();
}

bool ParseServers(std::string_view bytes, std::vector<CServerInfo>& servers) {
  servers.clear();
  BinaryReader r(bytes);
  std::uint32_t magic = 0;
  if (!r.U32(magic, "magic")) return false;
  if (magic != kCurrentMagic && magic != kLegacyServerMagic) return false;
  bool legacy = magic == kLegacyServerMagic;
  while (!r.AtEnd()) {
    CServerInfo s;
    // A truncated last entry is dropped rather than kept half-read.
    if (!ReadServerEntry(r, legacy, s)) break;
    if (s.ConnectionName.empty()) s.ConnectionName = s.Host;
    servers.push_back(std::move(s));
  }
  return true;
}

bool LoadServers(const std::string& folder, std::vector<CServerInfo>& servers) {
  servers.clear();
  std::string bytes;
  if (!ReadFileBytes(ServerFilePath(folder), bytes, 64u << 20)) return false;
  if (!ParseServers(bytes, servers)) return false;
  ReadServerTlsFile(folder, servers);
  return true;
}

bool SaveServers(const std::string& folder, const std::vector<CServerInfo>& servers) {
  if (!WriteServerTlsFile(folder, servers)) return false;
  return WriteFileAtomically(ServerFilePath(folder), SerializeServers(servers)).ok();
}

bool UpgradeServerFileIfOld(const std::string& folder, const std::vector<CServerInfo>& servers) {
  std::string bytes;
  if (!ReadFileBytes(ServerFilePath(folder), bytes, 64u << 20)) return false;
  BinaryReader r(bytes);
  std::uint32_t magic = 0;
  // Only a file of the known older layout is rewritten: a foreign or damaged file read as
  // an empty list, and writing that list over it would destroy whatever it holds.
  if (!r.U32(magic, "magic") || magic != kLegacyServerMagic) return false;
  return SaveServers(folder, servers);
}

CServerList::CServerList(std::string folder) : m_folder(std::move(folder)) {}

bool CServerList::Load() {
  bool loaded = LoadServers(m_folder, m_servers);
  if (loaded) UpgradeServerFileIfOld(m_folder, m_servers);
  return loaded;
}

bool CServerList::Save() const {
  return SaveServers(m_folder, m_servers);
}

CServerInfo CServerList::At(int index) const {
  if (index < 0 || index >= Count()) return CServerInfo();
  return m_servers[static_cast<std::size_t>(index)];
}

int CServerList::Find(const std::string& name) const {
  for (int i = 0; i < Count(); ++i) {
    if (m_servers[static_cast<std::size_t>(i)].ConnectionName == name) return i;
  }
  return -1;
}

bool CServerList::Append(const CServerInfo& server) {
  m_servers.push_back(server);
  return Save();
}

bool CServerList::ReplaceAt(int index, const CServerInfo& server) {
  if (index < 0 || index >= Count()) return false;
  m_servers[static_cast<std::size_t>(index)] = server;
  return Save();
}

bool CServerList::RemoveAt(int index) {
  if (index < 0 || index >= Count()) return false;
  m_servers.erase(m_servers.begin() + index);
  return Save();
}

// Moving saves too: the user's order is part of the list, and a reorder alone must
// survive the next start.
bool CServerList::MoveUp(int index) {
  if (index < 1 || index >= Count()) return false;
  std::swap(m_servers[static_cast<std::size_t>(index)],
            m_servers[static_cast<std::size_t>(index - 1)]);
  return Save();
}

bool CServerList::MoveDown(int index) {
  return MoveUp(index + 1);
}

std::uint32_t ParsePortText(const std::string& text) {
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    // Saturate: anything past 65535 is out of range anyway.
    value = value > 100000 ? 100000 : value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return value;
}

ServerEntryProblem ValidateServerEntry(const ServerEntryInput& input,
                                       const std::vector<CServerInfo>& servers, int editingIndex) {
  using F = ServerEntryField;
  if (input.ConnectionName.empty()) return {F::ConnectionName, "Please input the Connection Name!"};
  if (input.Host.empty()) return {F::Host, "Please input the Server name or IP address!"};
  for (char c : input.PortText) {
    if (c < '0' || c > '9') return {F::Port, "Port must be a number between 1 and 65535!"};
  }
  std::uint32_t port = ParsePortText(input.PortText);
  if (port == 0 || port > 65535) return {F::Port, "Please input a number between 1 and 65535!"};
  if (input.SavePassword) {
    if (input.UserName.empty()) return {F::UserName, "Please input the username!"};
    if (input.Password.empty()) return {F::Password, "Please input the password!"};
  }
  for (std::size_t i = 0; i < servers.size(); ++i) {
    if (static_cast<int>(i) != editingIndex && servers[i].ConnectionName == input.ConnectionName) {
      return {F::ConnectionName, "The connection name is already existed!"};
    }
  }
  return {};
}

}  // namespace brevanto
