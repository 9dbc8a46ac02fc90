#include "core/Version.h"

namespace brevanto {

const char* ProgramVersion() {
  return BREVANTO_VERSION;
}

}  // namespace brevanto
