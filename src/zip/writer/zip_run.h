// One run of the archive writer (TVCLZip::Zip): the state that lives only while an archive is written.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/file_system.h"
#include "zip/crypt/aes_crypt.h"
#include "zip/crypt/aes_key_pool.h"
#include "zip/crypt/zip_crypt.h"
#include "zip/deflate/deflate_file.h"
#include "zip/reader/open_archive.h"
#include "zip/records/end_central.h"
#include "zip/records/sorted_zip.h"
#include "zip/records/zip_header_info.h"
#include "zip/stream/stream.h"
#include "zip/writer/open_ahead.h"
#include "zip/writer/pack_ahead.h"
#include "zip/writer/stored_path.h"
#include "zip/writer/volume_output.h"

namespace kzb::zip {

class TVCLZip;

class ZipRun {
 public:
  explicit ZipRun(TVCLZip& zip) : zip_(zip) {}
  ~ZipRun();
  ZipRun(const ZipRun&) = delete;
  ZipRun& operator=(const ZipRun&) = delete;

  // Runs the whole writer run; returns the number of entries added. On an error everything written is
  // removed, the reader's state is restored and the error propagates.
  int Execute();

 private:
  // Where the data of the entry being written goes: a memory buffer first; a large entry spills either
  // straight into the archive (single volume: the local header is written provisionally and patched at
  // the end) or into a temporary entry file (volumes: an entry's header must be final before its data
  // starts on a volume).
  enum class SinkMode { kMemory, kArchive, kTempFile };

  // kRedo: the result compressed ahead no longer describes the file; it is written again by this thread.
  enum class EntryOutcome { kAdded, kSkipped, kInconsistent, kRedo };

  // An entry whose data stays below this is staged in memory and written in one piece with its final
  // local header; larger ones are streamed. Bigger saves seeks for more files but costs resident memory.
  static constexpr std::size_t kEntryMemoryLimit = 1 << 20;
  // Piece size for stored entries, the CRC pass and volume copies: large pieces mean few system calls.
  static constexpr std::int64_t kCopyBlockSize = 256 * 1024;

  static int Percent(std::int64_t done, std::int64_t total);
  static bool EndsWithSeparator(const std::string& path);
  // The file's modification time as a DOS date-time (now, when it cannot be read).
  static std::uint32_t FileDosTime(const std::string& path);
  // The entry's host, attributes and times from the file or folder at path (folder: a folder entry; an
  // empty or vanished path gives the current time).
  static void DescribeFile(const std::string& path, bool folder, TZipHeaderInfo& header);
  // The same from a status already read (null: the file could not be looked at).
  static void DescribeStatus(const platform::FileStatus* known, bool folder, TZipHeaderInfo& header);
  // Whether the file or folder at path changed after the entry's time.
  static bool IsNewerThan(const std::string& path, const TZipHeaderInfo& entry);

  // A read error of a source file (as opposed to an error of the archive being written).
  struct InputReadError {
    std::string message;
  };

  void ResolveFiles();
  void OpenOutput();
  // zip_update.cpp: the existing archive's entries, copied or replaced.
  void UpdatePass();
  bool ZipOneFile(const std::string& path, TZipHeaderInfo& header);
  bool OpenInput(std::string& path, platform::FileStatus& file_status);
  // Writes the entry data compressed ahead by the workers; nothing when it no longer fits the file.
  std::optional<DeflateResult> WritePacked(TPackAhead::File& file);
  EntryOutcome WriteFileEntry(TZipHeaderInfo& header, std::int64_t size, bool reserve_zip64);
  bool WriteFolderEntry(const std::string& path, TZipHeaderInfo& header);
  void CopyEntry(TZipHeaderInfo& entry);
  void WriteCentralDirectory();
  void WriteEnd();
  void Finish();
  void Abort() noexcept;
  void RestoreReader() noexcept;

