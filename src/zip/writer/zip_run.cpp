// The writer run: from a file list to a finished archive.
//
// Order of work: resolve the file list (patterns, exclusions, freshen filter, byte total); open the output
// (always a temporary file beside the final name, see TVolumeOutput); when an archive exists, copy or
// replace its entries in their physical order (the update pass); add the remaining files; write the
// central directory and the end record; then rename the output into place and let the reader side take
// over the new directory. Any error on the way deletes the output and leaves the existing archive as it
// was.
//
// One file is read once (twice with a traditional password: that cipher's header needs the CRC before any
// data is written; AES needs no such pass); how its data reaches the archive is zip_run_data.cpp's part.
// Reading stops at the size the file had when it was opened, so a file that grows while it is read is
// stored as a consistent prefix; one that shrinks is stored as what was read. With a password, data that
// differs between the CRC pass and the data pass would give a header check byte that does not match, so
// such an entry is rolled back and written again, and skipped (OnSkippingFile, reason 2) when it changes
// a second time.
//
// AES entries (WinZip AES, method 99): a fresh random salt per entry, the salt and password verifier in
// front of the data, the encrypted compressed bytes, the 10-byte authentication code behind them. Entries
// of 20 bytes or more are written as AE-1, which keeps the CRC for readers to check; smaller ones as AE-2,
// which stores 0 instead, since the CRC of a few bytes would tell much about them. The local header is
// written with the AES block from the start, so a patched header keeps its layout. Salts and keys come
// from a pool that derives them ahead on a second thread (aes_key_pool.h).
//
// With more than one thread the files are compressed ahead on workers (pack_ahead.h) while this thread
// keeps the order of everything the archive and the handlers see: events, headers, encryption and output
// happen here exactly as without workers; only where the compressed bytes come from changes. A file whose
// result no longer fits (changed while read, a handler changed the level or the name's compression) is
// compressed here instead, with the same cut into pieces, so the archive does not depend on the threads.
// With a traditional password the CRC pass is not needed for a file compressed ahead in one piece: the
// workers' CRC is that of exactly the bytes written. Larger files still take the CRC pass and are checked
// against it as before.
//
// Entries of the old archive are never decompressed: kept entries are copied byte for byte (local header
// rewritten, old extra field, data and data descriptor copied); the update pass is zip_update.cpp.
#include "zip/writer/zip_run.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/fs_path.h"
#include "platform/path.h"
#include "platform/random.h"
#include "zip/filelist/resolve_file_list.h"
#include "zip/records/crc32.h"
#include "zip/records/dos_time.h"
#include "zip/records/zip_format.h"
#include "zip/writer/vcl_zip.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

namespace fs = std::filesystem;

namespace {

// Output buffer of the archive stream: collects headers and the compressor's small pieces into large
// writes.
constexpr std::int32_t kOutputBufferSize = 128 * 1024;
// A file at least this large gets room for 64-bit sizes in its local header: its compressed size (stored
// blocks and the encryption header add a little) might not fit in 32 bits.
constexpr std::int64_t kReserveZip64Threshold = 0xFFFFFFFFLL - (64LL << 20);
// How many times an entry whose file changed between the CRC pass and the data pass is written.
constexpr int kMaxEntryAttempts = 2;
// AES entries below this size are written as AE-2 (no CRC): a CRC says nearly everything about a few bytes.
// Larger ones keep their CRC (AE-1) as a second check of the decoded data.
constexpr std::int64_t kAesCrcMinimumSize = 20;
// Extra bytes reserved on the first volume for the ".zfc" information: per file (with and without
// paths) and for the records and comment.
constexpr std::int64_t kZfcBytesPerFileWithPaths = 83;
constexpr std::int64_t kZfcBytesPerFile = 58;
constexpr std::int64_t kZfcBytesFixed = 2070;

}  // namespace

ZipRun::~ZipRun() = default;

bool ZipRun::EndsWithSeparator(const std::string& path) {
  return !path.empty() && platform::IsPathSeparator(path.back());
}

std::uint32_t ZipRun::FileDosTime(const std::string& path) {
  try {
    return FixDosDateTime(platform::GetFileTime(path).ToDos());
  } catch (const std::exception&) {
    return FixDosDateTime(platform::DateTime::Now().ToDos());
  }
}

