// The extraction run of TVCLUnZip (UnZip and Test): selection, output paths, password checks, overwrite
// rules, decompression, CRC verification, restored times and attributes, and the run's events.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "zip/crypt/aes_entry_input.h"
#include "zip/crypt/zip_crypt.h"
#include "zip/decompress/inflate.h"
#include "zip/extract/inflate_ahead.h"
#include "zip/extract/write_behind_stream.h"
#include "zip/reader/open_archive.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/stream/buffer_stream.h"

namespace kzb::zip {

class ExtractRun {
 public:
  // Input is read from the archive in blocks of this size (stored entries are copied in such blocks).
  static constexpr std::size_t kCopyBlockSize = 32768;
  // Attempts to find an unused temporary name before giving up on the entry.
  static constexpr int kTempNameAttempts = 16;

  // The reader supplies the settings and the events, the archive the entries and their data. test_only:
  // decode and check every chosen entry, write nothing.
  ExtractRun(TVCLUnZip& reader, TOpenArchive& archive, bool test_only);
  ~ExtractRun();
  ExtractRun(const ExtractRun&) = delete;
  ExtractRun& operator=(const ExtractRun&) = delete;

  // The whole run over the loaded directory (the archive must be open); returns the number of entries
  // extracted (or, when testing, that passed).
  int Execute();

  // Hands one block of decoded output over: the size limit, the output file, the CRC and the progress
  // events. Raises EBiggerThanUncompressed past the entry's size and ECantWriteUCF when the output device
  // takes fewer bytes (a full disk); errors of the device itself pass through unchanged.
  void WriteOutputBlock(const std::uint8_t* data, std::size_t count);
  // Copies a stored entry (method 0).
  void CopyStored();

 private:
  // The run: selection, the free-space check, every chosen entry, completion.
  void ExtractSelected();
  int SelectEntries();
  void CheckFreeSpace() const;
  void Finish();

  // One entry, step by step; true when it must be extracted again (a new password was given after the
  // entry failed its CRC check).
  bool ExtractEntry(int index);
  bool ExtractFolderEntry(int index);
  bool LocateData(int index);
  // With more than one thread: the workers that decode entries ahead, for the entries they can take.
  void StartDecodingAhead(int count);
  // On a worker: writes an entry decoded ahead into a temporary file in the destination folder and
  // returns its path (empty when it did not: a CRC that does not match, a file that cannot be made or
  // written; the run's own path then writes the entry and reports any fault).
  std::string StageAhead(int index, std::span<const std::uint8_t> data, std::uint32_t crc);
  // Takes the current entry's staged file as its temporary output; false when there is none to take.
  bool AdoptStaged(const std::string& fname, bool replaces);
  // The archive position of an entry's data from its local header (on the entry's volume), or -1.
  std::int64_t DataPositionOf(const TZipHeaderInfo& entry);
  // A temporary file name in folder, drawn from names.
  static std::string TemporaryName(const std::string& folder, std::mt19937& names);
  // Creates a temporary file in folder only where nothing is (a link put there is never followed); a name
  // that is taken gives way to the next one. Returns null, path empty, when kTempNameAttempts names were
  // all taken; raises EFCreateError when the folder takes no new file.
  static std::unique_ptr<TFileStream> CreateTemporary(const std::string& folder, std::mt19937& names,
                                                      std::string& path);
  bool PrepareOutputPath(int index, std::string& fname);
  bool CheckPassword(int index);
  bool CheckAesPassword(int index);
  bool DecideOverwrite(int index, std::string& fname, bool& replaces);
  bool OpenOutput(int index, const std::string& fname, bool replaces);
  // Decodes the entry's data by its compression method into WriteOutputBlock: the one place that knows
  // which methods the engine reads (any other gives kUnsupportedMethod before reading input).
  DecodeResult DecodeEntryData();
  bool FinishEntry(int index, const std::string& fname, DecodeResult result);
  bool CommitOutput(int index, const std::string& fname);
  bool ReportFailedEntry(int index, const std::string& fname, bool crc_ok, std::uint32_t final_crc);
  // Flushes and closes the output; false when pending bytes could not be written.
  bool CloseOutput();
  // Closes the output without reporting and removes its temporary file.
  void DiscardOutput() noexcept;

