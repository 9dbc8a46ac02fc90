#pragma once
// Owning handles for the client library's objects, so every path out of a function
// closes its connection and frees its result set.

#include <memory>
#include <string>

#include <mysql.h>

namespace brevanto {

struct MySqlCloser {
  void operator()(MYSQL* handle) const noexcept { mysql_close(handle); }
};
struct ResultFreer {
  void operator()(MYSQL_RES* result) const noexcept { mysql_free_result(result); }
};

using MySqlHandle = std::unique_ptr<MYSQL, MySqlCloser>;
// Declare a MySqlResult after the connection it came from, so it is freed first.
using MySqlResult = std::unique_ptr<MYSQL_RES, ResultFreer>;

// Runs `statement` on `handle` and stores its whole result; empty when it failed.
inline MySqlResult StoreQuery(MYSQL* handle, const std::string& statement) {
  if (mysql_real_query(handle, statement.data(), statement.size()) != 0) return nullptr;
  return MySqlResult(mysql_store_result(handle));
}

}  // namespace brevanto