void ZipRun::DescribeFile(const std::string& path, bool folder, TZipHeaderInfo& header) {
  platform::FileStatus status;
  bool known = false;
  try {
    known = platform::GetFileStatus(path, status);
  } catch (const std::exception&) {
    known = false;
  }
  DescribeStatus(known ? &status : nullptr, folder, header);
}

void ZipRun::DescribeStatus(const platform::FileStatus* known, bool folder, TZipHeaderInfo& header) {
  header.SetVersionMadeBy(static_cast<std::uint16_t>((platform::kArchiveHostSystem << 8) | kVersionDefault));
  if (known == nullptr) {
    // Gone since it was listed: the entry still gets a time, and plain attributes.
    header.SetFileDateTime(FixDosDateTime(platform::DateTime::Now().ToDos()));
    header.SetUnixTime(std::nullopt);
    if (!folder) header.SetExternalAttributes(platform::kFaArchive);
    return;
  }
  header.SetFileDateTime(FixDosDateTime(known->time.ToDos()));
  header.SetUnixTime(known->unix_time);
  // Folder entries from a host without a mode keep the default attributes.
  if (!folder || platform::kArchiveHostSystem == kHostUnix)
    header.SetExternalAttributes(platform::ArchiveAttributes(*known));
}

// --- The run ---------------------------------------------------------------------------------------------

int ZipRun::Execute() {
  hold_.emplace(zip_.Archive());
  physical_.emplace(zip_.Archive());
  try {
    path_options_.store_paths = zip_.store_paths_;
    path_options_.relative_paths = zip_.relative_paths_;
    path_options_.store_volumes = zip_.store_volumes_;
    path_options_.root_dir = zip_.RootDir();
    // Short names: the root folder is compared in the same form as the files' paths.
    if (zip_.store83_names_ && !path_options_.root_dir.empty()) {
      path_options_.root_dir = platform::ToShortPath(path_options_.root_dir);
    }
    multi_volume_ = zip_.multi_zip_info_.multi_mode != TMultiMode::mmNone;

    ResolveFiles();
    OpenOutput();
    if (updating_) UpdatePass();

    files_ = zip_.FilesList();
    if (!files_.empty() && zip_.OnStartZipInfo) {
      bool stop_now = false;
      zip_.OnStartZipInfo(zip_, static_cast<int>(files_.size()), byte_total_, new_end_, stop_now);
      if (stop_now) throw EUserCanceled("User canceled Zip operation");
    }
    // With volumes every byte is handled twice: compressed into staging, then copied onto the volumes.
    if (multi_volume_) byte_total_ *= 2;

    const int threads = TWorkerPool::ResolveThreads(zip_.Threads());
    if (threads > 1 && files_.size() > 0) {
      ahead_ = std::make_unique<TPackAhead>(files_, threads, [this](const std::string& path) {
        if (EndsWithSeparator(path) || zip_.pack_level_ <= 0) return 0;
        if (zip_.IsNoCompress(platform::ExtractFileName(NamingPath(path)))) return 0;
        return zip_.pack_level_;
      });
    }
    // Storing, the writer's own work per file is the whole work, and looking at and opening a file is much
    // of it: another thread opens the files ahead. Compressing, the workers keep the cores busy and the
    // writer waits for them anyway (measured on two cores: opening ahead there was 4 to 6 % slower).
    if (threads > 1 && files_.size() > 1 && zip_.pack_level_ == 0) open_ahead_ = std::make_unique<TOpenAhead>(files_);
    for (std::size_t i = 0; i < files_.size(); ++i) {
      const std::string& path = files_[i];
      if (ahead_) claimed_ = ahead_->Claim(i);
      if (open_ahead_) opened_ = open_ahead_->Take(i);
      auto header = std::make_unique<TZipHeaderInfo>();
      const bool added = ZipOneFile(path, *header);
      if (claimed_) {
        ahead_->Finish(*claimed_);
        claimed_.reset();
      }
      if (added) {
        AddToNewDirectory(std::move(header));
        ++count_;
        if (zip_.dispose_ && !EndsWithSeparator(path)) dispose_list_.push_back(path);
      }
    }
    open_ahead_.reset();
    ahead_.reset();
    WriteCentralDirectory();
    WriteEnd();
    Finish();
  } catch (...) {
    Abort();
    RestoreReader();
    throw;
  }
  RestoreReader();
  return count_;
}

