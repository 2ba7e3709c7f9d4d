// The archive reader: opening an archive, reading its central directory, rebuilding a damaged directory
// from the local headers, volumes and comments.
//
// Reading the directory: the end record is looked for at the end of the archive (and, when it is missing,
// in a ".zfc" side file, or in the joined parts of a byte-split set); the central headers are then read
// from the recorded offset. Data in front of the archive (a self-extractor stub, junk) shifts every
// recorded offset by the same amount; that amount is found once from the end record and added to the
// offsets in memory, so everything later works with true file positions. When the central directory
// cannot be read, the local-header scan walks the file from the front, takes every local header it can
// parse and then merges whatever central headers follow (repair mode). The scan runs at most once per
// read, so a damaged archive ends in an error, never in a loop.
//
// Volumes: a set whose end record names a disk other than 0 is read volume by volume; the next volume is
// found through OnGetNextDisk, whose default (DefaultGetNextDisk) knows the numbered block files
// name.001, name.002, ... and the name.z01, name.z02, ..., name.zip form of split sets.
//
// The directory is cached: it is read again only when the archive file's date (or, more exactly, its
// modification time or size) differs from the one it was read at.
#include "zip/reader/vcl_unzip.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/fs_path.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "zip/reader/split_set_stream.h"
#include "zip/records/crc32.h"
#include "zip/records/dos_time.h"
#include "zip/records/name_codec.h"
#include "zip/records/zip_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

namespace {

// Id of Info-ZIP's Unicode Path extra block: version 1, CRC-32 of the stored name, the name in UTF-8.
constexpr std::uint16_t kUnicodePathExtraId = 0x7075;
// Largest central directory read into memory at once; larger ones are read through the file buffer.
constexpr std::int64_t kMaxInMemoryDirectory = std::int64_t{256} << 20;
// Where the local-header scan starts in a self-extracting program: its stub is at least this long.
constexpr std::int64_t kExeScanStart = 14000;
// The scan lets the user interface run after this many bytes.
constexpr std::int64_t kScanMessageInterval = 10240;
// A provider that keeps answering with new names that do not exist is asked at most this often.
constexpr int kMaxVolumeAsks = 64;

bool SameText(const std::string& a, const std::string& b) { return a == b; }

std::string LowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         LowerAscii(text.substr(text.size() - suffix.size())) == LowerAscii(suffix);
}

std::string ThreeDigitExt(int n) {
  char ext[16];
  std::snprintf(ext, sizeof ext, ".%03d", n);
  return ext;
}

// Applies an Info-ZIP Unicode Path extra block (0x7075) of a central header held in memory at header:
// when its CRC matches the stored name, the entry takes the block's UTF-8 name. Names with general purpose
// bit 11 are UTF-8 already and keep their own name.
void ApplyUnicodePathExtra(TZipHeaderInfo& entry, const std::uint8_t* header, std::int64_t available) {
  if ((entry.GeneralFlags() & kFlagUtf8) != 0 || available < kCentralHeaderSize) return;
  const std::int64_t name_length = GetU16(header + 28);
  const std::int64_t extra_length = GetU16(header + 30);
  if (extra_length == 0 || kCentralHeaderSize + name_length + extra_length > available) return;
  const std::uint8_t* name = header + kCentralHeaderSize;
  const std::uint8_t* extra = name + name_length;
  std::int64_t k = 0;
  while (k + kExtraBlockHeaderSize <= extra_length) {
    const std::uint16_t id = GetU16(extra + k);
    const std::int64_t size = GetU16(extra + k + 2);
    const std::uint8_t* data = extra + k + kExtraBlockHeaderSize;
    if (k + kExtraBlockHeaderSize + size > extra_length) return;
    if (id == kUnicodePathExtraId && size > 5 && data[0] == 1 &&
        GetU32(data + 1) == Crc32Of(name, static_cast<std::size_t>(name_length))) {
      const std::string_view utf8(reinterpret_cast<const char*>(data + 5), static_cast<std::size_t>(size - 5));
      if (!IsValidUtf8(utf8)) return;
      std::string directory;
      std::string file_name;
      SplitStoredName(DecodeStoredName(utf8, kFlagUtf8, entry.VersionMadeBy()), directory, file_name);
      entry.SetDirectory(directory);
      entry.SetFileName(file_name);
      return;
    }
    k += kExtraBlockHeaderSize + size;
  }
}

}  // namespace

