#pragma once
// CServerList: the user's saved MySQL connections, in the user's order, and their file
// "myserver.dll" in the application folder. Layout: docs/formats/task-file.md
// ("Server file").
//
// Owned by the application core; UI thread only (tasks hold their own copies).
// Invariant kept by the server dialog: ConnectionName is non-empty and unique.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/ServerInfo.h"

namespace brevanto {

inline constexpr const char* kServerFileName = "myserver.dll";
// Beside it: what the binary layout has no field for (SslCaFile, SslFingerprint), as JSON
// by ConnectionName. Layout: docs/formats/task-file.md ("Server file").
inline constexpr const char* kServerTlsFileName = "myserver.json";

// Reads folder + "myserver.dll" (current or earlier layout) into `servers`, which is
// emptied first. Returns true when a file of a known version was read. A truncated last
// entry is dropped; an entry without a ConnectionName is named after its Host. The TLS
// settings come from "myserver.json" when there is one.
bool LoadServers(const std::string& folder, std::vector<CServerInfo>& servers);
// Writes the whole list in the current layout (mode 0600, atomic replace), its TLS
// settings first.
bool SaveServers(const std::string& folder, const std::vector<CServerInfo>& servers);
// After loading at start: rewrites a file whose first four bytes are readable and are
// not the current magic. A missing or empty file is left alone. True when it rewrote.
bool UpgradeServerFileIfOld(const std::string& folder, const std::vector<CServerInfo>& servers);

class BinaryReader;
class BinaryWriter;

// One server record as the server file and the task file store it. The older layout
// (`legacy`) has no ConnectionName and no Reserved and scrambles with the older key.
void WriteServerEntry(BinaryWriter& w, const CServerInfo& server);
// False (with the reader's failure set) when the bytes end inside the record.
bool ReadServerEntry(BinaryReader& r, bool legacy, CServerInfo& server);

// The file's bytes, and their inverse (the fuzzer and the tests use these).
std::string SerializeServers(const std::vector<CServerInfo>& servers);
bool ParseServers(std::string_view bytes, std::vector<CServerInfo>& servers);

class CServerList {
 public:
  // `folder` is the application folder, ending in "/".
  explicit CServerList(std::string folder);

  // LoadServers, then the start-up upgrade of an older file.
  bool Load();
  bool Save() const;

  const std::vector<CServerInfo>& Entries() const { return m_servers; }
  int Count() const { return static_cast<int>(m_servers.size()); }
  // A copy of the entry, or a default CServerInfo outside the range.
  CServerInfo At(int index) const;
  // Index of the first entry whose ConnectionName equals `name` exactly, or -1.
  int Find(const std::string& name) const;

  // Each change below saves the file at once; they return the save's result
  // (false also for an index outside the list, which changes nothing).
  bool Append(const CServerInfo& server);
  bool ReplaceAt(int index, const CServerInfo& server);
  bool RemoveAt(int index);
  // Swap with the neighbour above / below (Move Up, Move Down).
  bool MoveUp(int index);
  bool MoveDown(int index);

 private:
  std::string m_folder;
  std::vector<CServerInfo> m_servers;
};

// The fields of the server dialog as typed, for validation on OK.
struct ServerEntryInput {
  std::string ConnectionName;
  std::string Host;
  std::string PortText;
  std::string UserName;
  std::string Password;
  bool SavePassword = false;
};

enum class ServerEntryField { None, ConnectionName, Host, Port, UserName, Password };

struct ServerEntryProblem {
  ServerEntryField Field = ServerEntryField::None;  // where the dialog puts the focus
  std::string Message;                              // empty when the entry is valid
  bool ok() const { return Message.empty(); }
};

// Checks the dialog's fields in the dialog's order and returns the first problem.
// `editingIndex` is the entry being edited, or -1 when adding; the name must not equal
// another entry's name either way.
ServerEntryProblem ValidateServerEntry(const ServerEntryInput& input,
                                       const std::vector<CServerInfo>& servers, int editingIndex);
// The port value of a text ValidateServerEntry accepted.
std::uint32_t ParsePortText(const std::string& text);

}  // namespace brevanto