void ZipRun::ResolveFiles() {
  if (zip_.FilesList().empty()) return;
  FileListContext context;
  context.root_dir = zip_.RootDir();
  context.recurse = zip_.recurse_;
  context.exclude_list = &zip_.exclude_list_;
  context.skip_if_archive_bit_not_set = zip_.skip_if_archive_bit_not_set_;
  context.add_dir_entries_on_recurse = zip_.add_dir_entries_on_recurse_;
  context.zip_name = zip_.ZipName();
  std::unordered_set<std::string> archive_names;
  if (zip_.zip_action_ == TZipAction::zaFreshen) {
    if (!multi_volume_ && platform::FileExists(zip_.ZipName())) {
      zip_.OpenZip();
      for (const TZipHeaderInfo* entry : zip_.Archive().Directory()) archive_names.insert(entry->FullName());
    }
    context.is_in_archive = [&](const std::string& path) { return archive_names.count(StoredKey(path)) != 0; };
  }
  context.on_no_such_file = [this](const std::string& path) {
    if (zip_.OnNoSuchFile) zip_.OnNoSuchFile(zip_, path);
  };
  context.on_recursing_file = [this](const std::string& path) {
    if (zip_.OnRecursingFile) zip_.OnRecursingFile(zip_, path);
  };
  context.on_unreadable = [this](const std::string& path) {
    bool retry = false;
    if (zip_.OnSkippingFile) zip_.OnSkippingFile(zip_, kSkipCannotList, path, -1, retry);
  };
  context.process_messages = [this]() { zip_.ProcessMessages(); };
  byte_total_ = ResolveFileList(zip_.FilesList(), context);
}

void ZipRun::OpenOutput() {
  const std::string& zip_name = zip_.ZipName();
  if (platform::DirectoryExists(zip_name)) {
    throw platform::EFCreateError("Cannot create file \"" + zip_name + "\". It is a folder");
  }
  const TMultiZipInfo& info = zip_.multi_zip_info_;
  updating_ = !multi_volume_ && platform::FileExists(zip_name);
  if (updating_) {
    zip_.OpenZip();
    if (zip_.Archive().IsMultiVolume() || zip_.Archive().ByteSplitSet()) {
      throw EZipGeneralError("Cannot update \"" + zip_name + "\": it is a multi-volume archive");
    }
    old_archive_ = std::make_unique<TFileStream>(zip_name, platform::File::Mode::kRead);
  }
  if (zip_.pack_level_ > 0) deflater_ = std::make_unique<TDeflater>();
  copy_buffer_.resize(static_cast<std::size_t>(kCopyBlockSize));

  TVolumeOutput::Options options;
  options.zip_name = zip_name;
  options.multi_volume = multi_volume_;
  options.flush_to_disk = zip_.FlushFilesOnClose() || updating_;
  options.device_limit = zip_.output_device_limit_;
  options.buffer_size = kOutputBufferSize;
  if (info.multi_mode == TMultiMode::mmBlocks) {
    options.first_limit = std::max(TVCLZip::kMinVolumeSize, info.first_block_size);
    const std::int64_t block = std::max(TVCLZip::kMinVolumeSize, info.block_size);
    options.next_limit = [block](const std::string&) { return block; };
  } else if (info.multi_mode == TMultiMode::mmSpan) {
    std::int64_t reserve = info.save_on_first_disk;
    if (info.save_zip_info_on_first_disk) {
      reserve += static_cast<std::int64_t>(zip_.FilesList().size()) *
                     (zip_.store_paths_ ? kZfcBytesPerFileWithPaths : kZfcBytesPerFile) +
                 static_cast<std::int64_t>(zip_.Archive().EndRecord().ZipCommentLength()) + kZfcBytesFixed;
    }
    auto free_space = [probe = zip_.free_space_probe_](const std::string& name) -> std::int64_t {
      std::string folder = platform::ExtractFilePath(name);
      if (folder.empty()) folder = ".";
      const std::int64_t free = probe ? probe(folder) : platform::DiskFreeSpace(folder);
      return free < 0 ? -1 : std::max(TVCLZip::kMinVolumeSize, free);
    };
    const std::int64_t first_free = free_space(zip_name);
    options.first_limit = first_free < 0 ? -1 : std::max(TVCLZip::kMinVolumeSize, first_free - reserve);
    options.next_limit = free_space;
    options.ask_next_name = [this](int next_disk, std::string& name) {
      if (zip_.OnGetNextDisk) zip_.OnGetNextDisk(zip_, next_disk, name);
    };
    options.prepare_next_disk = [this](int disk_num) {
      if (zip_.OnPrepareNextDisk) zip_.OnPrepareNextDisk(zip_, disk_num);
    };
  }
  output_ = std::make_unique<TVolumeOutput>(std::move(options));
  output_->Open();

  new_dir_ = std::make_unique<TSortedZip>(TDuplicatePolicy::kError);
  TEndCentral& reader_end = zip_.Archive().EndRecord();
  if (updating_ || reader_end.CommentModified() || zip_.carry_comment_) {
    if (updating_ && reader_end.ZipCommentLength() != 0 && !reader_end.ZipCommentText()) {
      const bool modified = reader_end.CommentModified();
      reader_end.ReadZipComment(zip_.Archive().Stream());
      reader_end.SetCommentModified(modified);
    }
    new_end_.Assign(reader_end);
    new_end_.SetEntriesThisDisk(0);
    new_end_.SetTotalEntries(0);
    new_end_.SetCommentModified(false);
  }
}