TVCLUnZip::TVCLUnZip() {
  OnGetNextDisk = [](TVCLUnZip& sender, int next_disk, std::string& fname) {
    sender.DefaultGetNextDisk(next_disk, fname);
  };
}

TVCLUnZip::~TVCLUnZip() {
  try {
    ClearZip();
  } catch (...) {
  }
}

// --- Settings ------------------------------------------------------------------------------------------------

void TVCLUnZip::SetZipName(const std::string& name) {
  if (SameText(name, zip_name_)) return;
  std::string chosen = name;
  if (!name.empty() && name.back() == '?') {
    std::string folder = platform::ExtractFilePath(name.substr(0, name.size() - 1));
    if (folder.empty() || !platform::DirectoryExists(folder)) folder = "/";
    std::string picked;
    if (!OnChooseFile ||
        !OnChooseFile(*this, "Open a Zip File",
                      "Zip Files (*.ZIP)|*.zip|SFX Files (*.EXE)|*.exe|Jar Files (*.JAR)|*.jar|All Files (*.*)|*.*",
                      folder, picked)) {
      throw EUserCanceled("User canceled setting zip file name.");
    }
    chosen = picked;
  }
  zip_name_ = chosen;
  FreeDirectory();
  archive_date_ = 0;
  archive_stamp_ = 0;
  archive_size_ = -1;
  end_central_.ResetDefaults();
  CloseArchiveStream();
  repair_mode_ = false;
  base_offset_ = 0;
  byte_split_set_ = false;
  last_volume_name_.clear();
}

void TVCLUnZip::SetDestDir(const std::string& dir) {
  std::string value = dir;
  if (dir == "?") {
    std::string start = !dest_dir_.empty() && platform::DirectoryExists(dest_dir_) ? dest_dir_
                                                                                      : platform::CurrentDir();
    std::string picked;
    if (!OnChooseFolder || !OnChooseFolder(*this, start, picked)) {
      throw EUserCanceled("User canceled Set Desination Directory");
    }
    value = picked;
  }
  if (value.size() > 1 && platform::IsPathSeparator(value.back())) value.pop_back();
  dest_dir_ = value;
}

void TVCLUnZip::SetRootDir(const std::string& dir) {
  root_dir_ = dir.empty() ? std::string() : platform::IncludeTrailingSeparator(dir);
}

void TVCLUnZip::SetSortMode(TZipSortMode mode) {
  if (mode == sort_mode_) return;
  sort_mode_ = mode;
  if (directory_ && !busy_) BuildListing();
}

// --- Directory access ----------------------------------------------------------------------------------------

int TVCLUnZip::Count() const { return listing_ ? static_cast<int>(listing_->Count()) : 0; }

TZipHeaderInfo& TVCLUnZip::ListingEntry(int index) const {
  if (index < 0 || index >= Count()) {
    char message[64];
    std::snprintf(message, sizeof message, "Index %d is out of range", index);
    throw EListError(message);
  }
  return *listing_->Get(index);
}

const TZipHeaderInfo& TVCLUnZip::EntryInfo(int index) const { return ListingEntry(index); }
std::string TVCLUnZip::EntryName(int index) const { return ListingEntry(index).FileName(); }
std::string TVCLUnZip::EntryPath(int index) const { return ListingEntry(index).Directory(); }

platform::DateTime TVCLUnZip::EntryDateTime(int index) const {
  const std::uint32_t packed = ListingEntry(index).FileDateTime();
  try {
    return platform::DateTime::FromDos(FixDosDateTime(packed));
  } catch (const platform::EConvertError&) {
    return platform::DateTime::Now();
  }
}

std::int64_t TVCLUnZip::EntryCompressedSize(int index) const { return ListingEntry(index).CompressedSize(); }
std::int64_t TVCLUnZip::EntryUncompressedSize(int index) const {
  return ListingEntry(index).UncompressedSize();
}

