// The extraction run: every chosen entry of the loaded directory goes through the same steps.
//
//  1. Its local header is read for the lengths of the name and extra field that precede the data (the
//     central directory's sizes, CRC and flags are the ones trusted; local headers of streamed entries
//     carry zeros).
//  2. The output path is built from DestDir and the stored folder. The stored path is untrusted: only its
//     ordinary components are used (safe_path.h), so "..", absolute paths and drive prefixes land below
//     the destination, and a folder that is a symbolic link leading out of the destination makes the entry
//     be skipped. Entries stored as links, devices or other special files become regular files holding
//     their stored bytes.
//  3. An encrypted entry's password is checked (with OnBadPassword retries), and the overwrite rule
//     decides about an existing file. An AES entry's password is checked by its verifier; its data then
//     flows through a decrypting stage (aes_entry_input.h) whose authentication code is checked after
//     decoding: an entry that fails it is damaged.
//  4. The data is decoded by the decompressor of its method into a temporary file in the target's folder;
//     output arrives through WriteOutputBlock, where the size limit (output beyond the declared size fails
//     the entry), the CRC and the progress percentages live. Input is pulled in blocks of 32 KiB, limited
//     to the entry's compressed size, decrypted as it is read, and continued on the next volume of a set.
//  5. The CRC and the size decide: a match gives the temporary file the entry's time and Unix mode,
//     renames it over the target (an existing symbolic link there is replaced, never written through) and
//     then gives the target the entry's DOS attributes, which not every system carries over a rename; a
//     mismatch removes the temporary file and reports the entry (OnBadCRC, or OnBadPassword /
//     OnSkippingFile). Either way an existing file is untouched until its replacement is complete and
//     checked, and no temporary file is left behind.
//
// Errors: bad data fails only its entry (damaged data, the archive ending inside the entry, an unknown
// method are reported through OnSkippingFile or OnBadCRC) and the run goes on. A failing output device (a
// full disk, a file too large, an I/O error) and the errors of event handlers end the run, after
// OnUnZipComplete has reported the count so far: the device's own error reaches the caller. Before
// anything is written, the declared sizes of the chosen entries are compared with the destination's free
// space.
//
// With more than one thread, small deflated entries without a password are inflated and their CRCs computed
// ahead on workers (inflate_ahead.h; extracting without writing ahead, one worker fewer than the threads asked
// for); their bytes then enter step 4 through WriteOutputBlock as if decoded here, so steps 2, 3 and 5 and every
// event are unchanged and in the listing's order. When the files need no flush, the workers also write such an
// entry into a temporary file of their own in the destination folder (extract_ahead.cpp); step 4 then takes
// that file instead of making one, unless the entry replaces a file (which is flushed, so written here), and
// step 5 moves it into place (a move that fails, as across file systems, has the entry written here after
// all). An entry whose decoding ahead did not end cleanly at its declared size is decoded here, and its fault
// reported, as without workers. A large entry decoded here has its output written to the temporary file by a
// thread of its own (write_behind_stream.h) while the decoder goes on; the file is complete and its device's
// verdict known before step 5.
//
// Memory: one 32 KiB input block and the decoders' own fixed buffers; nothing grows with an entry's size.
// Decoding ahead holds the entries planned ahead, bounded in bytes and count; writing behind, four chunks
// of 1 MiB.
#include "zip/extract/extract_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/file_system.h"
#include "platform/fs_path.h"
#include "platform/path.h"
#include "zip/decompress/bzip2_decoder.h"
#include "zip/decompress/explode.h"
#include "zip/decompress/lzma_decoder.h"
#include "zip/decompress/unreduce.h"
#include "zip/decompress/unshrink.h"
#include "zip/decompress/zstd_decoder.h"
#include "zip/extract/safe_path.h"
#include "zip/filelist/match_pattern.h"
#include "zip/records/ascii_text.h"
#include "zip/records/crc32.h"
#include "zip/records/dos_time.h"
#include "zip/records/zip_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