  // The path the stored name is made from: its 8.3 form with Store83Names.
  std::string NamingPath(const std::string& path) const;
  std::string StoredDirectory(const std::string& path) const;
  std::string StoredKey(const std::string& path) const;
  void AddToNewDirectory(std::unique_ptr<TZipHeaderInfo> entry);

  // The data path of one file (zip_run_data.cpp).
  std::int64_t ReadInput(std::uint8_t* buffer, std::int64_t max);
  void WriteOutput(const std::uint8_t* data, std::int64_t count);
  void SinkBegin(TZipHeaderInfo& header, bool reserve_zip64);
  void SinkWrite(const std::uint8_t* data, std::int64_t count);
  void SinkFinish();
  void SinkAbort();
  void RemoveSinkTempFile();
  void PlaceLocalHeader(TZipHeaderInfo& header);
  void CopyToVolumes(TStream* source, const std::uint8_t* memory, std::int64_t count, std::int64_t uncompressed);

  void FireFilePercent(std::int64_t percent);
  void FireTotalPercent();

  TVCLZip& zip_;

  // Reader state saved for the run.
  // The old archive stays open, and its listing in physical order, for the whole run.
  std::optional<TOpenArchive::Hold> hold_;
  std::optional<TOpenArchive::PhysicalOrder> physical_;

  bool multi_volume_ = false;
  bool updating_ = false;
  StoredPathOptions path_options_;
  std::unique_ptr<TVolumeOutput> output_;
  std::unique_ptr<TFileStream> old_archive_;  // the existing archive, read for copying entries
  std::unique_ptr<TSortedZip> new_dir_;       // ByNone, owning
  std::unordered_set<std::string> names_;     // stored names in the new archive
  TEndCentral new_end_;
  std::unique_ptr<TDeflater> deflater_;
  std::vector<std::string> files_;             // the files to add, in order
  std::unique_ptr<TPackAhead> ahead_;          // with more than one thread
  std::unique_ptr<TOpenAhead> open_ahead_;     // with more than one thread
  std::optional<TOpenAhead::Opened> opened_;   // the file being added, opened ahead
  std::shared_ptr<TPackAhead::File> claimed_;  // the plan for the file being added
  bool packed_redo_ = false;                   // the file is written without the plan
  TZipCrypt crypt_;
  std::unique_ptr<TAesEncryptor> aes_;     // made on the first AES entry
  std::unique_ptr<TAesKeyPool> aes_keys_;  // salts and keys of the run's AES entries
  std::int64_t central_entries_this_disk_ = 0;
  std::vector<std::uint8_t> zfc_bytes_;  // directory and end record for the ".zfc" side file

  // Progress.
  std::int64_t byte_total_ = 0;
  std::int64_t bytes_done_ = 0;
  int last_total_percent_ = -1;
  int last_file_percent_ = -1;

  // The file being read.
  std::unique_ptr<platform::File> input_;
  std::int64_t input_limit_ = 0;  // bytes of the file that are read (its size when it was opened)
  std::int64_t file_bytes_ = 0;
  std::int64_t file_size_ = 0;
  std::uint32_t crc_register_ = 0;
  bool encrypting_ = false;      // the entry is encrypted (either cipher)
  bool aes_encrypting_ = false;  // ... with AES
  std::vector<std::uint8_t> encrypt_buffer_;
  std::vector<std::uint8_t> copy_buffer_;

  // The entry being written.
  TZipHeaderInfo* sink_header_ = nullptr;
  SinkMode sink_mode_ = SinkMode::kMemory;
  bool sink_reserve_zip64_ = false;
  std::vector<std::uint8_t> sink_memory_;
  std::int64_t sink_start_ = 0;  // kArchive: position of the local header
  std::int64_t sink_size_ = 0;   // bytes of entry data so far
  std::string sink_temp_name_;
  std::unique_ptr<TFileStream> sink_temp_;

  int count_ = 0;
  std::vector<std::string> dispose_list_;
};

}  // namespace kzb::zip