std::string ZipRun::NamingPath(const std::string& path) const {
  return zip_.store83_names_ ? platform::ToShortPath(path) : path;
}

std::string ZipRun::StoredDirectory(const std::string& path) const {
  return StoredPathRule(NamingPath(path), path_options_);
}

std::string ZipRun::StoredKey(const std::string& path) const {
  if (EndsWithSeparator(path)) return StoredDirectory(path);
  return StoredDirectory(path) + platform::ExtractFileName(NamingPath(path));
}

void ZipRun::AddToNewDirectory(std::unique_ptr<TZipHeaderInfo> entry) {
  names_.insert(entry->FullName());
  new_dir_->Add(entry.get());
  entry.release();
}

// --- Adding one file -------------------------------------------------------------------------------------

// Looks at the file and opens it into input_, retrying while the handler asks for it; false when it is not
// added (reported). A folder gets a separator appended to path and opens nothing.
bool ZipRun::OpenInput(std::string& path, platform::FileStatus& file_status) {
  std::error_code ec;
  fs::file_status status;
  if (!EndsWithSeparator(path)) {
    status = fs::status(platform::FsPath(path), ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
      bool retry = false;  // cannot be looked at: as a file that cannot be opened
      if (zip_.OnSkippingFile) zip_.OnSkippingFile(zip_, kSkipCannotOpen, path, -1, retry);
      return false;
    }
    if (ec || !fs::exists(status)) {
      // Gone since the list was made: said, so that a file deleted meanwhile is not left out unnoticed.
      if (zip_.OnNoSuchFile) zip_.OnNoSuchFile(zip_, path);
      return false;
    }
    if (fs::is_directory(status)) path += platform::kPathSeparator;
  }
  if (EndsWithSeparator(path)) return true;

  // Open the file, retrying while the handler asks for it (a retry looks at the file again).
  for (bool first = true;; first = false) {
    try {
      if (!first) status = fs::status(platform::FsPath(path), ec);
      if (!ec && !fs::is_regular_file(status)) {
        throw platform::EFOpenError("Cannot open file \"" + path + "\". Not a regular file");
      }
      input_ = std::make_unique<platform::File>(path, platform::File::Mode::kRead);
      break;
    } catch (const platform::EFileError&) {
      bool retry = false;
      if (zip_.OnSkippingFile) zip_.OnSkippingFile(zip_, kSkipCannotOpen, path, -1, retry);
      if (!retry) return false;
    }
  }
  // The open file's own status: what is described is what will be read.
  input_->Status(file_status);
  return true;
}

