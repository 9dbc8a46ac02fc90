#include "appcore/TaskJson.h"

namespace brevanto {

// Sections of settings kept beside the task record join the JSON text here, one entry
// each, written after the record's own keys.
const std::vector<TaskJsonSection>& TaskJsonSections() {
  static const std::vector<TaskJsonSection> sections;
  return sections;
}

}  // namespace brevanto
