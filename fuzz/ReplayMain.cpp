// Runs a fuzz target without libFuzzer: each argument is an input file or a folder of them
// (a corpus), and every input, plus the empty one, goes once through LLVMFuzzerTestOneInput.
// The ordinary build links the targets with this, so they keep compiling against the real
// libraries and their seed corpora replay as tests; a failed property traps as under libFuzzer.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool ReadInput(const fs::path& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Hands the bytes over as libFuzzer does: in a heap buffer of exactly their size (never a null
// pointer, even when empty), so a sanitized build catches a read past the end.
void RunOne(const std::string& bytes) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  LLVMFuzzerTestOneInput(copy.get(), bytes.size());
}

// Adds the file, or the files of the folder, to inputs; false (and a message) if unreadable.
bool CollectInputs(const fs::path& argument, std::vector<fs::path>& inputs) {
  std::error_code error;
  if (!fs::is_directory(argument, error)) {
    inputs.push_back(argument);
    return true;
  }
  for (fs::directory_iterator it(argument, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error)) inputs.push_back(it->path());
  }
  if (error) {
    std::fprintf(stderr, "cannot list %s: %s\n", argument.c_str(), error.message().c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <input file or corpus folder>...\n", argv[0]);
    return 2;
  }
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!CollectInputs(argv[i], inputs)) return 2;
  }
  std::sort(inputs.begin(), inputs.end());

  RunOne({});
  for (const fs::path& input : inputs) {
    std::string bytes;
    if (!ReadInput(input, bytes)) {
      std::fprintf(stderr, "cannot read %s\n", input.c_str());
      return 2;
    }
    std::printf("%s (%zu bytes)\n", input.c_str(), bytes.size());
    std::fflush(stdout);
    RunOne(bytes);
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
