// Fuzz target: the archive reader on arbitrary bytes. The bytes are written to a file, the directory is
// read (as it is, then with the local-header scan asked for), and every entry is tested, with the decoded
// output capped so a decompression bomb cannot run long. Any engine error is fine; a crash, a hang or a
// sanitizer report is not.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "zip/reader/vcl_unzip.h"
#include "zip/zip_errors.h"

namespace {

// Blocks of decoded output (32 KiB each) a test may produce before it is stopped.
constexpr int kMaxOutputBlocks = 64;

const std::string& ScratchFile() {
  static const std::string path = "/tmp/fuzz_read_zip_" + std::to_string(getpid()) + ".zip";
  return path;
}

void ReadAndTest(const std::string& path, kzb::zip::TIncompleteZipMode mode) {
  using kzb::zip::TVCLUnZip;
  TVCLUnZip reader;
  reader.SetDoProcessMessages(false);
  reader.SetIncompleteZipMode(mode);
  reader.SetPassword("pw");
  int blocks = 0;
  reader.OnFilePercentDone = [&blocks](TVCLUnZip&, int) {
    if (++blocks > kMaxOutputBlocks) throw kzb::zip::EUserCanceled("output cap");
  };
  try {
    reader.SetZipName(path);
    reader.ReadZip();
    for (int i = 0; i < reader.Count(); ++i) {
      (void)reader.EntryName(i);
      (void)reader.EntryDateTime(i);
      (void)reader.EntryComment(i);
    }
    (void)reader.ZipComment();
    reader.SetDoAll(true);
    reader.SetRecreateDirs(true);
    reader.Test();
  } catch (const std::exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = ScratchFile();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  ReadAndTest(path, kzb::zip::TIncompleteZipMode::izAssumeMulti);
  ReadAndTest(path, kzb::zip::TIncompleteZipMode::izAssumeBad);
  return 0;
}
