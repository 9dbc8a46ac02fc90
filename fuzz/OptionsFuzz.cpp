// Feeds arbitrary bytes to the options reader; what it reads must save and read back
// unchanged (a password without a user name is the one thing a save drops).

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/Options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  brevanto::CSystemOptions options;
  if (!brevanto::ParseOptions(bytes, options)) {
    if (!(options == brevanto::CSystemOptions())) __builtin_trap();  // defaults kept
    return 0;
  }
  if (options.LoginUserName.empty()) options.LoginPassword.clear();
  brevanto::CSystemOptions again;
  if (!brevanto::ParseOptions(brevanto::SerializeOptions(options), again) || !(again == options)) {
    __builtin_trap();
  }
  return 0;
}