namespace {

// Longest name part of a local header plus its extra field: what may follow a local header offset.
constexpr std::int64_t kMaxLocalHeaderSize = kLocalHeaderSize + 2 * std::int64_t{kMaxFieldLength};
// Entries from this size on are written behind their decoding when there is more than one thread.
constexpr std::int64_t kWriteBehindMinSize = 1 << 20;

// The output device took fewer bytes than it was given.
[[noreturn]] void ThrowCantWrite(const std::string& fname) {
  throw ECantWriteUCF("Cant write uncompressed file \"" + fname + "\": the disk is full or the file too large");
}

}  // namespace

ExtractRun::ExtractRun(TVCLUnZip& reader, TOpenArchive& archive, bool test_only)
    : reader_(reader),
      archive_(archive),
      test_only_(test_only),
      temp_names_(std::random_device{}()),
      input_buffer_(kCopyBlockSize) {}

ExtractRun::~ExtractRun() {
  DiscardOutput();
}

int ExtractRun::Percent(std::int64_t part, std::int64_t whole) {
  if (whole <= 0) return 0;
  const double value = std::nearbyint(static_cast<double>(part) * 100.0 / static_cast<double>(whole));
  return static_cast<int>(std::clamp(value, 0.0, 100.0));
}

// --- The run -------------------------------------------------------------------------------------------------

int ExtractRun::Execute() {
  try {
    ExtractSelected();
  } catch (...) {
    ahead_item_.reset();
    ahead_.reset();  // stops the workers
    DiscardOutput();
    RestoreFolders();
    Finish();
    throw;
  }
  RestoreFolders();
  Finish();
  return extracted_;
}

void ExtractRun::ExtractSelected() {
  // The archive stays open for the whole run; a multi-volume archive is extracted in physical order, so
  // each volume is visited once.
  TOpenArchive::Hold hold(archive_);
  std::optional<TOpenArchive::PhysicalOrder> physical;
  if (archive_.IsMultiVolume()) physical.emplace(archive_);
  if (!test_only_ && !reader_.DestDir().empty() && !platform::DirectoryExists(reader_.DestDir())) {
    // A destination that cannot be made is reported entry by entry: each file then cannot be created.
    (void)platform::ForceDirectories(reader_.DestDir());
  }
  const int count = SelectEntries();
  bool stop_now = false;
  if (reader_.OnStartUnZipInfo) reader_.OnStartUnZipInfo(reader_, num_files_, total_bytes_, stop_now);
  if (num_files_ <= 0 || stop_now) return;
  if (!test_only_) CheckFreeSpace();
  write_behind_ = !test_only_ && TWorkerPool::ResolveThreads(reader_.Threads()) > 1;
  StartDecodingAhead(count);
  for (int i = 0; i < count; ++i) {
    if (!reader_.DoAll() && !archive_.Entry(i).ExtractMark()) continue;
    if (ahead_) ahead_item_ = ahead_->Claim(i);
    while (ExtractEntry(i)) {
      ahead_item_.reset();  // a second attempt decodes by itself
    }
    if (ahead_) {
      ahead_item_.reset();
      ahead_->Release(i);
    }
  }
  ahead_.reset();
}

std::int64_t ExtractRun::DataPositionOf(const TZipHeaderInfo& entry) {
  const std::int64_t offset = entry.LocalHeaderOffset();
  if (offset < 0 || offset > INT64_MAX - kMaxLocalHeaderSize) return -1;
  archive_.GoToVolumeOf(entry);
  TStream& stream = archive_.Stream();
  std::uint8_t header[kLocalHeaderSize];
  stream.Seek(offset, kSeekBegin);
  if (stream.Read(header, kLocalHeaderSize) != kLocalHeaderSize || GetU32(header) != kLocalHeaderSignature) {
    return -1;
  }
  return offset + kLocalHeaderSize + GetU16(header + local_header::kNameLength) +
         GetU16(header + local_header::kExtraLength);
}

