#include "zip/reader/open_archive.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/file_system.h"
#include "platform/fs_path.h"
#include "zip/records/name_codec.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

namespace {

std::uint32_t FileDosDate(const std::string& path) {
  try {
    return platform::GetFileTime(path).ToDos();
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace

std::vector<std::string> TArchiveReport::Lines(std::int64_t found) const {
  std::vector<std::string> lines;
  for (const std::string& problem : problems) lines.push_back("Damaged archive: " + problem);
  if (rebuilt) {
    lines.push_back(std::to_string(found) + (found == 1 ? " entry was" : " entries were") +
                    " recovered from the local headers");
  }
  if (declared_entries >= 0) {
    std::string line = "The end record declares " + std::to_string(declared_entries) +
                       " entries; the central directory holds " + std::to_string(found);
    if (CountWrapsOnly(found)) line += " (the count was stored modulo 65536)";
    lines.push_back(line);
  }
  for (const std::string& name : truncated)
    lines.push_back(PrintableName(name) + ": truncated (the archive ends inside its data)");
  for (const std::string& entry : lost) lines.push_back("Lost: " + PrintableName(entry));
  return lines;
}

TStream& TOpenArchive::Stream() {
  if (!stream_) throw EZipGeneralError("Archive is not open");
  return *stream_;
}

void TOpenArchive::Close() {
  if (holds_ == 0) stream_.reset();
}

const TSortedZip& TOpenArchive::Directory() const {
  static const TSortedZip kEmpty(TDuplicatePolicy::kError);
  return directory_ ? *directory_ : kEmpty;
}

TSortedZip& TOpenArchive::Directory() {
  if (!directory_) throw EZipGeneralError("No directory loaded");
  return *directory_;
}

TSortedZip& TOpenArchive::NewDirectory() {
  ForgetDirectory();
  directory_ = std::make_unique<TSortedZip>(TDuplicatePolicy::kError);
  return *directory_;
}

void TOpenArchive::AdoptDirectory(std::unique_ptr<TSortedZip> directory) {
  ForgetDirectory();
  directory_ = std::move(directory);
  BuildListing();
}

void TOpenArchive::ForgetDirectory() {
  sorted_listing_.reset();
  directory_.reset();
}

void TOpenArchive::DropEntry(const TZipHeaderInfo* entry) {
  if (!directory_) return;
  for (std::int64_t i = 0; i < directory_->Count(); ++i) {
    if (directory_->Get(i) == entry) {
      std::unique_ptr<TZipHeaderInfo> dropped(directory_->Extract(i));
      break;
    }
  }
  BuildListing();
}

void TOpenArchive::BuildListing() {
  sorted_listing_.reset();
  if (!directory_ || listing_order_ == TZipSortMode::ByNone) return;
  sorted_listing_ = std::make_unique<TSortedZip>(TDuplicatePolicy::kAccept);
  sorted_listing_->SetOwnsItems(false);
  sorted_listing_->SetSortMode(listing_order_);
  for (TZipHeaderInfo* entry : *directory_) sorted_listing_->Add(entry);
}

void TOpenArchive::SetListingOrder(TZipSortMode order) {
  listing_order_ = order;
  BuildListing();
}

int TOpenArchive::Count() const {
  return directory_ ? static_cast<int>(directory_->Count()) : 0;
}

TZipHeaderInfo& TOpenArchive::Entry(int index) const {
  if (index < 0 || index >= Count()) {
    char message[64];
    std::snprintf(message, sizeof message, "Index %d is out of range", index);
    throw EListError(message);
  }
  const bool physical = physical_order_ > 0 || !sorted_listing_;
  return *(physical ? directory_ : sorted_listing_)->Get(index);
}

void TOpenArchive::SetVolumes(int current_disk, int count, TVolumeKind kind) {
  current_disk_ = current_disk;
  volume_count_ = count;
  volume_kind_ = kind;
}

void TOpenArchive::SwitchToVolume(int next_disk) {
  if (!switch_volume_) throw EZipGeneralError("No next volume for the archive");
  switch_volume_(next_disk);
}

void TOpenArchive::GoToVolumeOf(const TZipHeaderInfo& entry) {
  if (IsMultiVolume() && static_cast<int>(entry.DiskNumberStart()) != current_disk_) {
    SwitchToVolume(static_cast<int>(entry.DiskNumberStart()) + 1);
  }
}

std::int64_t TOpenArchive::ReadAcrossVolumes(std::uint8_t* buffer, std::int64_t count) {
  std::int64_t total = 0;
  while (total < count) {
    const std::int64_t got = Stream().Read(buffer + total, count - total);
    if (got > 0) {
      total += got;
      continue;
    }
    if (IsMultiVolume() && current_disk_ + 1 < volume_count_) {
      SwitchToVolume(current_disk_ + 2);
      continue;
    }
    break;
  }
  return total;
}

void TOpenArchive::RememberFile(const std::string& path) {
  file_date_ = FileDosDate(path);
  std::error_code ec;
  const auto time = std::filesystem::last_write_time(platform::FsPath(path), ec);
  file_stamp_ = ec ? 0 : static_cast<std::int64_t>(time.time_since_epoch().count());
  const auto size = std::filesystem::file_size(platform::FsPath(path), ec);
  file_size_ = ec ? -1 : static_cast<std::int64_t>(size);
}

bool TOpenArchive::FileChanged(const std::string& path) const {
  if (FileDosDate(path) != file_date_) return true;
  std::error_code ec;
  if (file_stamp_ != 0) {
    const auto time = std::filesystem::last_write_time(platform::FsPath(path), ec);
    if (!ec && static_cast<std::int64_t>(time.time_since_epoch().count()) != file_stamp_) return true;
  }
  if (file_size_ >= 0) {
    const auto size = std::filesystem::file_size(platform::FsPath(path), ec);
    if (!ec && static_cast<std::int64_t>(size) != file_size_) return true;
  }
  return false;
}

void TOpenArchive::Reset() {
  stream_.reset();
  ForgetDirectory();
  end_record_.ResetDefaults();
  SetVolumes(0, 1, TVolumeKind::vkNone);
  base_offset_ = 0;
  repair_mode_ = false;
  byte_split_set_ = false;
  last_volume_name_.clear();
  report_ = TArchiveReport();
  file_date_ = 0;
  file_stamp_ = 0;
  file_size_ = -1;
}

void TOpenArchive::AdoptWritten(std::unique_ptr<TSortedZip> directory, const TEndCentral& end_record,
                                const std::string& name, int last_volume) {
  end_record_.Assign(end_record);
  end_record_.SetCommentModified(false);
  AdoptDirectory(std::move(directory));
  RememberFile(name);
  SetVolumes(last_volume, last_volume + 1, last_volume > 0 ? TVolumeKind::vkBlocks : TVolumeKind::vkNone);
  base_offset_ = 0;
  repair_mode_ = false;
  byte_split_set_ = false;
  last_volume_name_ = name;
  report_ = TArchiveReport();
}

}  // namespace kzb::zip
