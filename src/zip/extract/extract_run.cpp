// The extraction run: every chosen entry of the loaded directory goes through the same steps.
//
//  1. Its local header is read for the lengths of the name and extra field that precede the data (the
//     central directory's sizes, CRC and flags are the ones trusted; local headers of streamed entries
//     carry zeros).
//  2. The output path is built from DestDir and the stored folder. The stored path is untrusted: only its
//     ordinary components are used (safe_path.h), so "..", absolute paths and drive prefixes land below
//     the destination, and a folder that is a symbolic link leading out of the destination makes the entry
//     be skipped. An existing symbolic link at the output path is replaced by a regular file, never written
//     through. Entries stored as links, devices or other special files become regular files holding their
//     stored bytes.
//  3. An encrypted entry's password is checked (with OnBadPassword retries), the overwrite rule decides
//     about an existing file, the output file is created. An AES entry's password is checked by its
//     verifier; its data then flows through a decrypting stage (aes_entry_input.h) whose authentication
//     code is checked after decoding: an entry that fails it is damaged, and its output is deleted.
//  4. The data is decoded by the decompressor of its method, whose output arrives through
//     WriteOutputBlock: that is where the size limit (output beyond the declared size fails the entry),
//     the CRC and the progress percentages live. Input is pulled in blocks of 32 KiB, limited to the
//     entry's compressed size, decrypted as it is read, and continued on the next volume of a split set.
//  5. The CRC and the size decide: a match restores the file's time and attributes and counts the entry;
//     a mismatch deletes the file and reports it (OnBadCRC, or OnBadPassword / OnSkippingFile for an
//     encrypted entry). Damaged data (an archive that ends early, output longer or shorter than declared)
//     fails only that entry; the run goes on. Errors of the output device and of event handlers end the
//     run, after OnUnZipComplete has reported the count so far.
//
// Memory: one 32 KiB input block and the decoders' own fixed buffers; nothing grows with an entry's size.
#include "zip/extract/extract_run.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "platform/fs_path.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "zip/crypt/zip_crypt.h"
#include "zip/decompress/explode.h"
#include "zip/decompress/unreduce.h"
#include "zip/decompress/unshrink.h"
#include "zip/extract/safe_path.h"
#include "zip/filelist/match_pattern.h"
#include "zip/records/crc32.h"
#include "zip/records/dos_time.h"
#include "zip/records/zip_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

namespace {

std::string LowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && LowerAscii(text.substr(0, prefix.size())) == LowerAscii(prefix);
}

// Unix file type bits of the external attributes' high half.
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixRegular = 0100000;

}  // namespace

ExtractRun::ExtractRun(TVCLUnZip& reader, bool test_only)
    : reader_(reader), test_only_(test_only), input_buffer_(kCopyBlockSize) {}

ExtractRun::~ExtractRun() = default;

int ExtractRun::Percent(std::int64_t part, std::int64_t whole) {
  if (whole <= 0) return 0;
  const double value = std::nearbyint(static_cast<double>(part) * 100.0 / static_cast<double>(whole));
  return static_cast<int>(std::clamp(value, 0.0, 100.0));
}

int ExtractRun::Execute() {
  TVCLUnZip& r = reader_;
  const bool saved_keep = r.keep_zip_open_;
  r.keep_zip_open_ = true;
  if (!test_only_ && !r.dest_dir_.empty() && !platform::DirectoryExists(r.dest_dir_)) {
    platform::ForceDirectories(r.dest_dir_);
  }
  // A multi-volume archive is extracted in physical order, so each volume is visited once.
  TSortedZip* saved_listing = r.listing_;
  if (r.IsMultiVolume() && r.directory_) r.listing_ = r.directory_.get();

  auto finish = [&]() {
    r.files_list_.clear();
    r.listing_ = saved_listing;
    r.keep_zip_open_ = saved_keep;
    if (r.OnUnZipComplete) r.OnUnZipComplete(r, extracted_);
  };

  try {
    const int count = r.Count();
    int num_files = count;
    total_bytes_ = 0;
    bytes_done_ = 0;
    for (int i = 0; i < count; ++i) {
      TZipHeaderInfo& entry = r.ListingEntry(i);
      const bool folder = entry.FileName().empty();
      bool mark = r.do_all_;
      if (folder && !r.recreate_dirs_) {
        mark = false;
      } else if (!mark) {
        const std::string name = LowerAscii(entry.Directory() + entry.FileName());
        for (const std::string& pattern : r.files_list_) {
          if (MatchPattern(LowerAscii(pattern), name)) {
            mark = true;
            break;
          }
        }
      }
      entry.SetExtractMark(mark);
      if (mark && !folder) {
        total_bytes_ += std::max<std::int64_t>(0, entry.UncompressedSize());
      } else {
        --num_files;
      }
    }
    bool stop_now = false;
    if (r.OnStartUnZipInfo) r.OnStartUnZipInfo(r, num_files, total_bytes_, stop_now);
    if (num_files > 0 && !stop_now) {
      for (int i = 0; i < count; ++i) {
        if (!r.do_all_ && !r.ListingEntry(i).ExtractMark()) continue;
        while (ExtractEntry(i)) {
        }
      }
    }
  } catch (...) {
    if (output_) {
      output_->Close();
      output_.reset();
    }
    finish();
    throw;
  }
  finish();
  return extracted_;
}

