// Replays a fuzz target over files, without libFuzzer: every argument is a file or a folder of files (a
// folder that does not exist is skipped), and each file is passed once to LLVMFuzzerTestOneInput. Built
// into the test suite, so the seeds and every finding kept in fuzz/findings run under the sanitizers on
// each test run; a finding that comes back aborts the replay.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path path(argv[i]);
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
      std::vector<fs::path> files;
      for (const auto& item : fs::directory_iterator(path)) {
        if (item.is_regular_file()) files.push_back(item.path());
      }
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files) {
        if (!Replay(file)) return 1;
        ++replayed;
      }
    } else if (fs::exists(path, ec)) {
      if (!Replay(path)) return 1;
      ++replayed;
    }
  }
  std::printf("%d inputs replayed\n", replayed);
  return replayed > 0 ? 0 : 1;
}
