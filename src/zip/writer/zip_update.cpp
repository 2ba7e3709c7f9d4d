// The writer's update pass: the entries of the existing archive, in their physical order, are copied
// into the new one byte for byte (never decompressed), or replaced by their file when the list names it
// and it is newer (or the action is zaReplace). A file that cannot be stored leaves its old entry in
// place, so nothing is lost. Stored names are compared exactly, since names that differ only in case are
// different files here. Files of the list that matched an entry are taken out of the list; the rest are
// added after the pass as new entries.
#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"
#include "platform/path.h"
#include "zip/records/dos_time.h"
#include "zip/records/zip_format.h"
#include "zip/writer/vcl_zip.h"
#include "zip/writer/zip_run.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

void ZipRun::UpdatePass() {
  std::vector<std::string>& files = zip_.FilesList();
  // Stored name -> indices of the files of that name, in list order.
  std::unordered_map<std::string, std::deque<std::size_t>> by_name;
  for (std::size_t j = 0; j < files.size(); ++j) by_name[StoredKey(files[j])].push_back(j);
  std::vector<bool> consumed(files.size(), false);

  const TSortedZip& old_dir = zip_.Archive().Directory();
  for (std::int64_t i = 0; i < old_dir.Count(); ++i) {
    auto copy = std::make_unique<TZipHeaderInfo>(*old_dir.Get(i));
    if (copy->HasComment() && !copy->FileComment()) {
      const std::uint16_t length = copy->FileCommentLength();
      copy->ReadFileComment(zip_.Archive().Stream());
      copy->SetFileCommentLength(length);
    }
    auto found = by_name.find(copy->FullName());
    if (found != by_name.end() && !found->second.empty()) {
      const std::size_t j = found->second.front();
      found->second.pop_front();
      consumed[j] = true;
      const std::string& path = files[j];
      const bool newer = zip_.zip_action_ == TZipAction::zaReplace || IsNewerThan(path, *copy);
      if (newer && (platform::FileExists(path) || platform::DirectoryExists(path))) {
        if (zip_.OnUpdate) zip_.OnUpdate(zip_, TUpdateAction::uaReplacing, static_cast<int>(i));
        auto header = std::make_unique<TZipHeaderInfo>();
        if (ZipOneFile(path, *header)) {
          AddToNewDirectory(std::move(header));
          ++count_;
          if (zip_.dispose_ && !EndsWithSeparator(path)) dispose_list_.push_back(path);
          continue;
        }
        // The new file could not be stored: the old entry stays, so no data is lost.
      } else {
        if (zip_.dispose_ && !EndsWithSeparator(path)) dispose_list_.push_back(path);
        if (zip_.OnUpdate) zip_.OnUpdate(zip_, TUpdateAction::uaKeeping, static_cast<int>(i));
        // A kept file is never read; take it out of the progress total.
        if (!EndsWithSeparator(path)) byte_total_ -= std::max<std::int64_t>(0, platform::FileSize(path));
      }
    }
    CopyEntry(*copy);
    AddToNewDirectory(std::move(copy));
  }

  std::vector<std::string> remaining;
  for (std::size_t j = 0; j < files.size(); ++j) {
    if (!consumed[j]) remaining.push_back(std::move(files[j]));
  }
  files = std::move(remaining);
}

// Compared in UTC seconds when the entry has its time in UTC (a change of time zone or daylight saving
// time between two runs then neither hides a change nor takes every file again), else as DOS date-times.
bool ZipRun::IsNewerThan(const std::string& path, const TZipHeaderInfo& entry) {
  const std::string file = EndsWithSeparator(path) ? platform::ExcludeTrailingSeparator(path) : path;
  platform::FileStatus status;
  if (entry.UnixTime() && platform::GetFileStatus(file, status)) return status.unix_time > *entry.UnixTime();
  return FileDosTime(file) > FixDosDateTime(entry.FileDateTime());
}

void ZipRun::CopyEntry(TZipHeaderInfo& entry) {
  TStream& in = *old_archive_;
  in.Seek(entry.LocalHeaderOffset(), kSeekBegin);
  std::uint8_t local[kLocalHeaderSize];
  in.ReadBuffer(local, kLocalHeaderSize);
  if (GetU32(local) != kLocalHeaderSignature) throw EBadZipFile("Not a valid zip file!");
  const std::uint16_t name_length = GetU16(local + local_header::kNameLength);
  const std::uint16_t extra_length = GetU16(local + local_header::kExtraLength);
  in.Seek(name_length, kSeekCurrent);
  std::vector<std::uint8_t> extra(extra_length);
  if (extra_length != 0) in.ReadBuffer(extra.data(), extra_length);
  bool old_zip64 = false;
  for (std::size_t k = 0; k + 4 <= extra.size();) {
    const std::uint16_t id = GetU16(&extra[k]);
    const std::uint16_t size = GetU16(&extra[k + extra_block::kDataSize]);
    if (id == kZip64ExtraId) old_zip64 = true;
    k += 4 + size;
  }

  TStream& out = output_->Stream();
  entry.SetLocalExtraLength(extra_length);
  entry.SetDiskNumberStart(static_cast<std::uint32_t>(output_->Volume()));
  entry.WriteLocal(out);
  if (!entry.LocalHasZip64() && extra_length != 0) out.WriteBuffer(extra.data(), extra_length);
  if (out.CopyFrom(in, entry.CompressedSize()) != entry.CompressedSize()) {
    throw EFatalUnzipError("Premature end of file reached");
  }
  if (entry.HasDataDescriptor()) {
    // The descriptor is part of what readers expect after the data while bit 3 is set: copy it along.
    std::uint8_t descriptor[kZip64DataDescriptorSize];
    const bool wide =
        old_zip64 || entry.CompressedSize() > kMaxClassicSize || entry.UncompressedSize() > kMaxClassicSize;
    std::int64_t length = wide ? kZip64DataDescriptorSize - 4 : kDataDescriptorSize - 4;
    std::uint8_t signature[4];
    if (in.Read(signature, 4) == 4 && GetU32(signature) == kDataDescriptorSignature) length += 4;
    in.Seek(-4, kSeekCurrent);
    if (in.Read(descriptor, length) == length) out.WriteBuffer(descriptor, length);
  }
}

}  // namespace kzb::zip
