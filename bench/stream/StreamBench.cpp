// File streams against the C library they sit on: a 16 MiB file read through
// TCStream.ReadBytes in 4 KiB blocks against plain fread, and ReadLine over a
// 4 MiB text file against getline on the same FILE* buffering, and the same
// lines through a UTF-8 TTextStream over the file.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"
#include "stream/CStream.h"
#include "stream/TextStream.h"

using namespace vrl;
using namespace vrl::bench;

namespace {

std::string MakeFile(const char* name, const std::string& bytes) {
  char dir[] = "/tmp/vrl-bench-XXXXXX";
  if (!mkdtemp(dir)) std::abort();
  std::string path = std::string(dir) + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

// The fastest run of each of several bodies, run in turns, so that a burst of
// load on a shared machine falls on all of them alike rather than on one.
template <class... Bodies>
std::vector<double> FastestInTurns(int runs, Bodies&&... bodies) {
  std::vector<double> best(sizeof...(Bodies), 1e30);
  for (int i = 0; i < runs; ++i) {
    std::size_t k = 0;
    ((best[k] = std::min(best[k], FastestSeconds(bodies, 1)), ++k), ...);
  }
  return best;
}

void RemoveFile(const std::string& path) {
  unlink(path.c_str());
  rmdir(path.substr(0, path.rfind('/')).c_str());
}

void ReadBlocks() {
  constexpr int32_t kSize = 16 << 20, kBlock = 4096;
  std::string bytes(kSize, '\0');
  for (int32_t i = 0; i < kSize; ++i) bytes[i] = char(i * 31);
  std::string path = MakeFile("blocks.bin", bytes);
  Ref<String> url = String::FromUtf8(path);
  std::vector<char> buffer(kBlock);
  unsigned sum = 0;
  double stream = FastestSeconds([&] {
    Ref<TCStream> in = TCStream::OpenFile(url, 1, 0);
    for (int32_t done = 0; done < kSize; done += kBlock) {
      in->ReadBytes(buffer.data(), kBlock);
      sum += unsigned(buffer[done & 4095]);
    }
    in->Close();
  });
  double plain = FastestSeconds([&] {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    for (int32_t done = 0; done < kSize; done += kBlock) {
      if (std::fread(buffer.data(), 1, kBlock, f) != std::size_t(kBlock)) std::abort();
      sum += unsigned(buffer[done & 4095]);
    }
    std::fclose(f);
  });
  Keep(sum);
  Report("TCStream.ReadBytes, 16 MiB in 4 KiB blocks", stream, "fread", plain, kSize / kBlock);
  RemoveFile(path);
}

void ReadLines() {
  std::string text;
  int lines = 0;
  while (text.size() < (4u << 20)) {
    text += "a line of snowy text number " + std::to_string(lines++) + "\r\n";
  }
  std::string path = MakeFile("lines.txt", text);
  Ref<String> url = String::FromUtf8(path);
  std::size_t total = 0;
  auto lineReader = [&] {
    Ref<TCStream> in = TCStream::OpenFile(url, 1, 0);
    while (!in->Eof()) total += std::size_t(in->ReadLine()->Length());
    in->Close();
  };
  auto getlineReader = [&] {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t n = 0;
    while ((n = getline(&line, &capacity, f)) > 0) total += std::size_t(n);
    free(line);
    std::fclose(f);
  };
  auto textReader = [&] {
    Ref<TTextStream> in = TTextStream::Create(TCStream::OpenFile(url, 1, 0), TTextStream::UTF8);
    while (!in->Eof()) total += std::size_t(in->ReadLine()->Length());
    in->Close();
  };
  std::vector<double> best = FastestInTurns(9, lineReader, getlineReader, textReader);
  const double stream = best[0], plain = best[1], text8 = best[2];
  Keep(total);
  Report("TCStream.ReadLine, 4 MiB text", stream, "getline", plain, lines);
  Report("TTextStream.ReadLine (UTF-8), 4 MiB text", text8, "getline", plain, lines);
  RemoveFile(path);
}

}  // namespace

int main() {
  StartRuntime(__builtin_frame_address(0));
  stream::Init();
  textstream::Init();
  ReadBlocks();
  ReadLines();
  return 0;
}