// Marks the chosen entries; returns the listing's count. NumFiles and the byte total count the marked
// file entries only.
int ExtractRun::SelectEntries() {
  const int count = archive_.Count();
  num_files_ = count;
  total_bytes_ = 0;
  bytes_done_ = 0;
  for (int i = 0; i < count; ++i) {
    TZipHeaderInfo& entry = archive_.Entry(i);
    const bool folder = entry.FileName().empty();
    bool mark = reader_.DoAll();
    if (folder && !reader_.RecreateDirs()) {
      mark = false;
    } else if (!mark) {
      const std::string name = LowerAscii(entry.Directory() + entry.FileName());
      for (const std::string& pattern : reader_.FilesList()) {
        if (MatchPattern(LowerAscii(pattern), name)) {
          mark = true;
          break;
        }
      }
    }
    entry.SetExtractMark(mark);
    if (mark && !folder) {
      total_bytes_ = AddSaturating(total_bytes_, entry.UncompressedSize());
    } else {
      --num_files_;
    }
  }
  return count;
}

// Refuses early when the destination cannot hold what the chosen entries declare.
void ExtractRun::CheckFreeSpace() const {
  const std::string folder = reader_.DestDir().empty() ? std::string(".") : reader_.DestDir();
  const std::int64_t free = platform::DiskFreeSpace(folder);
  if (free < 0 || total_bytes_ <= free) return;
  throw ENotEnoughSpace("Not enough free space in \"" + folder + "\": the entries to extract need " +
                        std::to_string(total_bytes_) + " bytes, " + std::to_string(free) + " bytes are free");
}

void ExtractRun::Finish() {
  reader_.FilesList().clear();
  if (reader_.OnUnZipComplete) reader_.OnUnZipComplete(reader_, extracted_);
}

void ExtractRun::Skip(TSkipReason reason, const std::string& fname, int index) {
  if (reader_.OnSkippingFile) {
    bool retry = false;
    reader_.OnSkippingFile(reader_, reason, fname, index, retry);
  }
  total_bytes_ -= std::max<std::int64_t>(0, std::min(total_bytes_, entry_.UncompressedSize()));
}

// --- One entry -----------------------------------------------------------------------------------------------

bool ExtractRun::ExtractEntry(int index) {
  entry_ = archive_.Entry(index);
  stored_name_ = entry_.Directory() + entry_.FileName();
  aes_input_.reset();
  authentic_ = true;
  if (entry_.FileName().empty()) return ExtractFolderEntry(index);
  if (ahead_item_) {
    data_position_ = ahead_item_->data_position;  // its local header was read when it was planned
  } else if (!LocateData(index)) {
    return false;
  }
  std::string fname;
  if (!PrepareOutputPath(index, fname)) return false;
  if (entry_.IsEncrypted() && !CheckPassword(index)) return false;
  bool replaces = false;
  if (!test_only_ && !DecideOverwrite(index, fname, replaces)) return false;
  if (!test_only_ && !OpenOutput(index, fname, replaces)) return false;
  const DecodeResult result = DecodeEntryData();
  return FinishEntry(index, fname, result);
}

bool ExtractRun::ExtractFolderEntry(int index) {
  const std::string folder = OutputFolder(entry_);
  if (!test_only_ && reader_.RecreateDirs() && !folder.empty()) {
    if (!PrepareFolder(folder)) {
      Skip(TSkipReason::srUnsafePath, folder, index);
      return false;
    }
    RememberFolder(folder);
  }
  ++extracted_;
  return false;
}

// Reads the local header for the lengths in front of the data.
bool ExtractRun::LocateData(int index) {
  data_position_ = DataPositionOf(entry_);
  if (data_position_ < 0) {
    Skip(TSkipReason::srBadData, stored_name_, index);
    return false;
  }
  return true;
}

