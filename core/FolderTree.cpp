#include "core/FolderTree.h"

#include <filesystem>

namespace brevanto {

bool MakeFolderWithParents(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return std::filesystem::is_directory(path, error);
}

}  // namespace brevanto