  // The next compressed bytes of the current entry (decrypted), at most max; 0 when they are used up.
  std::size_t ReadInput(std::uint8_t* buffer, std::size_t max);
  void Skip(TSkipReason reason, const std::string& fname, int index);
  // The folder an entry is extracted into (ends in the separator, or is empty for the current folder).
  std::string OutputFolder(const TZipHeaderInfo& entry) const;
  // Whether an existing file at fname may be replaced (the overwrite rule); fname may be changed by the
  // prompt handler.
  bool MayOverwrite(int index, std::string& fname);
  // Makes sure the folder exists and lies inside the destination (creating it when needed); false when it
  // leads outside. Folders once checked are remembered for the run.
  bool PrepareFolder(const std::string& folder);
  bool PrepareBesideReadyFolder(const std::string& folder);
  // The entry's time, and with RetainAttributes its mode or attributes; is_new: no file was replaced.
  void RestoreTimeAndAttributes(const std::string& fname, bool is_new);
  // The mode part of it (with RetainAttributes).
  void RestoreMode(const std::string& fname, bool is_new);
  static void RestoreTime(const std::string& path, const TZipHeaderInfo& entry);
  // Folder entries get their time and mode after the run's files (RestoreFolders).
  void RememberFolder(const std::string& folder);
  void RestoreFolders() noexcept;
  std::uint32_t CreationMask();
  void RestoreDosAttributes(const std::string& fname) const;
  static int Percent(std::int64_t part, std::int64_t whole);

  TVCLUnZip& reader_;
  TOpenArchive& archive_;
  bool test_only_;
  TZipHeaderInfo entry_;                        // private copy of the entry being extracted
  std::string stored_name_;                     // the entry's Directory + FileName
  std::int64_t data_position_ = 0;              // archive position of the entry's data
  TZipCrypt crypt_;                             // the traditional cipher's keys for the current entry
  std::unique_ptr<TStream> device_;             // the output file (or the test seam's device)
  TFileStream* file_device_ = nullptr;          // device_ when it is a real file (for fsync)
  bool temp_is_file_ = false;                   // the temporary file was made here, with the default permissions
  bool write_behind_ = false;                   // large entries are written by a thread of their own
  std::unique_ptr<TWriteBehindStream> behind_;  // between output_ and device_ for such an entry
  std::unique_ptr<TS_BufferStream> output_;
  std::string target_;        // the output's final path
  std::string temp_path_;     // the output's temporary file, renamed over the target when good
  bool sync_output_ = false;  // fsync before the rename
  std::mt19937 temp_names_;
  std::unique_ptr<TInflater> inflater_;  // deflate and Deflate64 decoders, made on first use, kept for the run
  std::unique_ptr<TInflater> inflater64_;
  std::unique_ptr<TInflateAhead> ahead_;
  std::shared_ptr<TInflateAhead::Item> ahead_item_;  // the current entry decoded ahead, if it was
  bool staging_ = false;                             // workers write entries ahead into stage_folder_
  std::string stage_folder_;                         // where (ends in the separator; empty: the current folder)
  std::atomic<bool> staging_off_ = false;            // a staged file could not be made: workers stop trying
  bool staged_ = false;                              // temp_path_ was written by a worker, its time already set
  bool crc_done_ = false;  // the output's CRC is known or kept elsewhere (decoded ahead, or written behind)
  std::unique_ptr<TAesEntryInput> aes_input_;  // the current entry's decrypting stage (AES entries only)
  bool authentic_ = true;                      // an AES entry's data passed its authentication code
  std::vector<std::uint8_t> input_buffer_;
  std::uint32_t crc_ = 0;             // running CRC register
  std::int64_t entry_bytes_ = 0;      // uncompressed bytes handed over for the current entry
  std::int64_t remaining_input_ = 0;  // compressed bytes of the current entry not yet read
  bool input_truncated_ = false;      // the archive ended inside the current entry's data
  bool output_oversize_ = false;      // the entry decoded longer than its declared size
  std::int64_t total_bytes_ = 0;
  std::int64_t bytes_done_ = 0;
  int num_files_ = 0;
  int extracted_ = 0;
  std::string resolved_root_;                        // the destination with its links resolved
  std::unordered_set<std::string> ready_folders_;    // folders known to exist inside the destination
  std::unordered_set<std::string> created_folders_;  // folders this run made (no trailing separator)
  struct PendingFolder {
    std::string path;
    TZipHeaderInfo entry;
    bool is_new = false;
  };
  std::vector<PendingFolder> pending_folders_;
  std::optional<std::uint32_t> creation_mask_;
  bool replacing_ = false;  // the current output replaces an existing file
};

}  // namespace kzb::zip