// The output path (changed by OnStartUnZip if its handler wants), with its folder made and checked.
bool ExtractRun::PrepareOutputPath(int index, std::string& fname) {
  fname = OutputFolder(entry_) + SafeFileName(entry_.FileName());
  if (test_only_) {
    fname = stored_name_;
    return true;
  }
  const std::string planned = fname;
  bool skip = false;
  if (reader_.OnStartUnZip) reader_.OnStartUnZip(reader_, index, fname, skip);
  if (skip) return false;
  const std::string parent = platform::ExtractFilePath(fname);
  if (fname == planned) {
    if (!PrepareFolder(parent)) {
      Skip(TSkipReason::srUnsafePath, fname, index);
      return false;
    }
  } else if (!parent.empty() && !platform::DirectoryExists(parent)) {
    // A name the caller's handler chose; a folder that cannot be made fails the file's creation next.
    (void)platform::ForceDirectories(parent);
  }
  return true;
}

// The password check, with as many new passwords as the handler gives.
bool ExtractRun::CheckPassword(int index) {
  if (entry_.IsAes()) return CheckAesPassword(index);
  TStream& stream = archive_.Stream();
  while (true) {
    stream.Seek(data_position_, kSeekBegin);
    const int check = crypt_.CheckHeader(reader_.Password(), stream);
    if (check >= 0 && static_cast<std::uint8_t>(check) == ExpectedCheckByte(entry_)) break;
    if (reader_.OnBadPassword) {
      std::string new_password = reader_.Password();
      reader_.OnBadPassword(reader_, index, new_password);
      if (new_password != reader_.Password()) {
        reader_.SetPassword(new_password);
        continue;
      }
    }
    Skip(reader_.Password().empty() ? TSkipReason::srPasswordNeeded : TSkipReason::srBadPassword, stored_name_, index);
    return false;
  }
  entry_.SetCompressedSize(entry_.CompressedSize() - kEncryptionHeaderSize);
  data_position_ += kEncryptionHeaderSize;
  return true;
}

// An AES entry's password, checked by its verifier; afterwards the stream stands at the first encrypted
// byte and the decoders see only the compressed bytes.
bool ExtractRun::CheckAesPassword(int index) {
  aes_input_ = std::make_unique<TAesEntryInput>();
  const TAesEntryInput::RawReadFn raw = [this](std::uint8_t* buffer, std::int64_t count) {
    return archive_.ReadAcrossVolumes(buffer, count);
  };
  while (true) {
    archive_.Stream().Seek(data_position_, kSeekBegin);
    const auto begun = aes_input_->Begin(reader_.Password(), static_cast<TAesStrength>(entry_.AesStrength()),
                                         entry_.CompressedSize(), raw);
    if (begun == TAesEntryInput::BeginResult::kOk) break;
    if (begun == TAesEntryInput::BeginResult::kDamaged) {
      aes_input_.reset();
      Skip(TSkipReason::srBadData, stored_name_, index);
      return false;
    }
    if (reader_.OnBadPassword) {
      std::string new_password = reader_.Password();
      reader_.OnBadPassword(reader_, index, new_password);
      if (new_password != reader_.Password()) {
        reader_.SetPassword(new_password);
        continue;
      }
    }
    aes_input_.reset();
    Skip(reader_.Password().empty() ? TSkipReason::srPasswordNeeded : TSkipReason::srBadPassword, stored_name_, index);
    return false;
  }
  entry_.SetCompressedSize(aes_input_->Remaining());
  data_position_ = archive_.Stream().Position();
  return true;
}