std::string TVCLUnZip::EntryComment(int index) {
  ListingEntry(index);  // range check before touching the archive
  {
    const TZipHeaderInfo& entry = ListingEntry(index);
    if (!entry.HasComment()) return std::string();
    if (entry.FileComment()) return *entry.FileComment();
  }
  OpenZip();
  // Opening may have read the directory again; look the entry up afresh.
  TZipHeaderInfo& entry = ListingEntry(index);
  std::string comment;
  if (entry.FileComment()) {
    comment = *entry.FileComment();
  } else {
    const std::uint16_t length = entry.FileCommentLength();
    comment = entry.ReadFileComment(*archive_stream_);
    entry.SetFileCommentLength(length);
  }
  if (!IsMultiVolume()) CloseZip();
  return comment;
}

void TVCLUnZip::SetEntryComment(int index, const std::string& comment) {
  if (EntryComment(index) == comment) return;
  TZipHeaderInfo& entry = ListingEntry(index);
  entry.SetFileComment(comment.empty() ? std::nullopt : std::optional<std::string>(comment));
  end_central_.SetCommentModified(true);
}

std::string TVCLUnZip::ZipComment() {
  if (end_central_.ZipCommentLength() == 0) return std::string();
  if (end_central_.ZipCommentText()) return *end_central_.ZipCommentText();
  OpenZip();
  std::string comment;
  if (end_central_.ZipCommentText()) {
    comment = *end_central_.ZipCommentText();
  } else if (end_central_.ZipCommentLength() != 0) {
    comment = end_central_.ReadZipComment(*archive_stream_);
  }
  if (!IsMultiVolume()) CloseZip();
  return comment;
}

void TVCLUnZip::SetZipComment(const std::string& comment) {
  if (ZipComment() == comment) return;
  const bool modified = true;
  end_central_.SetZipComment(comment.empty() ? std::nullopt : std::optional<std::string>(comment));
  end_central_.SetCommentModified(modified);
}

// --- Opening and closing -------------------------------------------------------------------------------------

std::uint32_t TVCLUnZip::FileDosDate(const std::string& path) {
  try {
    return platform::GetFileTime(path).ToDos();
  } catch (const std::exception&) {
    return 0;
  }
}

void TVCLUnZip::RememberArchiveDate(const std::string& path) {
  archive_date_ = FileDosDate(path);
  std::error_code ec;
  const auto time = std::filesystem::last_write_time(platform::FsPath(path), ec);
  archive_stamp_ = ec ? 0 : static_cast<std::int64_t>(time.time_since_epoch().count());
  const auto size = std::filesystem::file_size(platform::FsPath(path), ec);
  archive_size_ = ec ? -1 : static_cast<std::int64_t>(size);
}

bool TVCLUnZip::ArchiveDateChanged(const std::string& path) const {
  if (FileDosDate(path) != archive_date_) return true;
  std::error_code ec;
  if (archive_stamp_ != 0) {
    const auto time = std::filesystem::last_write_time(platform::FsPath(path), ec);
    if (!ec && static_cast<std::int64_t>(time.time_since_epoch().count()) != archive_stamp_) return true;
  }
  if (archive_size_ >= 0) {
    const auto size = std::filesystem::file_size(platform::FsPath(path), ec);
    if (!ec && static_cast<std::int64_t>(size) != archive_size_) return true;
  }
  return false;
}

void TVCLUnZip::OpenArchiveStream() {
  if (byte_split_set_) {
    std::vector<std::string> parts = TSplitSetStream::FindParts(zip_name_);
    if (!parts.empty()) {
      archive_stream_ = std::make_unique<TOwnedBufferStream>(std::make_unique<TSplitSetStream>(parts));
      return;
    }
    byte_split_set_ = false;
  }
  archive_stream_ = std::make_unique<TLFNFileStream>(zip_name_, static_cast<std::uint16_t>(kFmOpenRead | kFmShareDenyWrite),
                                                     flush_files_on_close_, kDefaultBufferSize);
}

void TVCLUnZip::OpenZip() {
  if (!archive_stream_) OpenArchiveStream();
  if (!directory_ || ArchiveDateChanged(zip_name_)) ReadZipDirectory();
}

void TVCLUnZip::CloseZip() {
  if (!keep_zip_open_) CloseArchiveStream();
}

