#pragma once
// One MySQL connection: an entry of the saved-server list and, twice, part of a task.

#include <cstdint>
#include <string>

namespace brevanto {

struct CServerInfo {
  std::string ConnectionName;
  std::string Host = "localhost";
  std::uint32_t Port = 3306;
  std::string UserName = "root";
  std::string Password;
  std::string Database;
  std::string Comment;
  std::uint8_t SavePassword = 0;
  std::uint8_t UseCompression = 0;
  std::uint8_t UseSSL = 0;
  std::uint8_t Reserved = 0;

  friend bool operator==(const CServerInfo&, const CServerInfo&) = default;
};

}  // namespace brevanto
