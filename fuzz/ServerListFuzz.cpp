// Feeds arbitrary bytes to the saved-server reader; what it reads must save and read
// back unchanged.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/ServerList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<brevanto::CServerInfo> servers;
  if (!brevanto::ParseServers(bytes, servers)) {
    if (!servers.empty()) __builtin_trap();
    return 0;
  }
  std::vector<brevanto::CServerInfo> again;
  if (!brevanto::ParseServers(brevanto::SerializeServers(servers), again) || again != servers) {
    __builtin_trap();
  }
  return 0;
}