// The overwrite rule for an existing file; replaces tells whether one is there.
bool ExtractRun::DecideOverwrite(int index, std::string& fname, bool& replaces) {
  namespace fs = std::filesystem;
  auto is_file_there = [](const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(platform::FsPath(path), ec);
    return !ec && fs::exists(status) && !fs::is_directory(status);
  };
  replaces = is_file_there(fname);
  if (!replaces) return true;
  if (!MayOverwrite(index, fname)) {
    Skip(TSkipReason::srNoOverwrite, fname, index);
    return false;
  }
  replaces = is_file_there(fname);  // the prompt may have changed the name
  if (!replaces) return true;
  // A read-only file is replaced only with ReplaceReadOnly, even where the process could replace it anyway.
  // Its attribute is cleared only when the new content is complete (CommitOutput), so a failed entry
  // leaves the file as it was.
  const std::int64_t attributes = platform::GetFileAttributes(fname);
  if (attributes >= 0 && (attributes & platform::kFaReadOnly) != 0 && (attributes & platform::kFaDirectory) == 0 &&
      !reader_.ReplaceReadOnly()) {
    Skip(TSkipReason::srFileOpenError, fname, index);
    return false;
  }
  return true;
}

std::string ExtractRun::TemporaryName(const std::string& folder, std::mt19937& names) {
  char name[40];
  std::snprintf(name, sizeof name, ".kzb-%08x.tmp", static_cast<unsigned>(names()));
  return folder + name;
}

std::unique_ptr<TFileStream> ExtractRun::CreateTemporary(const std::string& folder, std::mt19937& names,
                                                         std::string& path) {
  namespace fs = std::filesystem;
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    const std::string candidate = TemporaryName(folder, names);
    try {
      auto file = std::make_unique<TFileStream>(candidate, platform::File::Mode::kCreateNew);
      path = candidate;
      return file;
    } catch (const platform::EFCreateError&) {
      std::error_code ec;
      if (!fs::exists(fs::symlink_status(platform::FsPath(candidate), ec))) throw;  // not a name taken
    }
  }
  path.clear();
  return nullptr;
}

// Creates the temporary file the entry is decoded into, in the target's own folder (so the final rename
// stays on one file system).
bool ExtractRun::OpenOutput(int index, const std::string& fname, bool replaces) {
  namespace fs = std::filesystem;
  const std::string folder = platform::ExtractFilePath(fname);
  temp_path_.clear();
  temp_is_file_ = false;
  staged_ = false;
  if (ahead_item_ && staging_ && AdoptStaged(fname, replaces)) return true;
  try {
    if (reader_.OutputDeviceFactory()) {
      // The test seam's device: a name where nothing is yet.
      for (int attempt = 0; attempt < kTempNameAttempts && temp_path_.empty(); ++attempt) {
        const std::string path = TemporaryName(folder, temp_names_);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(platform::FsPath(path), ec))) continue;
        temp_path_ = path;
        device_ = reader_.OutputDeviceFactory()(temp_path_);
      }
    } else if (auto file = CreateTemporary(folder, temp_names_, temp_path_)) {
      temp_is_file_ = true;
      file_device_ = file.get();
      device_ = std::move(file);
    }
    if (temp_path_.empty()) throw platform::EFCreateError("no unused temporary name");
  } catch (const platform::EFileError&) {
    DiscardOutput();
    Skip(TSkipReason::srFileOpenError, fname, index);
    return false;
  }
  // A large entry decoded here is written by a thread of its own while the next bytes are decoded.
  if (write_behind_ && !ahead_item_ && entry_.UncompressedSize() >= kWriteBehindMinSize) {
    behind_ = std::make_unique<TWriteBehindStream>(*device_, true);
    output_ = std::make_unique<TS_BufferStream>(*behind_, kDefaultBufferSize);
  } else {
    output_ = std::make_unique<TS_BufferStream>(*device_, kDefaultBufferSize);
  }
  target_ = fname;
  replacing_ = replaces;
  sync_output_ = reader_.FlushFilesOnClose() || replaces;
  return true;
}

