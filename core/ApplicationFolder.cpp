#include "core/ApplicationFolder.h"

#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "core/AtomicFile.h"
#include "core/Options.h"
#include "core/ServerList.h"

namespace brevanto {

namespace {

// Whether `folder` (ending in "/") is a portable copy's application folder.
bool IsPortableFolder(const std::string& folder) {
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return false;
  for (const char* name : {kPortableMarker, kTaskFileName, kOptionsFileName, kServerFileName}) {
    if (FileExists(folder + name)) return true;
  }
  return false;
}

// Creates `folder` and every missing level above it.
void MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    MakeFolder(folder.substr(0, slash));
  }
  MakeFolder(folder);
}

}  // namespace

std::string WithTrailingSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

std::string ChooseApplicationFolder(const std::string& executablePath, const std::string& home,
                                    const std::string& xdgDataHome) {
  if (std::size_t slash = executablePath.find_last_of('/'); slash != std::string::npos) {
    std::string folder = executablePath.substr(0, slash + 1);
    if (IsPortableFolder(folder)) return folder;
  }
  std::string base;
  if (!xdgDataHome.empty() && xdgDataHome.front() == '/') {
    base = WithTrailingSlash(xdgDataHome);
  } else {
    base = WithTrailingSlash(home.empty() ? std::string("/tmp") : home) + ".local/share/";
  }
  const std::string folder = base + "Brevanto/";
  MakeFolders(folder);
  return folder;
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
  const char* xdg = std::getenv("XDG_DATA_HOME");
  return ChooseApplicationFolder(executable, home, xdg != nullptr ? xdg : "");
}

}  // namespace brevanto