bool ZipRun::ZipOneFile(const std::string& path_in, TZipHeaderInfo& header) {
  file_bytes_ = 0;
  packed_redo_ = false;
  last_file_percent_ = -1;
  std::string path = path_in;
  platform::FileStatus file_status;
  if (opened_) {
    // Looked at and opened ahead: a regular file, described by the open file.
    input_ = std::move(opened_->file);
    file_status = opened_->status;
    opened_.reset();
  } else if (!OpenInput(path, file_status)) {
    return false;
  }
  if (EndsWithSeparator(path)) return WriteFolderEntry(path, header);
  DescribeStatus(&file_status, false, header);
  file_size_ = file_status.size;
  header.SetUncompressedSize(file_size_);
  header.SetFileName(platform::ExtractFileName(NamingPath(path)));
  header.SetLocalHeaderOffset(output_->Position());
  header.SetInternalAttributes(2);
  header.SetDiskNumberStart(static_cast<std::uint32_t>(output_->Volume()));
  header.SetDirectory(StoredDirectory(path));

  if (names_.count(header.FullName()) != 0) {
    bool retry = false;
    if (zip_.OnSkippingFile) zip_.OnSkippingFile(zip_, kSkipDuplicateName, path, -1, retry);
    byte_total_ -= file_size_;
    input_.reset();
    return false;
  }
  bool skip = false;
  if (zip_.OnStartZip) zip_.OnStartZip(zip_, path, header, skip);
  if (skip) {
    byte_total_ -= file_size_;
    input_.reset();
    return false;
  }

  const TZipHeaderInfo prepared = header;
  const bool reserve_zip64 = file_size_ >= kReserveZip64Threshold;
  for (int attempt = 1;; ++attempt) {
    EntryOutcome outcome;
    std::string read_error;
    try {
      outcome = WriteFileEntry(header, file_size_, reserve_zip64);
    } catch (const InputReadError& error) {
      outcome = EntryOutcome::kSkipped;
      read_error = error.message;
    }
    if (outcome == EntryOutcome::kAdded) break;
    SinkAbort();
    bytes_done_ -= file_bytes_;
    if (outcome == EntryOutcome::kRedo || (outcome == EntryOutcome::kInconsistent && attempt < kMaxEntryAttempts)) {
      if (outcome == EntryOutcome::kRedo) --attempt;  // not the file's fault: it is read once more
      header = prepared;
      input_->Seek(0, 0);
      file_bytes_ = 0;
      packed_redo_ = true;  // pieces taken once are gone
      continue;
    }
    bool retry = false;
    if (zip_.OnSkippingFile) zip_.OnSkippingFile(zip_, kSkipCannotOpen, path, -1, retry);
    byte_total_ -= file_size_;
    input_.reset();
    FireTotalPercent();
    return false;
  }
  input_.reset();
  // The file is in the archive: a later backup of changed files only need not take it again. A bit that
  // cannot be cleared only makes that later backup take the file once more.
  if (zip_.reset_archive_bit_on_zip_) (void)platform::ClearArchiveAttribute(path);
  if (zip_.OnEndZip) {
    zip_.OnEndZip(zip_, path, header.UncompressedSize(), header.CompressedSize(), output_->Position());
  }
  return true;
}

