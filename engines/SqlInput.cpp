#include "engines/SqlInput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engines/AgeInput.h"
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
  return OpenSqlInput(path, {}, input);
}

namespace {

// The decompressing reader `compression` asks for, around `raw`.
Status Decompressing(SqlCompression compression, std::unique_ptr<CSqlInput> raw,
                     std::unique_ptr<CSqlInput>& input) {
  switch (compression) {
    case SqlCompression::None: input = std::move(raw); return Status::Ok();
    case SqlCompression::Gzip: return OpenGzipInput(std::move(raw), input);
    case SqlCompression::Zstd: return OpenZstdInput(std::move(raw), input);
  }
  return Status::Ok();
}

// Up to `count` bytes from the start of `input`, fewer only at its end.
Status ReadStart(CSqlInput& input, std::size_t count, std::string& start) {
  start.assign(count, '\0');
  std::size_t have = 0;
  while (have < count) {
    std::size_t got = 0;
    if (Status read = input.Read(start.data() + have, count - have, got); !read.ok()) return read;
    if (got == 0) break;
    have += got;
  }
  start.resize(have);
  return Status::Ok();
}

// Decrypts, then looks at the first bytes of what the file holds for its compression.
Status OpenDecrypted(std::unique_ptr<CSqlInput> file, const std::vector<AgeIdentity>& identities,
                     std::unique_ptr<CSqlInput>& input) {
  std::unique_ptr<CSqlInput> plain;
  if (Status opened = OpenAgeInput(std::move(file), identities, plain); !opened.ok()) {
    return opened;
  }
  std::string magic;
  if (Status read = ReadStart(*plain, 4, magic); !read.ok()) return read;
  const SqlCompression compression = DetectCompression(magic);
  return Decompressing(compression, PrefixedInput(std::move(magic), std::move(plain)), input);
}

}  // namespace

Status OpenSqlInput(const std::string& path, const std::vector<AgeIdentity>& identities,
                    std::unique_ptr<CSqlInput>& input) {
  input.reset();
  if (path.empty()) return Status::Error("no file name");
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status::Error(std::strerror(errno));
  auto file = std::make_unique<CFileSqlInput>(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) return Status::Error(std::strerror(errno));
  if (S_ISDIR(info.st_mode)) return Status::Error(std::strerror(EISDIR));
  // pread leaves the position at the start for whichever reader takes the file.
  char magic[32];
  ssize_t n;
  do {
    n = ::pread(fd, magic, sizeof magic, 0);
  } while (n < 0 && errno == EINTR);
  const std::string_view start(magic, n > 0 ? static_cast<std::size_t>(n) : 0);
  if (n >= 8 && LooksLikeAgeFile(start)) return OpenDecrypted(std::move(file), identities, input);
  return Decompressing(DetectCompression(start), std::move(file), input);
}

Status OpenSqlInputStream(std::unique_ptr<CSqlInput> raw,
                          const std::vector<AgeIdentity>& identities,
                          std::unique_ptr<CSqlInput>& input) {
  input.reset();
  std::string magic;
  if (Status read = ReadStart(*raw, 32, magic); !read.ok()) return read;
  const bool encrypted = magic.size() >= 8 && LooksLikeAgeFile(magic);
  const SqlCompression compression = DetectCompression(magic);
  std::unique_ptr<CSqlInput> whole = PrefixedInput(std::move(magic), std::move(raw));
  if (encrypted) return OpenDecrypted(std::move(whole), identities, input);
  return Decompressing(compression, std::move(whole), input);
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
