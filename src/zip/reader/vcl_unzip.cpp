// The archive reader as a component: its settings, the entries by listing index, comments, opening and
// closing the archive, ReadZip and volumes. Reading the directory itself is read_directory.cpp; the
// extraction run is extract/extract_run.cpp.
//
// Volumes: a set whose end record names a disk other than 0 is read volume by volume; the next volume is
// found through OnGetNextDisk, whose default (DefaultGetNextDisk) knows the numbered block files
// name.001, name.002, ... and the name.z01, name.z02, ..., name.zip form of split sets.
//
// The directory is cached: it is read again only when the archive file's date (or, more exactly, its
// modification time or size) differs from the one it was read at.
#include "zip/reader/vcl_unzip.h"

#include <algorithm>
#include <cstdio>

#include "platform/file_system.h"
#include "platform/path.h"
#include "zip/reader/split_set_stream.h"
#include "zip/records/dos_time.h"
#include "zip/records/zip_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

namespace {

// A provider that keeps answering with new names that do not exist is asked at most this often; so is a
// handler of OnInCompleteZip that keeps changing something.
constexpr int kMaxVolumeAsks = 64;

std::string ThreeDigitExt(int n) {
  char ext[16];
  std::snprintf(ext, sizeof ext, ".%03d", n);
  return ext;
}

}  // namespace

std::string SkipReasonText(const TVCLUnZip& reader, TSkipReason reason, int file_index) {
  switch (reason) {
    case TSkipReason::srBadPassword:
      return "wrong password";
    case TSkipReason::srPasswordNeeded:
      return "encrypted: a password is needed";
    case TSkipReason::srNoOverwrite:
      return "existing file kept";
    case TSkipReason::srFileOpenError:
      return "cannot create the output file";
    case TSkipReason::srUnsafePath:
      return "path leads outside the destination folder";
    case TSkipReason::srBadData:
      return "damaged data";
    case TSkipReason::srTruncated:
      return "truncated (the archive ends inside its data)";
    case TSkipReason::srUnsupportedMethod: {
      const std::uint16_t method = reader.EntryInfo(file_index).DataMethod();
      return "compression method " + std::to_string(method) + " (" + CompressionMethodName(method) +
             ") is not supported";
    }
  }
  return "skipped";
}

TVCLUnZip::TVCLUnZip() {
  OnGetNextDisk = [](TVCLUnZip& sender, int next_disk, std::string& fname) {
    sender.DefaultGetNextDisk(next_disk, fname);
  };
  archive_.SetVolumeSwitcher([this](int next_disk) { SwitchToVolume(next_disk); });
}

TVCLUnZip::~TVCLUnZip() {
  try {
    ClearZip();
  } catch (...) {
  }
}

// --- Settings ------------------------------------------------------------------------------------------------