void ExtractRun::Skip(TSkipReason reason, const std::string& fname, int index) {
  if (reader_.OnSkippingFile) {
    bool retry = false;
    reader_.OnSkippingFile(reader_, reason, fname, index, retry);
  }
  total_bytes_ -= std::max<std::int64_t>(0, entry_.UncompressedSize());
}

std::string ExtractRun::OutputFolder(const TZipHeaderInfo& entry) const {
  const TVCLUnZip& r = reader_;
  std::string relative;
  if (r.recreate_dirs_ && !entry.Directory().empty()) {
    std::string rest = entry.Directory();
    if (!r.root_dir_.empty() && StartsWithNoCase(rest, r.root_dir_)) rest = rest.substr(r.root_dir_.size());
    relative = SafeRelativeFolder(rest);
  }
  if (r.dest_dir_.empty()) return relative;
  return platform::IncludeTrailingSeparator(r.dest_dir_) + relative;
}

bool ExtractRun::MayOverwrite(int index, std::string& fname) {
  TVCLUnZip& r = reader_;
  if (r.overwrite_mode_ == TUZOverwriteMode::Always) return true;
  const std::uint32_t entry_date = FixDosDateTime(entry_.FileDateTime());
  std::uint32_t file_date = 0;
  try {
    file_date = platform::GetFileTime(fname).ToDos();
  } catch (const std::exception&) {
    file_date = 0;  // a dangling link: older than anything
  }
  switch (r.overwrite_mode_) {
    case TUZOverwriteMode::Never:
      return false;
    case TUZOverwriteMode::ifNewer:
      return entry_date > file_date;
    case TUZOverwriteMode::ifOlder:
      return entry_date < file_date;
    case TUZOverwriteMode::Prompt:
    default: {
      if (r.OnPromptForOverwrite) {
        bool overwrite = false;
        r.OnPromptForOverwrite(r, overwrite, index, fname);
        return overwrite;
      }
      if (r.OnAskYesNo) {
        return r.OnAskYesNo(r, "Replace existing file " + r.EntryName(index) + "?", "File Exists Alert");
      }
      return false;
    }
  }
}

bool ExtractRun::PrepareFolder(const std::string& folder) {
  if (ready_folders_.count(folder) != 0) return true;
  if (resolved_root_.empty()) {
    resolved_root_ = ResolvedFolder(reader_.dest_dir_.empty() ? platform::CurrentDir() : reader_.dest_dir_);
  }
  if (!IsInsideResolvedFolder(resolved_root_, folder.empty() ? std::string(".") : folder)) return false;
  if (!folder.empty() && !platform::DirectoryExists(folder)) platform::ForceDirectories(folder);
  ready_folders_.insert(folder);
  return true;
}

bool ExtractRun::CreateOutput(int index, const std::string& fname, bool exists) {
  TVCLUnZip& r = reader_;
  for (int attempt = 0; attempt < 2; ++attempt) {
    // A read-only file is replaced only with ReplaceReadOnly, even where the process could write it anyway.
    const std::int64_t attributes = exists ? platform::GetFileAttributes(fname) : -1;
    bool blocked = attributes >= 0 && (attributes & platform::kFaReadOnly) != 0 &&
                   (attributes & platform::kFaDirectory) == 0;
    if (!blocked) {
      try {
        output_ = std::make_unique<TLFNFileStream>(fname, kFmCreate, r.flush_files_on_close_, kDefaultBufferSize);
        return true;
      } catch (const platform::EFileError&) {
        blocked = true;
      }
    }
    if (!r.replace_read_only_ || attempt > 0) break;
    if (attributes >= 0 && (attributes & platform::kFaReadOnly) != 0) {
      platform::SetFileAttributes(fname, static_cast<std::uint32_t>(attributes) & ~platform::kFaReadOnly);
    }
  }
  Skip(TSkipReason::srFileOpenError, fname, index);
  return false;
}