ZipRun::EntryOutcome ZipRun::WriteFileEntry(TZipHeaderInfo& header, std::int64_t size, bool reserve_zip64) {
  input_limit_ = size;
  file_bytes_ = 0;
  const std::string& password = zip_.Password();
  encrypting_ = !password.empty();
  aes_encrypting_ = encrypting_ && zip_.encryption_ != TZipEncryption::zeZipCrypto;
  const auto strength = static_cast<TAesStrength>(zip_.encryption_);
  const bool store = zip_.pack_level_ == 0 || zip_.IsNoCompress(header.FileName());
  // The workers' result, when they compressed this file at this level and size.
  TPackAhead::File* packed = nullptr;
  if (claimed_ && !packed_redo_ && !store && claimed_->level == zip_.pack_level_ && claimed_->size == size) {
    packed = claimed_.get();
  }
  std::uint32_t pre_crc = 0;
  if (aes_encrypting_) {
    // Final except for the vendor version and the real method, which do not change the header's size.
    header.SetCompressionMethod(kMethodAes);
    header.SetAes(static_cast<std::uint8_t>(strength), kAesVersionAe1, kMethodDeflated);
    header.SetVersionNeeded(std::max(header.VersionNeeded(), kVersionAes));
    header.SetGeneralFlags(static_cast<std::uint16_t>(header.GeneralFlags() | kFlagEncrypted));
  } else if (encrypting_ && packed != nullptr && packed->pieces == 1 && !ahead_->Wait(*packed, 0).failed &&
             ahead_->Wait(*packed, 0).got == size) {
    // Compressed in one piece ahead: its CRC is the CRC of exactly the bytes that will be written.
    pre_crc = ahead_->Wait(*packed, 0).crc;
    header.SetCrc32(pre_crc);
  } else if (encrypting_) {
    std::uint32_t reg = kCrcRegisterPreset;
    std::int64_t read_total = 0;
    while (read_total < size) {
      std::int64_t n;
      try {
        n = input_->Read(copy_buffer_.data(), std::min(kCopyBlockSize, size - read_total));
      } catch (const platform::EFileError& error) {
        throw InputReadError{error.what()};
      }
      if (n <= 0) break;
      reg = UpdateCrcRegister(reg, copy_buffer_.data(), static_cast<std::size_t>(n));
      read_total += n;
      zip_.ProcessMessages();
    }
    pre_crc = FinishCrc(reg);
    input_->Seek(0, 0);
    header.SetCrc32(pre_crc);
  }

  SinkBegin(header, reserve_zip64);
  if (aes_encrypting_) {
    // A handler may change the password or the cipher between entries: the pool follows.
    if (!aes_keys_ || aes_keys_->Password() != password || aes_keys_->Strength() != strength) {
      aes_keys_.reset();
      aes_keys_ = std::make_unique<TAesKeyPool>(password, strength);
    }
    if (!aes_) aes_ = std::make_unique<TAesEncryptor>();
    TAesKeyPool::Item item = aes_keys_->Take();
    std::uint8_t preamble[TAesEncryptor::kAesPreambleMax];
    const int preamble_length = aes_->Begin(item.keys, item.salt.data(), preamble);
    WipeBytes(&item, sizeof item);
    SinkWrite(preamble, preamble_length);
  } else if (encrypting_) {
    std::uint8_t random[kEncryptionHeaderSize - 2];
    platform::FillRandom(random, sizeof random);
    std::uint8_t encryption_header[kEncryptionHeaderSize];
    crypt_.MakeHeader(password, pre_crc, random, encryption_header);
    SinkWrite(encryption_header, kEncryptionHeaderSize);
  }
  crc_register_ = kCrcRegisterPreset;
  std::int64_t compressed = 0;
  if (store) {
    while (true) {
      const std::int64_t n = ReadInput(copy_buffer_.data(), kCopyBlockSize);
      if (n <= 0) break;
      WriteOutput(copy_buffer_.data(), n);
    }
    compressed = file_bytes_;
    header.SetCompressionMethod(aes_encrypting_ ? kMethodAes : kMethodStored);
    if (aes_encrypting_) header.SetAes(header.AesStrength(), header.AesVendorVersion(), kMethodStored);
    header.SetInternalAttributes(0);
  } else {
    DeflateResult result;
    if (packed != nullptr) {
      const std::optional<DeflateResult> done = WritePacked(*packed);
      if (!done) return EntryOutcome::kRedo;
      result = *done;
    } else {
      // Made on first use: a handler may raise PackLevel from 0 in the middle of a run.
      if (!deflater_) deflater_ = std::make_unique<TDeflater>();
      result = DeflatePieces(
          *deflater_, zip_.pack_level_, size,
          [this](std::uint8_t* buffer, std::int64_t max) { return ReadInput(buffer, max); },
          [this](const std::uint8_t* data, std::int64_t count) { WriteOutput(data, count); });
    }
    header.SetGeneralFlags(static_cast<std::uint16_t>(header.GeneralFlags() | result.general_flags));
    if (header.InternalAttributes() == 2) header.SetInternalAttributes(result.internal_attributes);
    compressed = result.compressed_size;
    const std::uint16_t method = result.stored ? kMethodStored : kMethodDeflated;
    if (aes_encrypting_) {
      header.SetAes(header.AesStrength(), header.AesVendorVersion(), method);
    } else {
      header.SetCompressionMethod(method);
    }
  }
  std::uint32_t crc = FinishCrc(crc_register_);
  if (aes_encrypting_) {
    const auto code = aes_->Finish();
    SinkWrite(code.data(), static_cast<std::int64_t>(code.size()));
    compressed += AesOverhead(strength);
    const bool small = file_bytes_ < kAesCrcMinimumSize;
    header.SetAes(header.AesStrength(), small ? kAesVersionAe2 : kAesVersionAe1, header.AesMethod());
    if (small) crc = 0;
  } else if (encrypting_) {
    if (crc != pre_crc) return EntryOutcome::kInconsistent;
    header.SetGeneralFlags(static_cast<std::uint16_t>(header.GeneralFlags() | kFlagEncrypted));
    compressed += kEncryptionHeaderSize;
  }
  header.SetCrc32(crc);
  header.SetUncompressedSize(file_bytes_);
  header.SetCompressedSize(compressed);
  SinkFinish();
  return EntryOutcome::kAdded;
}