void TVCLUnZip::SetZipName(const std::string& name) {
  if (name == zip_name_) return;
  std::string chosen = name;
  if (!name.empty() && name.back() == '?') {
    std::string folder = platform::ExtractFilePath(name.substr(0, name.size() - 1));
    // Not = "/": g++ 12 at -O3 misreads the literal's assignment as an overlapping copy (-Wrestrict).
    if (folder.empty() || !platform::DirectoryExists(folder)) folder = std::string(1, platform::kPathSeparator);
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
  archive_.Reset();
}

void TVCLUnZip::SetDestDir(const std::string& dir) {
  std::string value = dir;
  if (dir == "?") {
    std::string start = !dest_dir_.empty() && platform::DirectoryExists(dest_dir_) ? dest_dir_ : platform::CurrentDir();
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
  if (!busy_) archive_.SetListingOrder(mode);  // during an extraction, at the next reading
}

// --- Directory access ----------------------------------------------------------------------------------------

int TVCLUnZip::Count() const {
  return archive_.Count();
}

const TZipHeaderInfo& TVCLUnZip::EntryInfo(int index) const {
  return archive_.Entry(index);
}
std::string TVCLUnZip::EntryName(int index) const {
  return archive_.Entry(index).FileName();
}
std::string TVCLUnZip::EntryPath(int index) const {
  return archive_.Entry(index).Directory();
}

platform::DateTime TVCLUnZip::EntryDateTime(int index) const {
  const std::uint32_t packed = archive_.Entry(index).FileDateTime();
  try {
    return platform::DateTime::FromDos(FixDosDateTime(packed));
  } catch (const platform::EConvertError&) {
    return platform::DateTime::Now();
  }
}

std::int64_t TVCLUnZip::EntryCompressedSize(int index) const {
  return archive_.Entry(index).CompressedSize();
}
std::int64_t TVCLUnZip::EntryUncompressedSize(int index) const {
  return archive_.Entry(index).UncompressedSize();
}

std::string TVCLUnZip::EntryComment(int index) {
  {
    const TZipHeaderInfo& entry = archive_.Entry(index);  // range check before touching the archive
    if (!entry.HasComment()) return std::string();
    if (entry.FileComment()) return *entry.FileComment();
  }
  OpenZip();
  // Opening may have read the directory again; look the entry up afresh.
  TZipHeaderInfo& entry = archive_.Entry(index);
  std::string comment;
  if (entry.FileComment()) {
    comment = *entry.FileComment();
  } else {
    const std::uint16_t length = entry.FileCommentLength();
    comment = entry.ReadFileComment(archive_.Stream());
    entry.SetFileCommentLength(length);
  }
  if (!archive_.IsMultiVolume()) CloseZip();
  return comment;
}

void TVCLUnZip::SetEntryComment(int index, const std::string& comment) {
  if (EntryComment(index) == comment) return;
  TZipHeaderInfo& entry = archive_.Entry(index);
  entry.SetFileComment(comment.empty() ? std::nullopt : std::optional<std::string>(comment));
  archive_.EndRecord().SetCommentModified(true);
}

std::string TVCLUnZip::ZipComment() {
  TEndCentral& end = archive_.EndRecord();
  if (end.ZipCommentLength() == 0) return std::string();
  if (end.ZipCommentText()) return *end.ZipCommentText();
  OpenZip();
  std::string comment;
  if (archive_.EndRecord().ZipCommentText()) {
    comment = *archive_.EndRecord().ZipCommentText();
  } else if (archive_.EndRecord().ZipCommentLength() != 0) {
    comment = archive_.EndRecord().ReadZipComment(archive_.Stream());
  }
  if (!archive_.IsMultiVolume()) CloseZip();
  return comment;
}

void TVCLUnZip::SetZipComment(const std::string& comment) {
  if (ZipComment() == comment) return;
  TEndCentral& end = archive_.EndRecord();
  end.SetZipComment(comment.empty() ? std::nullopt : std::optional<std::string>(comment));
  end.SetCommentModified(true);
}

// --- Opening and closing -------------------------------------------------------------------------------------

void TVCLUnZip::OpenArchiveStream() {
  if (archive_.ByteSplitSet()) {
    std::vector<std::string> parts = TSplitSetStream::FindParts(zip_name_);
    if (!parts.empty()) {
      archive_.SetStream(std::make_unique<TOwnedBufferStream>(std::make_unique<TSplitSetStream>(parts)));
      return;
    }
    archive_.SetByteSplitSet(false);
  }
  archive_.SetStream(std::make_unique<TLFNFileStream>(zip_name_,
                                                      static_cast<std::uint16_t>(kFmOpenRead | kFmShareDenyWrite),
                                                      flush_files_on_close_, kDefaultBufferSize));
}

void TVCLUnZip::OpenZip() {
  if (!archive_.IsOpen()) OpenArchiveStream();
  if (!archive_.HasDirectory() || archive_.FileChanged(zip_name_)) ReadZipDirectory();
}

void TVCLUnZip::CloseZip() {
  if (!keep_zip_open_) archive_.Close();
}

void TVCLUnZip::ClearZip() {
  archive_.Reset();
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
    archive_.ForceClose();
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

// --- Volumes -------------------------------------------------------------------------------------------------

void TVCLUnZip::DefaultGetNextDisk(int next_disk, std::string& fname) {
  if (archive_.VolumeKind() == TVolumeKind::vkSpanned) {
    const std::string text = "Please insert disk " + std::to_string(next_disk) + " of the multi-disk set.";
    if (!OnAskYesNo || !OnAskYesNo(*this, text, "")) fname.clear();
    return;
  }
  std::string candidate = platform::ChangeFileExt(fname, ThreeDigitExt(next_disk));
  if (!platform::FileExists(candidate)) {
    // Split sets named name.z01, name.z02, ... with the last volume keeping the archive's own name.
    const std::string& last_volume = archive_.LastVolumeName();
    if (next_disk == archive_.VolumeCount() && !last_volume.empty() && platform::FileExists(last_volume)) {
      candidate = last_volume;
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
  archive_.ForceClose();
  std::string fname = zip_name_;
  for (int ask = 0;; ++ask) {
    const std::string before = fname;
    if (OnGetNextDisk) OnGetNextDisk(*this, n, fname);
    if (fname.empty()) throw EUserCanceled("User canceled loading new disk.");
    if (platform::FileExists(fname)) break;
    // A name that comes back unchanged and still missing will not appear by asking again.
    if (fname == before || ask + 1 >= kMaxVolumeAsks) throw EUserCanceled("User canceled loading new disk.");
  }
  archive_.SetStream(std::make_unique<TLFNFileStream>(fname, static_cast<std::uint16_t>(kFmOpenRead | kFmShareCompat),
                                                      false, kDefaultBufferSize));
  archive_.SetCurrentDisk(n - 1);
  zip_name_ = fname;
  archive_.RememberFile(fname);
}

}  // namespace kzb::zip
