#include "core/ApplicationFolder.h"

#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "core/AtomicFile.h"

namespace brevanto {

std::string WithTrailingSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

std::string ChooseApplicationFolder(const std::string& executablePath, const std::string& home) {
  std::size_t slash = executablePath.find_last_of('/');
  if (slash != std::string::npos) {
    std::string folder = executablePath.substr(0, slash + 1);
    // A portable copy keeps its files beside it; an installed one cannot.
    if (::access(folder.c_str(), W_OK | X_OK) == 0) return folder;
  }
  std::string base = WithTrailingSlash(home.empty() ? std::string("/tmp") : home);
  for (const char* level : {".local", ".local/share", ".local/share/Brevanto"}) {
    MakeFolder(base + level);
  }
  return base + ".local/share/Brevanto/";
}

std::string ApplicationFolder() {
  std::vector<char> buffer(4096);
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  std::string executable = n > 0 ? std::string(buffer.data(), static_cast<std::size_t>(n)) : "";
  std::string home;
  if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
    home = h;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    home = pw->pw_dir;
  }
  return ChooseApplicationFolder(executable, home);
}

}  // namespace brevanto