void ExtractRun::RestoreTimeAndAttributes(const std::string& fname) const {
  try {
    platform::SetFileTime(fname, platform::DateTime::FromDos(FixDosDateTime(entry_.FileDateTime())));
  } catch (const std::exception&) {
    // A date that does not convert leaves the file's own time.
  }
  if (!reader_.retain_attributes_) return;
  const std::uint32_t external = entry_.ExternalAttributes();
  const std::uint32_t unix_mode = external >> 16;
  if ((entry_.VersionMadeBy() >> 8) == kHostUnix && unix_mode != 0) {
    // Permission bits of regular files only; never set-id bits, never the modes of links or devices.
    const std::uint32_t type = unix_mode & kUnixTypeMask;
    if (type == kUnixRegular || type == 0) {
      std::error_code ec;
      std::filesystem::permissions(platform::FsPath(fname), static_cast<std::filesystem::perms>(unix_mode & 0777),
                                   std::filesystem::perm_options::replace, ec);
    }
  } else if (platform::kNativeDosAttributes || (external & platform::kFaReadOnly) != 0) {
    platform::SetFileAttributes(fname, external & 0xFF);
  }
}

std::int64_t ExtractRun::ReadArchive(std::uint8_t* buffer, std::int64_t count) {
  TVCLUnZip& r = reader_;
  std::int64_t total = 0;
  while (total < count) {
    const std::int64_t got = r.archive_stream_->Read(buffer + total, count - total);
    if (got > 0) {
      total += got;
      continue;
    }
    if (r.IsMultiVolume() && r.current_disk_ + 1 < r.volume_count_) {
      r.SwitchToVolume(r.current_disk_ + 2);
      continue;
    }
    break;
  }
  return total;
}

std::size_t ExtractRun::ReadInput(std::uint8_t* buffer, std::size_t max) {
  if (aes_input_) {
    reader_.ProcessMessages();
    return aes_input_->Read(buffer, max);
  }
  if (remaining_input_ <= 0 || max == 0) return 0;
  const std::int64_t want = std::min<std::int64_t>(static_cast<std::int64_t>(max), remaining_input_);
  reader_.ProcessMessages();
  const std::int64_t got = ReadArchive(buffer, want);
  if (got < want) {
    remaining_input_ = 0;
    throw EFatalUnzipError("Premature end of file reached");
  }
  if (entry_.IsEncrypted()) reader_.crypt_.DecryptBuffer(buffer, static_cast<std::size_t>(got));
  remaining_input_ -= got;
  return static_cast<std::size_t>(got);
}

void ExtractRun::WriteOutputBlock(const std::uint8_t* data, std::size_t count) {
  TVCLUnZip& r = reader_;
  const auto length = static_cast<std::int64_t>(count);
  if (entry_bytes_ + length > entry_.UncompressedSize()) {
    throw EBiggerThanUncompressed("File is larger than uncompressed size!");
  }
  if (output_ && output_->Write(data, length) < length) throw ECantWriteUCF("Cant write uncompressed file");
  crc_ = UpdateCrcRegister(crc_, data, count);
  entry_bytes_ += length;
  if (r.OnFilePercentDone) r.OnFilePercentDone(r, Percent(entry_bytes_, entry_.UncompressedSize()));
  bytes_done_ += length;
  if (r.OnTotalPercentDone) r.OnTotalPercentDone(r, Percent(bytes_done_, total_bytes_));
}

void ExtractRun::CopyStored() {
  while (remaining_input_ > 0) {
    const std::size_t got = ReadInput(input_buffer_.data(), input_buffer_.size());
    if (got == 0) break;
    WriteOutputBlock(input_buffer_.data(), got);
  }
}