DecodeResult ExtractRun::DecodeEntryData() {
  crc_ = kCrcRegisterPreset;
  entry_bytes_ = 0;
  remaining_input_ = std::max<std::int64_t>(0, entry_.CompressedSize());
  input_truncated_ = false;
  output_oversize_ = false;
  const InputFn input = [this](std::uint8_t* buffer, std::size_t max) { return ReadInput(buffer, max); };
  const OutputBlockFn output = [this](const std::uint8_t* data, std::size_t count) { WriteOutputBlock(data, count); };
  const auto usize = static_cast<std::uint64_t>(std::max<std::int64_t>(0, entry_.UncompressedSize()));
  const auto csize = static_cast<std::uint64_t>(std::max<std::int64_t>(0, entry_.CompressedSize()));
  crc_done_ = behind_ != nullptr;  // the thread writing behind keeps it
  if (ahead_item_ && entry_.DataMethod() == kMethodDeflated && !entry_.IsEncrypted()) {
    ahead_->Wait(*ahead_item_);
    if (ahead_item_->ok) {
      // Decoded and checked ahead: hand the bytes over as the decoder would have.
      const std::span<const std::uint8_t> data = ahead_item_->Decoded();
      crc_done_ = true;
      const DecodeResult result = DecodeGuarded([&] {
        for (std::size_t pos = 0; pos < data.size(); pos += kOutputBlockSize) {
          WriteOutputBlock(data.data() + pos, std::min(kOutputBlockSize, data.size() - pos));
        }
        return DecodeResult::kOk;
      });
      crc_done_ = false;
      crc_ = ~ahead_item_->crc;
      return result;
    }
  }
  archive_.Stream().Seek(data_position_, kSeekBegin);
  const DecodeResult result = DecodeGuarded([&] {
    switch (entry_.DataMethod()) {
      case kMethodStored:
        CopyStored();
        return DecodeResult::kOk;
      case kMethodShrunk:
        return Unshrink(input, output);
      case kMethodReduced1:
      case kMethodReduced2:
      case kMethodReduced3:
      case kMethodReduced4:
        return Unreduce(input, output, entry_.DataMethod() - 1, usize);
      case kMethodImploded:
        return Explode(input, output, entry_.GeneralFlags(), csize, usize);
      case kMethodDeflated:
        if (!inflater_) inflater_ = std::make_unique<TInflater>(InflateFormat::kDeflate);
        return inflater_->Inflate(input, output);
      case kMethodDeflate64:
        if (!inflater64_) inflater64_ = std::make_unique<TInflater>(InflateFormat::kDeflate64);
        return inflater64_->Inflate(input, output);
#if KZB_LIBRARY_CODECS
      case kMethodBzip2:
        return DecodeBzip2(input, output, usize);
      case kMethodLzma:
        return DecodeLzma(input, output, entry_.GeneralFlags(), usize);
      case kMethodXz:
        return DecodeXz(input, output, usize);
      case kMethodZstd:
        return DecodeZstd(input, output, usize);
#endif
      default:  // PPMd among others (and the library methods in a build without the libraries)
        return DecodeResult::kUnsupportedMethod;
    }
  });
  // Every stored byte of an AES entry must pass its authentication code, also what a decoder left.
  if (aes_input_ && result != DecodeResult::kUnsupportedMethod && !aes_input_->Finish()) authentic_ = false;
  return result;
}

// The verdict on a decoded entry: commit the output, or report why not.
bool ExtractRun::FinishEntry(int index, const std::string& fname, DecodeResult result) {
  if (output_ && !CloseOutput()) {
    ThrowCantWrite(fname);
  }
  const std::string reported = test_only_ ? stored_name_ : fname;
  if (result == DecodeResult::kUnsupportedMethod) {
    DiscardOutput();
    Skip(TSkipReason::srUnsupportedMethod, reported, index);
    return false;
  }
  if (input_truncated_) {
    DiscardOutput();
    Skip(TSkipReason::srTruncated, reported, index);
    return false;
  }
  const std::uint32_t final_crc = FinishCrc(crc_);
  // AE-2 entries store no CRC; their authentication code stands in for it.
  const bool crc_stored = !entry_.IsAes() || entry_.AesVendorVersion() == kAesVersionAe1;
  const bool crc_ok = !crc_stored || final_crc == entry_.Crc32();
  const bool complete = result == DecodeResult::kOk && !output_oversize_ && authentic_;
  if (crc_ok && complete && entry_bytes_ == entry_.UncompressedSize()) {
    if (!test_only_ && !CommitOutput(index, fname)) return false;
    if (reader_.OnEndUnZip) reader_.OnEndUnZip(reader_, index, fname);
    ++extracted_;
    return false;
  }
  DiscardOutput();
  if (entry_.IsAes()) {
    // The password passed the verifier: a failure here is damage (or tampering), not a wrong password.
    if (authentic_ && complete && !crc_ok) {
      if (reader_.OnBadCRC) reader_.OnBadCRC(reader_, final_crc, entry_.Crc32(), index);
    } else {
      Skip(TSkipReason::srBadData, test_only_ ? stored_name_ : fname, index);
    }
    return false;
  }
  return ReportFailedEntry(index, fname, crc_ok, final_crc);
}