bool ZipRun::WriteFolderEntry(const std::string& path, TZipHeaderInfo& header) {
  const std::string folder = platform::ExcludeTrailingSeparator(path);
  DescribeFile(platform::DirectoryExists(folder) ? folder : std::string(), true, header);
  header.SetCompressedSize(0);
  header.SetUncompressedSize(0);
  header.SetCompressionMethod(kMethodStored);
  header.SetInternalAttributes(0);
  header.SetCrc32(0);
  header.SetFileName("");
  header.SetLocalHeaderOffset(output_->Position());
  header.SetDiskNumberStart(static_cast<std::uint32_t>(output_->Volume()));
  header.SetDirectory(StoredDirectory(path));
  // A folder whose stored name would be empty (paths not stored, or the root of relative paths) has
  // nothing to record; an entry without a name is not a valid archive member.
  if (header.Directory().empty()) return false;
  if (names_.count(header.FullName()) != 0) {
    bool retry = false;
    if (zip_.OnSkippingFile) zip_.OnSkippingFile(zip_, kSkipDuplicateName, path, -1, retry);
    return false;
  }
  bool skip = false;
  if (zip_.OnStartZip) zip_.OnStartZip(zip_, path, header, skip);
  if (skip) return false;
  if (multi_volume_) {
    PlaceLocalHeader(header);
  } else {
    header.WriteLocal(output_->Stream());
  }
  if (zip_.OnEndZip) zip_.OnEndZip(zip_, path, 0, 0, 0);
  return true;
}

// --- Data path -------------------------------------------------------------------------------------------

std::optional<DeflateResult> ZipRun::WritePacked(TPackAhead::File& file) {
  DeflateResult first;
  std::uint32_t crc = 0;
  std::int64_t total = 0;
  std::uint32_t previous_tail = 0;
  for (std::int64_t k = 0; k < file.pieces; ++k) {
    const TPackAhead::Piece& piece = ahead_->Wait(file, k);
    // A short piece or a dictionary that is not the previous piece's end: the file changed between reads.
    if (piece.failed || piece.got != piece.length || (k > 0 && piece.head_crc != previous_tail)) {
      return std::nullopt;
    }
    previous_tail = piece.tail_crc;
    if (k == 0) first = piece.result;
    crc = CombineCrc32(crc, piece.crc, piece.got);
    file_bytes_ += piece.got;
    bytes_done_ += piece.got;
    if (zip_.OnFilePercentDone) {
      int percent = Percent(file_bytes_, file_size_);
      if (multi_volume_) percent /= 2;
      FireFilePercent(percent);
    }
    FireTotalPercent();
    const auto count = static_cast<std::int64_t>(piece.data.size());
    for (std::int64_t offset = 0; offset < count; offset += kCopyBlockSize) {
      WriteOutput(piece.data.data() + offset, std::min(kCopyBlockSize, count - offset));
    }
    total += count;
    ahead_->Release(file, k);
  }
  crc_register_ = ~crc;
  first.compressed_size = total;
  if (file.pieces > 1) first.stored = false;
  return first;
}

