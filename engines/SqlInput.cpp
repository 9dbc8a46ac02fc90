#include "engines/SqlInput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engines/CompressedInput.h"

namespace brevanto {

CFileSqlInput::~CFileSqlInput() {
  if (m_fd >= 0) ::close(m_fd);
}

Status CFileSqlInput::Read(char* buffer, std::size_t capacity, std::size_t& got) {
  got = 0;
  ssize_t n;
  do {
    n = ::read(m_fd, buffer, capacity);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Status::Error(std::strerror(errno));
  got = static_cast<std::size_t>(n);
  return Status::Ok();
}

Status CTextSqlInput::Read(char* buffer, std::size_t capacity, std::size_t& got) {
  got = std::min(capacity, m_rest.size());
  std::memcpy(buffer, m_rest.data(), got);
  m_rest.remove_prefix(got);
  return Status::Ok();
}

SqlCompression DetectCompression(std::string_view firstBytes) {
  if (firstBytes.size() >= 2 && firstBytes.substr(0, 2) == "\x1f\x8b") return SqlCompression::Gzip;
  if (firstBytes.size() >= 4 && firstBytes.substr(0, 4) == "\x28\xb5\x2f\xfd") {
    return SqlCompression::Zstd;
  }
  return SqlCompression::None;
}

Status OpenSqlInput(const std::string& path, std::unique_ptr<CSqlInput>& input) {
  input.reset();
  if (path.empty()) return Status::Error("no file name");
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status::Error(std::strerror(errno));
  auto file = std::make_unique<CFileSqlInput>(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) return Status::Error(std::strerror(errno));
  if (S_ISDIR(info.st_mode)) return Status::Error(std::strerror(EISDIR));
  // pread leaves the position at the start for whichever reader takes the file.
  char magic[4];
  ssize_t n;
  do {
    n = ::pread(fd, magic, sizeof magic, 0);
  } while (n < 0 && errno == EINTR);
  const SqlCompression compression =
      n > 0 ? DetectCompression(std::string_view(magic, static_cast<std::size_t>(n)))
            : SqlCompression::None;
  switch (compression) {
    case SqlCompression::None: input = std::move(file); return Status::Ok();
    case SqlCompression::Gzip: return OpenGzipInput(std::move(file), input);
    case SqlCompression::Zstd: return OpenZstdInput(std::move(file), input);
  }
  return Status::Ok();
}

Status ReadWholeSqlFile(const std::string& path, std::string& text) {
  text.clear();
  std::unique_ptr<CSqlInput> input;
  Status status = OpenSqlInput(path, input);
  constexpr std::size_t kBlock = 64 * 1024;
  std::size_t got = kBlock;
  while (status.ok() && got > 0) {
    const std::size_t size = text.size();
    text.resize(size + kBlock);
    status = input->Read(text.data() + size, kBlock, got);
    text.resize(size + got);
  }
  return status;
}

}  // namespace brevanto