// Gives the checked temporary file the entry's time and attributes and renames it over the target.
// DOS attributes go on after the rename: a file system may keep them apart from the file's data and
// not carry them over a rename (Wine takes a name that begins with "." as the hidden bit itself, and drops
// the stored one).
bool ExtractRun::CommitOutput(int index, const std::string& fname) {
  if (staged_) {
    RestoreMode(temp_path_, true);
    if (platform::ReplaceFile(temp_path_, fname)) {
      temp_path_.clear();
      staged_ = false;
      RestoreDosAttributes(fname);
      return true;
    }
    // Written ahead into the destination folder, which may lie on another file system than the target's
    // folder: written here again, in the target's own folder.
    DiscardOutput();
    staged_ = false;
    if (!OpenOutput(index, fname, false)) return false;
    const std::span<const std::uint8_t> data = ahead_item_->Decoded();
    if (output_->Write(data.data(), static_cast<std::int64_t>(data.size())) < static_cast<std::int64_t>(data.size()) ||
        !CloseOutput()) {
      ThrowCantWrite(fname);
    }
  }
  RestoreTimeAndAttributes(temp_path_, !replacing_);
  // Where the read-only attribute blocks a rename over the file (Windows), it is cleared just before and
  // given back when the rename fails anyway; elsewhere the rename replaces the file as it is.
  std::int64_t read_only_attributes = -1;
  if (replacing_ && platform::kNativeDosAttributes) {
    const std::int64_t attributes = platform::GetFileAttributes(fname);
    if (attributes >= 0 && (attributes & platform::kFaReadOnly) != 0) {
      read_only_attributes = attributes;
      const bool cleared =
          platform::SetFileAttributes(fname, static_cast<std::uint32_t>(attributes) & ~platform::kFaReadOnly);
      static_cast<void>(cleared);  // the rename below tells whether the file could be replaced
    }
  }
  if (!platform::ReplaceFile(temp_path_, fname)) {
    if (read_only_attributes >= 0) {
      const bool restored = platform::SetFileAttributes(fname, static_cast<std::uint32_t>(read_only_attributes));
      static_cast<void>(restored);
    }
    DiscardOutput();
    Skip(TSkipReason::srFileOpenError, fname, index);
    return false;
  }
  temp_path_.clear();
  RestoreDosAttributes(fname);
  return true;
}

// A wrong password gets another chance through OnBadPassword; otherwise the entry is reported.
bool ExtractRun::ReportFailedEntry(int index, const std::string& fname, bool crc_ok, std::uint32_t final_crc) {
  if (entry_.IsEncrypted()) {
    if (reader_.OnBadPassword) {
      std::string new_password = reader_.Password();
      reader_.OnBadPassword(reader_, index, new_password);
      if (new_password != reader_.Password()) {
        reader_.SetPassword(new_password);
        return true;
      }
    }
    Skip(TSkipReason::srBadPassword, stored_name_, index);
    return false;
  }
  if (!crc_ok) {
    if (reader_.OnBadCRC) reader_.OnBadCRC(reader_, final_crc, entry_.Crc32(), index);
  } else {
    Skip(TSkipReason::srBadData, test_only_ ? stored_name_ : fname, index);
  }
  return false;
}

