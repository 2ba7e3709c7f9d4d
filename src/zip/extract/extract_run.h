// The extraction run of TVCLUnZip (UnZip and Test): selection, output paths, password checks, overwrite
// rules, decompression, CRC verification, restored times and attributes, and the run's events.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "zip/crypt/aes_entry_input.h"
#include "zip/decompress/inflate.h"
#include "zip/reader/vcl_unzip.h"

namespace kzb::zip {

class ExtractRun {
 public:
  // Input is read from the archive in blocks of this size (stored entries are copied in such blocks).
  static constexpr std::size_t kCopyBlockSize = 32768;

  // test_only: decode and check every chosen entry, write nothing.
  ExtractRun(TVCLUnZip& reader, bool test_only);
  ~ExtractRun();
  ExtractRun(const ExtractRun&) = delete;
  ExtractRun& operator=(const ExtractRun&) = delete;

  // The whole run over the reader's loaded directory (the archive must be open); returns the number of
  // entries extracted (or, when testing, that passed).
  int Execute();

  // Hands one block of decoded output over: the size limit, the output file, the CRC and the progress
  // events. Raises EBiggerThanUncompressed past the entry's size and ECantWriteUCF on a short write.
  void WriteOutputBlock(const std::uint8_t* data, std::size_t count);
  // Copies a stored entry (method 0).
  void CopyStored();

 private:
  // Extracts listing position index; true when it must be extracted again (a new password was given
  // after the entry failed its CRC check).
  bool ExtractEntry(int index);
  // The next compressed bytes of the current entry (decrypted), at most max; 0 when they are used up.
  std::size_t ReadInput(std::uint8_t* buffer, std::size_t max);
  // Reads from the archive, continuing on the next volume of a multi-volume set.
  std::int64_t ReadArchive(std::uint8_t* buffer, std::int64_t count);
  void Skip(TSkipReason reason, const std::string& fname, int index);
  // The folder an entry is extracted into (ends in the separator, or is empty for the current folder).
  std::string OutputFolder(const TZipHeaderInfo& entry) const;
  // Whether an existing file at fname may be replaced (the overwrite rule); fname may be changed by the
  // prompt handler.
  bool MayOverwrite(int index, std::string& fname);
  // Creates the output file; false (entry skipped) when it cannot be created. exists: something is at
  // fname already.
  bool CreateOutput(int index, const std::string& fname, bool exists);
  // Makes sure the folder exists and lies inside the destination (creating it when needed); false when it
  // leads outside. Folders once checked are remembered for the run.
  bool PrepareFolder(const std::string& folder);
  void RestoreTimeAndAttributes(const std::string& fname) const;
  static int Percent(std::int64_t part, std::int64_t whole);

  TVCLUnZip& reader_;
  bool test_only_;
  TZipHeaderInfo entry_;                   // private copy of the entry being extracted
  std::unique_ptr<TLFNFileStream> output_;
  std::unique_ptr<TInflater> inflater_;
  std::unique_ptr<TAesEntryInput> aes_input_;  // the current entry's decrypting stage (AES entries only)
  std::vector<std::uint8_t> input_buffer_;
  std::uint32_t crc_ = 0;                  // running CRC register
  std::int64_t entry_bytes_ = 0;           // uncompressed bytes handed over for the current entry
  std::int64_t remaining_input_ = 0;       // compressed bytes of the current entry not yet read
  std::int64_t total_bytes_ = 0;
  std::int64_t bytes_done_ = 0;
  int extracted_ = 0;
  std::string resolved_root_;                   // the destination with its links resolved
  std::unordered_set<std::string> ready_folders_;  // folders known to exist inside the destination
};

}  // namespace kzb::zip