void TVCLUnZip::CloseArchiveStream() { archive_stream_.reset(); }

void TVCLUnZip::FreeDirectory() {
  listing_ = nullptr;
  sorted_listing_.reset();
  directory_.reset();
}

void TVCLUnZip::ClearZip() {
  CloseArchiveStream();
  FreeDirectory();
  end_central_.ResetDefaults();
  archive_date_ = 0;
  archive_stamp_ = 0;
  archive_size_ = -1;
  repair_mode_ = false;
  volume_kind_ = TVolumeKind::vkNone;
  volume_count_ = 1;
  current_disk_ = 0;
  base_offset_ = 0;
  byte_split_set_ = false;
  last_volume_name_.clear();
  zip_name_.clear();
}

void TVCLUnZip::Assign(const TVCLUnZip& source) {
  if (&source == this) return;
  SetZipName(source.zip_name_);
  dest_dir_ = source.dest_dir_;
  root_dir_ = source.root_dir_;
  SetSortMode(source.sort_mode_);
  recreate_dirs_ = source.recreate_dirs_;
  overwrite_mode_ = source.overwrite_mode_;
  files_list_ = source.files_list_;
  do_all_ = source.do_all_;
  incomplete_zip_mode_ = source.incomplete_zip_mode_;
  keep_zip_open_ = source.keep_zip_open_;
  do_process_messages_ = source.do_process_messages_;
  retain_attributes_ = source.retain_attributes_;
  replace_read_only_ = source.replace_read_only_;
  OnStartUnZipInfo = source.OnStartUnZipInfo;
  OnStartUnZip = source.OnStartUnZip;
  OnPromptForOverwrite = source.OnPromptForOverwrite;
  OnSkippingFile = source.OnSkippingFile;
  OnBadPassword = source.OnBadPassword;
  OnBadCRC = source.OnBadCRC;
  OnEndUnZip = source.OnEndUnZip;
  OnFilePercentDone = source.OnFilePercentDone;
  OnTotalPercentDone = source.OnTotalPercentDone;
  OnUnZipComplete = source.OnUnZipComplete;
  OnInCompleteZip = source.OnInCompleteZip;
  OnGetNextDisk = source.OnGetNextDisk;
  OnChooseFile = source.OnChooseFile;
  OnChooseFolder = source.OnChooseFolder;
  OnAskYesNo = source.OnAskYesNo;
  OnAlert = source.OnAlert;
  OnProcessMessages = source.OnProcessMessages;
}

void TVCLUnZip::ProcessMessages() {
  if (do_process_messages_ && OnProcessMessages) OnProcessMessages(*this);
}

void TVCLUnZip::ShowAlert(const std::string& text, const std::string& title) {
  alert_text_ = text;
  if (OnAlert) OnAlert(*this, text, title);
}

// --- ReadZip -------------------------------------------------------------------------------------------------

bool TVCLUnZip::ReadZipOnce() {
  try {
    OpenZip();
  } catch (const EIncompleteZip&) {
    CloseArchiveStream();
    return false;
  } catch (...) {
    ClearZip();
    throw;
  }
  CloseZip();
  return true;
}

void TVCLUnZip::ReadZip() {
  // Without an incomplete-archive handler a missing end record leaves an empty directory and no error. With
  // one, reading is tried again for as long as the handler changes something (the mode or the archive
  // name); a handler that changes nothing ends the attempts instead of asking forever.
  for (int attempt = 0; attempt < kMaxVolumeAsks; ++attempt) {
    const TIncompleteZipMode mode_before = incomplete_zip_mode_;
    const std::string name_before = zip_name_;
    if (ReadZipOnce()) return;
    if (!OnInCompleteZip) return;
    if (incomplete_zip_mode_ == mode_before && zip_name_ == name_before) return;
  }
}

// --- Reading the directory -----------------------------------------------------------------------------------

void TVCLUnZip::BuildListing() {
  sorted_listing_.reset();
  listing_ = directory_.get();
  if (!directory_ || sort_mode_ == TZipSortMode::ByNone) return;
  sorted_listing_ = std::make_unique<TSortedZip>(TDuplicatePolicy::kAccept);
  sorted_listing_->SetOwnsItems(false);
  sorted_listing_->SetSortMode(sort_mode_);
  for (TZipHeaderInfo* entry : *directory_) sorted_listing_->Add(entry);
  listing_ = sorted_listing_.get();
}