// --- Central directory, end record, finish ---------------------------------------------------------------

void ZipRun::WriteCentralDirectory() {
  TMemoryStream zfc;
  const bool save_zfc = multi_volume_ && zip_.multi_zip_info_.save_zip_info_on_first_disk;
  std::int64_t offset = output_->Position();
  std::uint32_t start_disk = static_cast<std::uint32_t>(output_->Volume());
  std::int64_t size = 0;
  central_entries_this_disk_ = 0;
  bool first = true;
  for (const TZipHeaderInfo* entry : *new_dir_) {
    if (multi_volume_ && output_->RoomLeft() < entry->CentralSize() && !output_->VolumeEmpty()) {
      output_->NextVolume();
      central_entries_this_disk_ = 0;
      if (first) {
        offset = 0;
        start_disk = static_cast<std::uint32_t>(output_->Volume());
      }
    }
    entry->WriteCentral(output_->Stream());
    if (save_zfc) entry->WriteCentral(zfc);
    size += entry->CentralSize();
    ++central_entries_this_disk_;
    first = false;
  }
  if (!multi_volume_) size = output_->Position() - offset;
  new_end_.SetCentralDirOffset(offset);
  new_end_.SetCentralStartDisk(start_disk);
  new_end_.SetCentralDirSize(size);
  if (save_zfc) zfc_bytes_ = std::move(zfc.Bytes());
}

void ZipRun::WriteEnd() {
  new_end_.SetTotalEntries(new_dir_->Count());
  if (multi_volume_ && output_->RoomLeft() < new_end_.EndRecordSize() && !output_->VolumeEmpty()) {
    output_->NextVolume();
    central_entries_this_disk_ = 0;
  }
  new_end_.SetEntriesThisDisk(central_entries_this_disk_);
  new_end_.SetThisDisk(static_cast<std::uint32_t>(output_->Volume()));
  new_end_.WriteEndRecord(output_->Stream());
  if (!zfc_bytes_.empty()) {
    TMemoryStream end;
    new_end_.WriteEndRecord(end);
    zfc_bytes_.insert(zfc_bytes_.end(), end.Bytes().begin(), end.Bytes().end());
  }
}

void ZipRun::Finish() {
  ahead_.reset();
  deflater_.reset();
  aes_keys_.reset();
  const int last_volume = output_->Volume();
  old_archive_.reset();
  if (updating_) zip_.Archive().ForceClose();
  const std::string last_name = output_->Commit();

  for (const std::string& path : dispose_list_) {
    bool skip = false;
    if (zip_.OnDisposeFile) zip_.OnDisposeFile(zip_, path, skip);
    // A source file that cannot be deleted simply stays where it was: nothing is lost by that.
    if (!skip) (void)platform::DeleteFile(path);
  }

  // The reader side now shows the archive just written.
  TEndCentral& reader_end = zip_.Archive().EndRecord();
  const bool carried = !updating_ && (reader_end.CommentModified() || zip_.carry_comment_);
  zip_.carry_comment_ = carried && new_end_.HasComment();
  if (multi_volume_ && last_volume > 0) zip_.AdoptZipName(last_name);
  zip_.Archive().AdoptWritten(std::move(new_dir_), new_end_, zip_.ZipName(), last_volume);

  if (multi_volume_) {
    if (zip_.OnTotalPercentDone) zip_.OnTotalPercentDone(zip_, 100);
    if (!zfc_bytes_.empty() && last_volume > 0) {
      const std::string failure = WriteZfcFile(zip_.ZipName(), zfc_bytes_);
      if (!failure.empty()) zip_.ShowAlert(failure, "");
    }
  }
}

void ZipRun::Abort() noexcept {
  try {
    SinkAbort();
  } catch (...) {
  }
  claimed_.reset();
  ahead_.reset();  // stops the workers: queued pieces are dropped, running ones finish
  input_.reset();
  old_archive_.reset();
  if (output_) output_->Discard();
  deflater_.reset();
  aes_keys_.reset();
}

void ZipRun::RestoreReader() noexcept {
  try {
    physical_.reset();
    hold_.reset();
    zip_.CloseZip();
  } catch (...) {
  }
  zip_.FilesList().clear();
}

}  // namespace kzb::zip
