#pragma once
// Where in a JSON text parsing stopped, as a key path ("[2].SourceServer.Port"), so that
// a problem inside a value (a number beyond every range) names the key it belongs to.

#include <string>

namespace brevanto {

struct JsonTextError {
  std::string Key;      // "" when the text is not valid JSON at all
  std::string Message;  // "" when the text parses
};

// Parses `text` once more to find the first error and the key it stopped in.
JsonTextError FindJsonTextError(const std::string& text);

}  // namespace brevanto