void TVCLUnZip::ReadZipDirectory() {
  RememberArchiveDate(zip_name_);
  FreeDirectory();
  repair_mode_ = false;
  base_offset_ = 0;
  bool scanned = false;  // the local-header scan runs at most once per read

  // A comment the user changed and the writer has not stored yet survives reading the directory again.
  std::optional<std::string> pending_comment;
  const bool comment_modified = end_central_.CommentModified();
  if (comment_modified) pending_comment = end_central_.ZipCommentText();
  end_central_.ResetDefaults();

  auto run_scan = [&]() -> bool {
    if (scanned) return false;
    scanned = true;
    return ScanLocalHeaders();
  };
  auto fail_bad = [&]() {
    ClearZip();
    throw EBadZipFile("Not a valid zip file!");
  };

  // 1. The end record: in the archive, in a ".zfc" side file, or in the joined parts of a byte-split set.
  std::unique_ptr<TStream> side_stream;
  bool found = false;
  if (!byte_split_set_) found = end_central_.FindEndRecord(*archive_stream_);
  if (!byte_split_set_ && found && end_central_.ThisDisk() == 0 && end_central_.PrependedBytes() < 0 &&
      !TSplitSetStream::FindParts(zip_name_).empty()) {
    found = false;  // the last part of a byte-split set: offsets count from the set's first byte
  }
  if (!found && !byte_split_set_ && !TSplitSetStream::FindParts(zip_name_).empty()) {
    byte_split_set_ = true;
    CloseArchiveStream();
    OpenArchiveStream();
    end_central_.ResetDefaults();
  }
  if (byte_split_set_) {
    found = end_central_.FindEndRecord(*archive_stream_);
    if (!found) {
      byte_split_set_ = false;
      CloseArchiveStream();
      OpenArchiveStream();
      end_central_.ResetDefaults();
    }
  }
  if (!found) {
    const std::string side_name = platform::ChangeFileExt(zip_name_, ".zfc");
    if (platform::FileExists(side_name)) {
      side_stream = std::make_unique<TLFNFileStream>(side_name, kFmOpenRead, false, kDefaultBufferSize);
      if (end_central_.FindEndRecord(*side_stream)) {
        found = true;
      } else {
        side_stream.reset();
      }
    }
  }
  if (comment_modified) {
    end_central_.SetZipComment(pending_comment);
    end_central_.SetCommentModified(true);
  }

  TStream* stream = side_stream ? side_stream.get() : archive_stream_.get();
  if (found) {
    current_disk_ = side_stream ? 0 : static_cast<int>(end_central_.ThisDisk());
    volume_count_ = static_cast<int>(end_central_.ThisDisk()) + 1;
    volume_kind_ = end_central_.ThisDisk() == 0 ? TVolumeKind::vkNone : TVolumeKind::vkBlocks;
    last_volume_name_ = zip_name_;
    if (end_central_.TotalEntries() != 0) {
      if (side_stream) {
        stream->Seek(0, kSeekBegin);
      } else {
        if (IsMultiVolume() && static_cast<int>(end_central_.CentralStartDisk()) != current_disk_) {
          SwitchToVolume(static_cast<int>(end_central_.CentralStartDisk()) + 1);
          stream = archive_stream_.get();
        }
        std::int64_t offset = end_central_.CentralDirOffset();
        if (!IsMultiVolume()) {
          // Prepended data shifts every recorded offset; take the shift when the directory is found there.
          // (Zip64 records that the classic fields do not point to may stand between the directory and
          // the end record.)
          const std::int64_t shift = end_central_.PrependedBytes();
          if (shift > 0) {
            auto directory_at = [&](std::int64_t position) {
              std::uint8_t sig[4] = {};
              stream->Seek(position, kSeekBegin);
              return stream->Read(sig, 4) == 4 && GetU32(sig) == kCentralHeaderSignature;
            };
            if (!directory_at(offset)) {
              const std::int64_t zip64_records = kZip64EndCentralSize + kZip64EndLocatorSize;
              if (directory_at(offset + shift)) {
                base_offset_ = shift;
              } else if (shift > zip64_records && directory_at(offset + shift - zip64_records)) {
                base_offset_ = shift - zip64_records;
              }
            }
          }
          offset += base_offset_;
        }
        stream->Seek(offset, kSeekBegin);
      }
    }
  } else {
    // 2. No end record.
    if (OnInCompleteZip) OnInCompleteZip(*this, incomplete_zip_mode_);
    switch (incomplete_zip_mode_) {
      case TIncompleteZipMode::izAssumeNotAZip:
        ClearZip();
        throw ENotAZipFile("Not a valid zip file!");
      case TIncompleteZipMode::izAssumeMulti:
        throw EIncompleteZip("Incomplete Zip File");
      case TIncompleteZipMode::izAssumeBad:
        if (!run_scan()) fail_bad();
        stream = archive_stream_.get();
        break;
    }
  }

  if (!directory_) {
    directory_ = std::make_unique<TSortedZip>(TDuplicatePolicy::kError);
    listing_ = directory_.get();
  }

  // A directory that lies whole on the current volume, between its start and the end records, is read
  // into memory at once: the headers are then parsed without a system call each, and their extra fields
  // are at hand for the Unicode Path block.
  std::unique_ptr<TMemoryStream> memory_stream;
  std::int64_t memory_base = 0;
  if (found && !side_stream && !repair_mode_ && end_central_.TotalEntries() != 0) {
    const std::int64_t start = stream->Position();
    const std::int64_t end = end_central_.IsZip64() ? end_central_.Zip64EndPosition()
                                                    : end_central_.EndRecordPosition();
    const bool on_this_volume = static_cast<int>(end_central_.ThisDisk()) == current_disk_;
    if (on_this_volume && start >= 0 && end > start && end - start <= kMaxInMemoryDirectory) {
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(end - start));
      if (stream->Read(bytes.data(), end - start) == end - start) {
        memory_stream = std::make_unique<TMemoryStream>(std::move(bytes));
        memory_base = start;
        stream = memory_stream.get();
      } else {
        stream->Seek(start, kSeekBegin);
      }
    }
  }
  auto current_stream = [&]() -> TStream* {
    if (memory_stream && !repair_mode_) return memory_stream.get();
    return side_stream ? side_stream.get() : archive_stream_.get();
  };

  // 3. The central headers.
  const bool single_volume = !IsMultiVolume();
  TNextVolumeHook hook;
  if (!single_volume && !side_stream) {
    hook = [this]() -> TStream* {
      if (current_disk_ + 1 >= volume_count_) return nullptr;
      SwitchToVolume(current_disk_ + 2);
      return archive_stream_.get();
    };
  }
  TZipHeaderInfo* previous = nullptr;
  std::int64_t i = 0;
  while (i < end_central_.TotalEntries()) {
    auto entry = std::make_unique<TZipHeaderInfo>();
    bool ok = entry->ReadCentral(*stream, repair_mode_ || memory_stream ? TNextVolumeHook() : hook);
    if (!ok && previous != nullptr && previous->CentralExtraLength() != 0) {
      // Some writers declare central extra bytes they never wrote: take the bytes as the next header.
      const std::int64_t back = previous->CentralExtraLength();
      previous->SetCentralExtraLength(0);
      stream->Seek(-back, kSeekCurrent);
      ok = entry->ReadCentral(*stream, repair_mode_ || memory_stream ? TNextVolumeHook() : hook);
    }
    const bool from_memory = stream == memory_stream.get();
    stream = current_stream();
    if (ok) {
      if (from_memory) {
        const std::int64_t at = entry->CentralHeaderPosition();
        ApplyUnicodePathExtra(*entry, memory_stream->Bytes().data() + at,
                              static_cast<std::int64_t>(memory_stream->Bytes().size()) - at);
        entry->SetCentralHeaderPosition(at + memory_base);
      }
      if (single_volume) entry->SetLocalHeaderOffset(entry->LocalHeaderOffset() + base_offset_);
      if (repair_mode_) {
        // A central header completes the scanned entry it points to only when both name the same file.
        const std::int64_t index = directory_->IndexOf(entry.get());
        if (index >= 0 && directory_->Get(index)->FullName() == entry->FullName()) {
          TZipHeaderInfo* existing = directory_->Get(index);
          const std::int64_t scanned_offset = existing->LocalHeaderOffset();
          existing->Assign(*entry);
          existing->SetLocalHeaderOffset(scanned_offset);
        }
        ++i;
        continue;
      }
      TZipHeaderInfo* added = entry.get();
      try {
        directory_->Add(entry.get());
        entry.release();
      } catch (const EListError&) {
        // Two entries claim the same local header: the directory cannot be trusted.
        if (!run_scan()) fail_bad();
        stream = archive_stream_.get();
        previous = nullptr;
        i = 0;
        continue;
      }
      if (!single_volume && added->HasComment()) {
        if (from_memory) {
          const std::int64_t resume = stream->Position();
          stream->Seek(added->CentralHeaderPosition() - memory_base, kSeekBegin);
          added->SetCentralHeaderPosition(added->CentralHeaderPosition() - memory_base);
          const std::uint16_t length = added->FileCommentLength();
          added->ReadFileComment(*stream);
          added->SetFileCommentLength(length);
          added->SetCentralHeaderPosition(added->CentralHeaderPosition() + memory_base);
          stream->Seek(resume, kSeekBegin);
        } else {
        const std::int64_t resume = stream->Position();
        const std::uint16_t length = added->FileCommentLength();
        added->ReadFileComment(*stream);
        added->SetFileCommentLength(length);
        stream->Seek(resume, kSeekBegin);
        }
      }
      previous = added;
      ++i;
    } else {
      if (repair_mode_) break;
      if (!single_volume || side_stream) fail_bad();
      if (!run_scan()) fail_bad();
      stream = archive_stream_.get();
      previous = nullptr;
      i = 0;
    }
  }

  // 4. A multi-volume archive's comment is read now, while the right volume is at hand.
  if (!single_volume && end_central_.ZipCommentLength() != 0 && !end_central_.ZipCommentText()) {
    if (side_stream) {
      end_central_.ReadZipComment(*side_stream);
    } else {
      if (current_disk_ != volume_count_ - 1) SwitchToVolume(volume_count_);
      end_central_.ReadZipComment(*archive_stream_);
    }
  }
  BuildListing();
}

