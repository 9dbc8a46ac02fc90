#pragma once
// A temporary folder for one test, removed with everything in it when the object dies.

#include <string>

namespace brevanto::test {

class TempDir {
 public:
  // Creates a fresh folder under $TMPDIR (or /tmp); aborts the test program if it cannot.
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, ending in "/".
  const std::string& path() const { return m_path; }
  // path() + name.
  std::string file(const std::string& name) const { return m_path + name; }

 private:
  std::string m_path;
};

// The whole file as bytes; "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Replaces the file with `bytes`; false when it cannot be written.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace brevanto::test
