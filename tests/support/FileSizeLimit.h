#pragma once
// Makes writes past `bytes` fail for the life of the object, as a full disk does, through
// the process's file-size limit (with SIGXFSZ ignored, so the write returns EFBIG).

#include <sys/resource.h>

#include <csignal>

namespace brevanto::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &m_old);
    rlimit limited = m_old;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit m_old{};
};

}  // namespace brevanto::test