bool TVCLUnZip::ScanLocalHeaders() {
  if (repair_mode_) return false;
  repair_mode_ = true;
  FreeDirectory();
  base_offset_ = 0;
  TStream& stream = *archive_stream_;
  const std::int64_t size = stream.Size();
  std::int64_t position = EndsWithNoCase(zip_name_, ".exe") ? kExeScanStart : 0;

  // Find the first local-header signature whose version-needed field is believable.
  std::vector<std::uint8_t> window(65536);
  std::int64_t hit = -1;
  std::int64_t examined = 0;
  while (hit < 0 && position + 4 <= size) {
    stream.Seek(position, kSeekBegin);
    const std::int64_t got = stream.Read(window.data(), static_cast<std::int64_t>(window.size()));
    if (got < 4) break;
    for (std::int64_t k = 0; k + 4 <= got; ++k) {
      if (window[k] == 'P' && window[k + 1] == 'K' && window[k + 2] == 3 && window[k + 3] == 4) {
        std::uint8_t version[2];
        bool believable = false;
        if (k + 6 <= got) {
          believable = window[k + 5] < 10;
        } else {
          stream.Seek(position + k + 4, kSeekBegin);
          believable = stream.Read(version, 2) == 2 && version[1] < 10;
        }
        if (believable) {
          hit = position + k;
          break;
        }
      }
    }
    examined += got;
    if (examined >= kScanMessageInterval) {
      examined = 0;
      ProcessMessages();
    }
    if (hit < 0) position += got - 3;  // keep three bytes: a signature may straddle the windows
  }
  if (hit < 0) return false;

  directory_ = std::make_unique<TSortedZip>(TDuplicatePolicy::kError);
  listing_ = directory_.get();
  stream.Seek(hit, kSeekBegin);
  std::int64_t next = hit;
  while (true) {
    auto entry = std::make_unique<TZipHeaderInfo>();
    if (!entry->ReadLocal(stream)) break;
    const std::int64_t data_start = stream.Position() + entry->LocalExtraLength();
    std::int64_t data_end = data_start + entry->CompressedSize();
    if (entry->HasDataDescriptor() && entry->CompressedSize() == 0) {
      // A streamed entry: its sizes follow the data. Find the descriptor whose size field fits.
      std::int64_t probe = data_start;
      bool located = false;
      std::vector<std::uint8_t> buffer(65536 + 16);
      while (!located && probe < size) {
        stream.Seek(probe, kSeekBegin);
        const std::int64_t got = stream.Read(buffer.data(), static_cast<std::int64_t>(buffer.size()));
        if (got < 16) break;
        for (std::int64_t k = 0; k + 16 <= got; ++k) {
          if (GetU32(&buffer[k]) == kDataDescriptorSignature &&
              GetU32(&buffer[k + 8]) == static_cast<std::uint32_t>(probe + k - data_start)) {
            entry->SetCrc32(GetU32(&buffer[k + 4]));
            entry->SetCompressedSize(GetU32(&buffer[k + 8]));
            entry->SetUncompressedSize(GetU32(&buffer[k + 12]));
            data_end = probe + k;
            located = true;
            break;
          }
        }
        probe += got - 15;
      }
      if (!located) {
        break;
      }
    }
    if (data_end > size) break;
    try {
      directory_->Add(entry.get());
      entry.release();
    } catch (const EListError&) {
      break;
    }
    next = data_end + (directory_->Last()->HasDataDescriptor() ? kDataDescriptorSize : 0);
    if (next > size) next = size;
    stream.Seek(next, kSeekBegin);
    ProcessMessages();
  }
  stream.Seek(next, kSeekBegin);
  end_central_.SetThisDisk(0);
  current_disk_ = 0;
  volume_count_ = 1;
  volume_kind_ = TVolumeKind::vkNone;
  end_central_.SetCentralDirOffset(next);
  end_central_.SetTotalEntries(directory_->Count());
  return true;
}

