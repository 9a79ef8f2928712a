// The main of a fuzz target's replay program: runs LLVMFuzzerInitialize once,
// then LLVMFuzzerTestOneInput on every regular file of the directories (and
// on every file) named on the command line, in name order, as libFuzzer would
// on a corpus. A fault in the target ends the program as it ends the fuzzer;
// a directory that cannot be read, or nothing to replay at all, is a failure.
//
//   NAME_replay DIR_OR_FILE...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// The files to replay: `path` itself, or the regular files directly in it.
bool Collect(const fs::path& path, std::vector<fs::path>& files) {
  std::error_code error;
  if (fs::is_regular_file(path, error)) {
    files.push_back(path);
    return true;
  }
  if (!fs::is_directory(path, error)) {
    std::fprintf(stderr, "replay: %s: no such file or directory\n", path.c_str());
    return false;
  }
  std::vector<fs::path> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
    if (entry.is_regular_file(error)) found.push_back(entry.path());
  }
  if (error) {
    std::fprintf(stderr, "replay: %s: %s\n", path.c_str(), error.message().c_str());
    return false;
  }
  std::sort(found.begin(), found.end());
  files.insert(files.end(), found.begin(), found.end());
  return true;
}

bool ReadFile(const fs::path& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  bool ok = true;
  for (int i = 1; i < argc; ++i) ok = Collect(argv[i], files) && ok;
  if (!ok) return 1;
  if (files.empty()) {
    std::fprintf(stderr, "replay: nothing to replay\n");
    return 1;
  }
  if (LLVMFuzzerInitialize(&argc, &argv) != 0) {
    std::fprintf(stderr, "replay: the target's initialisation failed\n");
    return 1;
  }
  std::vector<uint8_t> bytes;
  for (const fs::path& file : files) {
    if (!ReadFile(file, bytes)) {
      std::fprintf(stderr, "replay: %s: cannot read\n", file.c_str());
      return 1;
    }
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), bytes.size());
    // A copy of exactly the input's size, as libFuzzer gives it, so a read
    // past the end meets AddressSanitizer's redzone; never a null pointer,
    // even for an empty input.
    std::vector<uint8_t> input(bytes);
    static const uint8_t kEmpty = 0;
    LLVMFuzzerTestOneInput(input.empty() ? &kEmpty : input.data(), input.size());
  }
  std::fprintf(stderr, "replay: %zu inputs\n", files.size());
  return 0;
}