bool ExtractRun::ExtractEntry(int index) {
  TVCLUnZip& r = reader_;
  entry_ = r.ListingEntry(index);
  const bool folder_entry = entry_.FileName().empty();
  const std::string stored_name = entry_.Directory() + entry_.FileName();

  std::int64_t data_position = 0;
  if (!folder_entry) {
    if (r.IsMultiVolume() && static_cast<int>(entry_.DiskNumberStart()) != r.current_disk_) {
      r.SwitchToVolume(static_cast<int>(entry_.DiskNumberStart()) + 1);
    }
    std::uint8_t header[kLocalHeaderSize];
    r.archive_stream_->Seek(entry_.LocalHeaderOffset(), kSeekBegin);
    if (r.archive_stream_->Read(header, kLocalHeaderSize) != kLocalHeaderSize ||
        GetU32(header) != kLocalHeaderSignature) {
      Skip(TSkipReason::srBadData, stored_name, index);
      return false;
    }
    data_position = entry_.LocalHeaderOffset() + kLocalHeaderSize + GetU16(header + 26) + GetU16(header + 28);
  }

  const std::string folder = OutputFolder(entry_);
  if (folder_entry) {
    if (!test_only_ && r.recreate_dirs_ && !folder.empty() && !PrepareFolder(folder)) {
      Skip(TSkipReason::srUnsafePath, folder, index);
      return false;
    }
    ++extracted_;
    return false;
  }

  std::string fname = folder + SafeFileName(entry_.FileName());
  if (test_only_) {
    fname = stored_name;
  } else {
    const std::string planned = fname;
    bool skip = false;
    if (r.OnStartUnZip) r.OnStartUnZip(r, index, fname, skip);
    if (skip) return false;
    const std::string parent = platform::ExtractFilePath(fname);
    if (fname == planned) {
      if (!PrepareFolder(parent)) {
        Skip(TSkipReason::srUnsafePath, fname, index);
        return false;
      }
    } else if (!parent.empty() && !platform::DirectoryExists(parent)) {
      platform::ForceDirectories(parent);  // a name the caller's handler chose
    }
  }

  // Password check, with as many new passwords as the handler gives.
  aes_input_.reset();
  if (entry_.IsAes()) {
    aes_input_ = std::make_unique<TAesEntryInput>();
    const TAesEntryInput::RawReadFn raw = [this](std::uint8_t* buffer, std::int64_t count) {
      return ReadArchive(buffer, count);
    };
    while (true) {
      r.archive_stream_->Seek(data_position, kSeekBegin);
      const auto begun = aes_input_->Begin(r.password_, static_cast<TAesStrength>(entry_.AesStrength()),
                                           entry_.CompressedSize(), raw);
      if (begun == TAesEntryInput::BeginResult::kOk) break;
      if (begun == TAesEntryInput::BeginResult::kDamaged) {
        aes_input_.reset();
        Skip(TSkipReason::srBadData, stored_name, index);
        return false;
      }
      if (r.OnBadPassword) {
        std::string new_password = r.password_;
        r.OnBadPassword(r, index, new_password);
        if (new_password != r.password_) {
          r.password_ = new_password;
          continue;
        }
      }
      aes_input_.reset();
      Skip(TSkipReason::srBadPassword, stored_name, index);
      return false;
    }
    // The stream now stands at the first encrypted byte; the decoders see only the compressed bytes.
    entry_.SetCompressedSize(aes_input_->Remaining());
    data_position = r.archive_stream_->Position();
  } else if (entry_.IsEncrypted()) {
    while (true) {
      r.archive_stream_->Seek(data_position, kSeekBegin);
      const int check = r.crypt_.CheckHeader(r.password_, *r.archive_stream_);
      if (check >= 0 && static_cast<std::uint8_t>(check) == ExpectedCheckByte(entry_)) break;
      if (r.OnBadPassword) {
        std::string new_password = r.password_;
        r.OnBadPassword(r, index, new_password);
        if (new_password != r.password_) {
          r.password_ = new_password;
          continue;
        }
      }
      Skip(TSkipReason::srBadPassword, stored_name, index);
      return false;
    }
    entry_.SetCompressedSize(entry_.CompressedSize() - kEncryptionHeaderSize);
    data_position += kEncryptionHeaderSize;
  }

  bool created = false;
  if (!test_only_) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::file_status status = fs::symlink_status(platform::FsPath(fname), ec);
    const bool exists = !ec && fs::exists(status) && !fs::is_directory(status);
    if (exists && !MayOverwrite(index, fname)) {
      Skip(TSkipReason::srNoOverwrite, fname, index);
      return false;
    }
    if (exists) {
      status = fs::symlink_status(platform::FsPath(fname), ec);  // the prompt may have changed the name
      if (!ec && fs::is_symlink(status)) fs::remove(platform::FsPath(fname), ec);  // write a file, never through a link
    }
    if (!CreateOutput(index, fname, exists)) return false;
    created = true;
  }

  // Decode.
  r.archive_stream_->Seek(data_position, kSeekBegin);  // (an AES entry: where its verifier check left it)
  crc_ = kCrcRegisterPreset;
  entry_bytes_ = 0;
  remaining_input_ = std::max<std::int64_t>(0, entry_.CompressedSize());
  bool completed = true;
  bool damaged = entry_.CompressedSize() < 0;
  const InputFn input = [this](std::uint8_t* buffer, std::size_t max) { return ReadInput(buffer, max); };
  const OutputBlockFn output = [this](const std::uint8_t* data, std::size_t count) {
    WriteOutputBlock(data, count);
  };
  const auto usize = static_cast<std::uint64_t>(std::max<std::int64_t>(0, entry_.UncompressedSize()));
  bool authentic = true;
  try {
    DecodeResult result = DecodeResult::kOk;
    switch (entry_.DataMethod()) {
      case kMethodStored:
        CopyStored();
        break;
      case kMethodShrunk:
        result = Unshrink(input, output);
        break;
      case kMethodReduced1:
      case kMethodReduced2:
      case kMethodReduced3:
      case kMethodReduced4:
        result = Unreduce(input, output, entry_.DataMethod() - 1, usize);
        break;
      case kMethodImploded:
        result = Explode(input, output, entry_.GeneralFlags(),
                         static_cast<std::uint64_t>(std::max<std::int64_t>(0, entry_.CompressedSize())), usize);
        break;
      case kMethodDeflated:
        if (!inflater_) inflater_ = std::make_unique<TInflater>();
        result = inflater_->Inflate(input, output);
        break;
      default:
        r.ShowAlert("Unknown Compression Method", "Zip Error");
        damaged = true;
        break;
    }
    if (result != DecodeResult::kOk) damaged = true;
    // Every stored byte of an AES entry must pass its authentication code, also what a decoder left.
    if (aes_input_ && !aes_input_->Finish()) authentic = false;
  } catch (const EBiggerThanUncompressed&) {
    completed = false;
    damaged = true;
  } catch (const EFatalUnzipError&) {
    // The archive ends inside this entry's data: the entry fails, the run goes on.
    completed = false;
    damaged = true;
  } catch (...) {
    if (output_) {
      output_->Close();
      output_.reset();
    }
    throw;
  }
  if (output_) {
    const bool flushed = output_->Close();
    output_.reset();
    if (!flushed) throw ECantWriteUCF("Cant write uncompressed file");
  }
  if (completed && created) RestoreTimeAndAttributes(fname);

  const std::uint32_t final_crc = FinishCrc(crc_);
  // AE-2 entries store no CRC; their authentication code stands in for it.
  const bool crc_stored = !entry_.IsAes() || entry_.AesVendorVersion() == kAesVersionAe1;
  const bool crc_ok = !crc_stored || final_crc == entry_.Crc32();
  const bool aes = aes_input_ != nullptr;
  aes_input_.reset();
  if (crc_ok && !damaged && authentic && completed && entry_bytes_ == entry_.UncompressedSize()) {
    if (r.OnEndUnZip) r.OnEndUnZip(r, index, fname);
    ++extracted_;
    return false;
  }
  if (created) platform::DeleteFile(fname);
  if (aes) {
    // The password passed the verifier: a failure here is damage (or tampering), not a wrong password.
    if (authentic && !damaged && completed && !crc_ok) {
      if (r.OnBadCRC) r.OnBadCRC(r, final_crc, entry_.Crc32(), index);
    } else {
      Skip(TSkipReason::srBadData, test_only_ ? stored_name : fname, index);
    }
    return false;
  }
  if (entry_.IsEncrypted()) {
    if (r.OnBadPassword) {
      std::string new_password = r.password_;
      r.OnBadPassword(r, index, new_password);
      if (new_password != r.password_) {
        r.password_ = new_password;
        return true;
      }
    }
    Skip(TSkipReason::srBadPassword, stored_name, index);
    return false;
  }
  if (!crc_ok) {
    if (r.OnBadCRC) r.OnBadCRC(r, final_crc, entry_.Crc32(), index);
  } else {
    Skip(TSkipReason::srBadData, test_only_ ? stored_name : fname, index);
  }
  return false;
}

// --- The reader's extraction operations --------------------------------------------------------------------

namespace {

int RunExtraction(TVCLUnZip& reader, bool& busy, const std::function<void()>& prepare, ExtractRun& run,
                  const std::function<void()>& done) {
  (void)reader;
  struct BusyGuard {
    bool& flag;
    ~BusyGuard() { flag = false; }
  } guard{busy};
  busy = true;
  prepare();
  const int extracted = run.Execute();
  done();
  return extracted;
}

}  // namespace

int TVCLUnZip::UnZip() {
  if (dest_dir_ == "?") return 0;
  ExtractRun run(*this, false);
  return RunExtraction(*this, busy_, [this] { ReadZip(); OpenZip(); }, run, [this] { CloseZip(); });
}

int TVCLUnZip::Test() {
  ExtractRun run(*this, true);
  return RunExtraction(*this, busy_, [this] { ReadZip(); OpenZip(); }, run, [this] { CloseZip(); });
}

}  // namespace kzb::zip