// --- Volumes -------------------------------------------------------------------------------------------------

void TVCLUnZip::DefaultGetNextDisk(int next_disk, std::string& fname) {
  if (volume_kind_ == TVolumeKind::vkSpanned) {
    const std::string text = "Please insert disk " + std::to_string(next_disk) + " of the multi-disk set.";
    if (!OnAskYesNo || !OnAskYesNo(*this, text, "")) fname.clear();
    return;
  }
  std::string candidate = platform::ChangeFileExt(fname, ThreeDigitExt(next_disk));
  if (!platform::FileExists(candidate)) {
    // Split sets named name.z01, name.z02, ... with the last volume keeping the archive's own name.
    if (next_disk == volume_count_ && !last_volume_name_.empty() && platform::FileExists(last_volume_name_)) {
      candidate = last_volume_name_;
    } else {
      char ext[16];
      std::snprintf(ext, sizeof ext, ".z%02d", next_disk);
      const std::string z_name = platform::ChangeFileExt(fname, ext);
      if (platform::FileExists(z_name)) candidate = z_name;
    }
  }
  fname = candidate;
}

void TVCLUnZip::SwitchToVolume(int n) {
  CloseArchiveStream();
  std::string fname = zip_name_;
  for (int ask = 0;; ++ask) {
    const std::string before = fname;
    if (OnGetNextDisk) OnGetNextDisk(*this, n, fname);
    if (fname.empty()) throw EUserCanceled("User canceled loading new disk.");
    if (platform::FileExists(fname)) break;
    // A name that comes back unchanged and still missing will not appear by asking again.
    if (fname == before || ask + 1 >= kMaxVolumeAsks) throw EUserCanceled("User canceled loading new disk.");
  }
  archive_stream_ = std::make_unique<TLFNFileStream>(fname, static_cast<std::uint16_t>(kFmOpenRead | kFmShareCompat),
                                                     false, kDefaultBufferSize);
  current_disk_ = n - 1;
  zip_name_ = fname;
  RememberArchiveDate(fname);
}

}  // namespace kzb::zip