bool ExtractRun::CloseOutput() {
  const bool flushed = output_->Flush() && (!behind_ || behind_->Flush());
  if (behind_ && crc_done_) crc_ = behind_->CrcRegister();
  if (flushed && sync_output_ && file_device_ != nullptr) file_device_->FlushToDisk();
  output_.reset();
  behind_.reset();
  file_device_ = nullptr;
  device_.reset();
  return flushed;
}

void ExtractRun::DiscardOutput() noexcept {
  try {
    output_.reset();  // its destructor's flush swallows errors
  } catch (...) {
  }
  behind_.reset();  // drops what the device has not taken yet
  file_device_ = nullptr;
  device_.reset();
  if (!temp_path_.empty()) {
    // Nothing more can be done when the temporary file cannot be removed; the target is untouched anyway.
    const bool removed = platform::DeleteFile(temp_path_);
    static_cast<void>(removed);
    temp_path_.clear();
  }
}

// --- Input and output ----------------------------------------------------------------------------------------

std::size_t ExtractRun::ReadInput(std::uint8_t* buffer, std::size_t max) {
  if (aes_input_) {
    reader_.ProcessMessages();
    try {
      return aes_input_->Read(buffer, max);
    } catch (const EFatalUnzipError&) {
      input_truncated_ = true;
      throw;
    }
  }
  if (remaining_input_ <= 0 || max == 0) return 0;
  const std::int64_t want = std::min<std::int64_t>(static_cast<std::int64_t>(max), remaining_input_);
  reader_.ProcessMessages();
  const std::int64_t got = archive_.ReadAcrossVolumes(buffer, want);
  if (got < want) {
    remaining_input_ = 0;
    input_truncated_ = true;
    throw EFatalUnzipError("Premature end of file reached");
  }
  if (entry_.IsEncrypted()) crypt_.DecryptBuffer(buffer, static_cast<std::size_t>(got));
  remaining_input_ -= got;
  return static_cast<std::size_t>(got);
}

void ExtractRun::WriteOutputBlock(const std::uint8_t* data, std::size_t count) {
  const auto length = static_cast<std::int64_t>(count);
  if (length > entry_.UncompressedSize() - entry_bytes_) {
    output_oversize_ = true;
    throw EBiggerThanUncompressed("File is larger than uncompressed size!");
  }
  if (output_ && output_->Write(data, length) < length) {
    ThrowCantWrite(target_);
  }
  if (!crc_done_) crc_ = UpdateCrcRegister(crc_, data, count);
  entry_bytes_ += length;
  if (reader_.OnFilePercentDone) reader_.OnFilePercentDone(reader_, Percent(entry_bytes_, entry_.UncompressedSize()));
  bytes_done_ += length;
  if (reader_.OnTotalPercentDone) reader_.OnTotalPercentDone(reader_, Percent(bytes_done_, total_bytes_));
}

void ExtractRun::CopyStored() {
  while (remaining_input_ > 0) {
    const std::size_t got = ReadInput(input_buffer_.data(), input_buffer_.size());
    if (got == 0) break;
    WriteOutputBlock(input_buffer_.data(), got);
  }
}

// --- The reader's extraction operations ----------------------------------------------------------------------

int TVCLUnZip::RunExtraction(bool test_only) {
  struct BusyGuard {
    bool& flag;
    ~BusyGuard() { flag = false; }
  } guard{busy_};
  busy_ = true;
  ReadZip();
  OpenZip();
  ExtractRun run(*this, archive_, test_only);
  const int extracted = run.Execute();
  CloseZip();
  return extracted;
}

int TVCLUnZip::UnZip() {
  if (dest_dir_ == "?") return 0;
  return RunExtraction(false);
}

int TVCLUnZip::Test() {
  return RunExtraction(true);
}

}  // namespace kzb::zip
