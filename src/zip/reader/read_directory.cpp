// Reading an archive's directory.
//
// The end record is looked for at the end of the archive (and, when it is missing, in the joined parts of
// a byte-split set or in a ".zfc" side file). Its offset and size say where the central directory lies;
// both are checked against the file before anything is read there, and the headers of a single-volume
// archive are read until the directory's recorded end, not for as many entries as the end record claims:
// when the count disagrees (some writers store it modulo 65536), the directory is trusted and the report
// says so. Data in front of the archive (a self-extractor stub, junk) shifts every recorded offset by the
// same amount; that amount is found once from the end record and added to the offsets in memory, so
// everything later works with true file positions.
//
// After reading, every entry's local header offset and compressed size must lie inside the archive (an
// entry that does not is reported lost and left out) and no two entries may share bytes: entries that
// overlap, the shape of a zip bomb, make the archive be refused.
//
// When the central directory cannot be read, the local-header scan walks the file from the front, takes
// every local header whose data is complete (an entry whose data runs past the end is reported truncated)
// and then merges whatever central headers follow (repair mode). The scan runs at most once per read, so a
// damaged archive ends in an error, never in a loop. Whatever was wrong goes into the archive's report
// (TArchiveReport): a rebuilt or inconsistent directory is never passed off as a sound one.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/path.h"
#include "zip/reader/split_set_stream.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/records/ascii_text.h"
#include "zip/records/crc32.h"
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
// Applies an Info-ZIP Unicode Path extra block (0x7075) of a central header held in memory at header:
// when its CRC matches the stored name, the entry takes the block's UTF-8 name. Names with general purpose
// bit 11 are UTF-8 already and keep their own name.
void ApplyUnicodePathExtra(TZipHeaderInfo& entry, const std::uint8_t* header, std::int64_t available) {
  if ((entry.GeneralFlags() & kFlagUtf8) != 0 || available < kCentralHeaderSize) return;
  const std::int64_t name_length = GetU16(header + central_header::kNameLength);
  const std::int64_t extra_length = GetU16(header + central_header::kExtraLength);
  if (extra_length == 0 || kCentralHeaderSize + name_length + extra_length > available) return;
  const std::uint8_t* name = header + kCentralHeaderSize;
  const std::uint8_t* extra = name + name_length;
  std::int64_t k = 0;
  while (k + kExtraBlockHeaderSize <= extra_length) {
    const std::uint16_t id = GetU16(extra + k);
    const std::int64_t size = GetU16(extra + k + extra_block::kDataSize);
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

// How an entry is named in the report and in errors.
std::string EntryLabel(const TZipHeaderInfo& entry) {
  return entry.FullName();
}

}  // namespace

struct TVCLUnZip::DirectoryRead {
  std::unique_ptr<TStream> side_stream;   // a ".zfc" side file holding the directory
  std::unique_ptr<TMemoryStream> memory;  // the directory read into memory at once
  std::int64_t memory_base = 0;           // archive position of the memory's first byte
  bool found = false;                     // an end record was found
  bool scanned = false;                   // the local-header scan ran (it runs at most once per read)
  bool by_size = false;                   // headers are read up to directory_end, not counted
  std::int64_t directory_end = 0;         // archive position where the central directory ends
  std::int64_t memory_end = -1;           // the directory lies whole on this volume up to here (-1: not)
  TNextVolumeHook next_volume;            // continues a header on the next volume of a set

  // Where the next header is read from.
  TStream& Headers(TOpenArchive& archive) const {
    if (memory && !archive.RepairMode()) return *memory;
    return side_stream ? *side_stream : archive.Stream();
  }
  bool FromMemory(const TOpenArchive& archive) const { return memory && !archive.RepairMode(); }
};

// The outline: the end record, the central directory it points to, its headers, the checks on them.
void TVCLUnZip::ReadZipDirectory() {
  archive_.RememberFile(zip_name_);
  archive_.ForgetDirectory();
  archive_.SetRepairMode(false);
  archive_.SetBaseOffset(0);
  archive_.Report() = TArchiveReport();
  DirectoryRead read;

  // A comment the user changed and the writer has not stored yet survives reading the directory again.
  const bool comment_modified = archive_.EndRecord().CommentModified();
  const std::optional<std::string> pending_comment = archive_.EndRecord().ZipCommentText();
  archive_.EndRecord().ResetDefaults();
  read.found = LocateEndRecord(read);
  if (comment_modified) {
    archive_.EndRecord().SetZipComment(pending_comment);
    archive_.EndRecord().SetCommentModified(true);
  }

  if (read.found) {
    PositionAtCentralDirectory(read);
  } else {
    HandleMissingEndRecord(read);
  }
  if (!archive_.HasDirectory()) archive_.NewDirectory();
  LoadDirectoryIntoMemory(read);
  ReadCentralHeaders(read);
  CheckEntryBounds();
  RefuseOverlappingEntries();
  ReadMultiVolumeComment(read);
  archive_.SetListingOrder(sort_mode_);
}

// --- 1. The end record -------------------------------------------------------------------------------------

// In the archive, in the joined parts of a byte-split set, or in a ".zfc" side file.
bool TVCLUnZip::LocateEndRecord(DirectoryRead& read) {
  TEndCentral& end = archive_.EndRecord();
  bool found = false;
  if (!archive_.ByteSplitSet()) found = end.FindEndRecord(archive_.Stream());
  if (!archive_.ByteSplitSet() && found && end.ThisDisk() == 0 && end.PrependedBytes() < 0 &&
      !TSplitSetStream::FindParts(zip_name_).empty()) {
    found = false;  // the last part of a byte-split set: offsets count from the set's first byte
  }
  if (!found && !archive_.ByteSplitSet() && !TSplitSetStream::FindParts(zip_name_).empty()) {
    archive_.SetByteSplitSet(true);
    archive_.ForceClose();
    OpenArchiveStream();
    end.ResetDefaults();
  }
  if (archive_.ByteSplitSet()) {
    found = end.FindEndRecord(archive_.Stream());
    if (!found) {
      archive_.SetByteSplitSet(false);
      archive_.ForceClose();
      OpenArchiveStream();
      end.ResetDefaults();
    }
  }
  if (!found) {
    const std::string side_name = platform::ChangeFileExt(zip_name_, ".zfc");
    if (platform::FileExists(side_name)) {
      read.side_stream = std::make_unique<TLFNFileStream>(side_name, kFmOpenRead, false, kDefaultBufferSize);
      found = end.FindEndRecord(*read.side_stream);
      if (!found) read.side_stream.reset();
    }
  }
  if (found && !read.side_stream && archive_.Stream().Size() == 0) {
    archive_.Report().problems.push_back("the file is empty: it holds no end of central directory record");
  }
  if (found && !end.Problem().empty()) archive_.Report().problems.push_back(end.Problem());
  return found;
}

// Volumes, then the start of the central directory: checked against the file for a single volume, where
// data in front of the archive may shift every recorded offset.
void TVCLUnZip::PositionAtCentralDirectory(DirectoryRead& read) {
  TEndCentral& end = archive_.EndRecord();
  const int this_disk = static_cast<int>(end.ThisDisk());
  archive_.SetVolumes(read.side_stream ? 0 : this_disk, this_disk + 1,
                      this_disk == 0 ? TVolumeKind::vkNone : TVolumeKind::vkBlocks);
  archive_.SetLastVolumeName(zip_name_);
  if (archive_.IsMultiVolume() && !read.side_stream) {
    read.next_volume = [this]() -> TStream* {
      if (archive_.CurrentDisk() + 1 >= archive_.VolumeCount()) return nullptr;
      SwitchToVolume(archive_.CurrentDisk() + 2);
      return &archive_.Stream();
    };
  }
  if (end.TotalEntries() == 0 && end.CentralDirSize() == 0) return;
  if (read.side_stream) {
    read.side_stream->Seek(0, kSeekBegin);
    return;
  }
  if (archive_.IsMultiVolume()) {
    if (static_cast<int>(end.CentralStartDisk()) != archive_.CurrentDisk()) {
      SwitchToVolume(static_cast<int>(end.CentralStartDisk()) + 1);
    }
    archive_.Stream().Seek(end.CentralDirOffset(), kSeekBegin);
    if (end.CentralStartDisk() == end.ThisDisk()) {
      read.memory_end = end.IsZip64() ? end.Zip64EndPosition() : end.EndRecordPosition();
    }
    return;
  }
  if (!CheckEndRecordBounds(read)) return;
  archive_.Stream().Seek(end.CentralDirOffset() + archive_.BaseOffset(), kSeekBegin);
}

// A single volume's directory must lie inside the file. Prepended data (a self-extractor stub) is found
// here: the directory is where the recorded offset plus the shift puts it. Out of bounds: repair.
bool TVCLUnZip::CheckEndRecordBounds(DirectoryRead& read) {
  TEndCentral& end = archive_.EndRecord();
  TStream& stream = archive_.Stream();
  const std::int64_t size = stream.Size();
  const std::int64_t offset = end.CentralDirOffset();
  const std::int64_t shift = end.PrependedBytes();  // at most the end record's position
  if (offset > size) {
    StartRepair(read,
                "the central directory offset (" + std::to_string(offset) + ") lies beyond the end of the archive");
    return false;
  }
  if (shift > 0) {
    auto directory_at = [&](std::int64_t position) {
      std::uint8_t sig[4] = {};
      if (position < 0 || position > size - 4) return false;
      stream.Seek(position, kSeekBegin);
      return stream.Read(sig, 4) == 4 && GetU32(sig) == kCentralHeaderSignature;
    };
    // (Zip64 records that the classic fields do not point to may stand between the directory and the end
    // record.)
    const std::int64_t zip64_records = kZip64EndCentralSize + kZip64EndLocatorSize;
    if (!directory_at(offset)) {
      if (directory_at(offset + shift)) {
        archive_.SetBaseOffset(shift);
      } else if (shift > zip64_records && directory_at(offset + shift - zip64_records)) {
        archive_.SetBaseOffset(shift - zip64_records);
      }
    }
  }
  const std::int64_t start = offset + archive_.BaseOffset();
  if (start > size || end.CentralDirSize() > size - start) {
    StartRepair(read, "the central directory size (" + std::to_string(end.CentralDirSize()) +
                          ") runs past the end of the archive");
    return false;
  }
  read.by_size = true;
  read.directory_end = start + end.CentralDirSize();
  read.memory_end = read.directory_end;
  return true;
}

// No end record: the handler may change IncompleteZipMode, which then decides.
void TVCLUnZip::HandleMissingEndRecord(DirectoryRead& read) {
  archive_.Report().problems.push_back(
      "no end of central directory record: the archive is cut short or not a zip file");
  if (OnInCompleteZip) OnInCompleteZip(*this, incomplete_zip_mode_);
  switch (incomplete_zip_mode_) {
    case TIncompleteZipMode::izAssumeNotAZip:
      ClearZip();
      throw ENotAZipFile("Not a valid zip file!");
    case TIncompleteZipMode::izAssumeMulti:
      throw EIncompleteZip("Incomplete Zip File");
    case TIncompleteZipMode::izAssumeBad:
      StartRepair(read, std::string());
      break;
  }
}

// --- 2. The central headers --------------------------------------------------------------------------------

// A directory that lies whole on the current volume is read into memory at once: the headers are then
// parsed without a system call each, and their extra fields are at hand for the Unicode Path block.
void TVCLUnZip::LoadDirectoryIntoMemory(DirectoryRead& read) {
  if (read.memory_end < 0 || archive_.RepairMode()) return;
  TStream& stream = archive_.Stream();
  const std::int64_t start = stream.Position();
  const std::int64_t length = read.memory_end - start;
  if (length <= 0 || length > kMaxInMemoryDirectory) return;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
  if (stream.Read(bytes.data(), length) != length) {
    stream.Seek(start, kSeekBegin);
    return;
  }
  read.memory = std::make_unique<TMemoryStream>(std::move(bytes));
  read.memory_base = start;
}

void TVCLUnZip::ReadCentralHeaders(DirectoryRead& read) {
  TZipHeaderInfo* previous = nullptr;
  std::int64_t count = 0;
  while (MoreCentralHeaders(read, count)) {
    auto entry = std::make_unique<TZipHeaderInfo>();
    if (!ReadCentralHeader(read, *entry, previous)) {
      if (archive_.RepairMode()) break;
      if (archive_.IsMultiVolume() || read.side_stream) {
        ClearZip();
        throw EBadZipFile("Not a valid zip file!");
      }
      StartRepair(read, "central header " + std::to_string(count + 1) + " of the central directory is unreadable");
      previous = nullptr;
      count = 0;
      continue;
    }
    ++count;
    if (archive_.RepairMode()) {
      MergeCentralHeader(read, std::move(entry));
    } else {
      previous = AddCentralHeader(read, std::move(entry));
    }
  }
  if (!archive_.RepairMode() && count != archive_.EndRecord().TotalEntries()) {
    archive_.Report().declared_entries = archive_.EndRecord().TotalEntries();
  }
}

// A single volume's headers run to the directory's recorded end; a set's are counted (their positions
// restart on every volume); after the scan, central headers are merged for as long as they follow.
bool TVCLUnZip::MoreCentralHeaders(DirectoryRead& read, std::int64_t read_so_far) {
  if (archive_.RepairMode()) return true;
  if (read.by_size) {
    const std::int64_t base = read.FromMemory(archive_) ? read.memory_base : 0;
    return read.Headers(archive_).Position() + base < read.directory_end;
  }
  // Counted: never more headers than the recorded directory size can hold.
  const TEndCentral& end = archive_.EndRecord();
  return read_so_far < end.TotalEntries() && read_so_far < end.CentralDirSize() / kCentralHeaderSize + 1;
}

bool TVCLUnZip::ReadCentralHeader(DirectoryRead& read, TZipHeaderInfo& entry, TZipHeaderInfo* previous) {
  const bool plain = archive_.RepairMode() || read.FromMemory(archive_);
  TStream* stream = &read.Headers(archive_);
  if (entry.ReadCentral(*stream, plain ? TNextVolumeHook() : read.next_volume)) return true;
  if (previous == nullptr || previous->CentralExtraLength() == 0) return false;
  // Some writers declare central extra bytes they never wrote: take the bytes as the next header.
  const std::int64_t back = previous->CentralExtraLength();
  previous->SetCentralExtraLength(0);
  stream = &read.Headers(archive_);
  stream->Seek(-back, kSeekCurrent);
  return entry.ReadCentral(*stream, plain ? TNextVolumeHook() : read.next_volume);
}

// Normal mode: the header becomes an entry. Two entries claiming the same local header overlap.
TZipHeaderInfo* TVCLUnZip::AddCentralHeader(DirectoryRead& read, std::unique_ptr<TZipHeaderInfo> entry) {
  const bool from_memory = read.FromMemory(archive_);
  if (from_memory) {
    const std::int64_t at = entry->CentralHeaderPosition();
    const std::vector<std::uint8_t>& bytes = read.memory->Bytes();
    ApplyUnicodePathExtra(*entry, bytes.data() + at, static_cast<std::int64_t>(bytes.size()) - at);
    entry->SetCentralHeaderPosition(at + read.memory_base);
  }
  if (!archive_.IsMultiVolume()) {
    const std::int64_t offset = entry->LocalHeaderOffset();
    const std::int64_t base = archive_.BaseOffset();
    // Past the largest offset a file can have, the entry is caught by the bounds check.
    entry->SetLocalHeaderOffset(offset > INT64_MAX - base ? INT64_MAX : offset + base);
  }
  TSortedZip& directory = archive_.Directory();
  const std::int64_t existing = directory.IndexOf(entry.get());
  if (existing >= 0) {
    const std::string first = EntryLabel(*directory.Get(existing));
    const std::string second = EntryLabel(*entry);
    ClearZip();
    throw EBadZipFile("Not a valid zip file: the entries \"" + first + "\" and \"" + second +
                      "\" share the same data (overlapping entries)");
  }
  TZipHeaderInfo* added = entry.get();
  directory.Add(entry.release());
  if (archive_.IsMultiVolume() && added->HasComment()) {
    TStream& stream = read.Headers(archive_);
    const std::int64_t resume = stream.Position();
    const std::int64_t base = from_memory ? read.memory_base : 0;
    added->SetCentralHeaderPosition(added->CentralHeaderPosition() - base);
    const std::uint16_t length = added->FileCommentLength();
    added->ReadFileComment(stream);
    added->SetFileCommentLength(length);
    added->SetCentralHeaderPosition(added->CentralHeaderPosition() + base);
    stream.Seek(resume, kSeekBegin);
  }
  return added;
}

// Repair mode: a central header completes the scanned entry it points to when both name the same file;
// one that matches no scanned entry names an entry that was lost (unless it was found truncated).
void TVCLUnZip::MergeCentralHeader(DirectoryRead& /*read*/, std::unique_ptr<TZipHeaderInfo> entry) {
  TSortedZip& directory = archive_.Directory();
  const std::int64_t index = directory.IndexOf(entry.get());
  if (index >= 0 && directory.Get(index)->FullName() == entry->FullName()) {
    TZipHeaderInfo* existing = directory.Get(index);
    const std::int64_t scanned_offset = existing->LocalHeaderOffset();
    existing->Assign(*entry);
    existing->SetLocalHeaderOffset(scanned_offset);
    return;
  }
  TArchiveReport& report = archive_.Report();
  const std::string name = EntryLabel(*entry);
  if (std::find(report.truncated.begin(), report.truncated.end(), name) != report.truncated.end()) return;
  for (const TZipHeaderInfo* scanned : directory) {
    if (scanned->FullName() == name) return;
  }
  report.lost.push_back(name + ": its local header and data were not found");
}

// The central directory cannot be used: record why and rebuild the directory from the local headers.
void TVCLUnZip::StartRepair(DirectoryRead& read, const std::string& problem) {
  if (!problem.empty()) archive_.Report().problems.push_back(problem);
  if (read.scanned || !ScanLocalHeaders()) {
    ClearZip();
    throw EBadZipFile("Not a valid zip file!");
  }
  read.scanned = true;
  read.by_size = false;
}

// --- 3. Checks on the entries ------------------------------------------------------------------------------

// Every entry of a single volume must have its local header and its data inside the file; an entry that
// does not is reported lost and left out, so nothing later reads or sizes by a value past the end.
void TVCLUnZip::CheckEntryBounds() {
  if (archive_.IsMultiVolume() || archive_.RepairMode()) return;
  const std::int64_t size = archive_.Stream().Size();
  std::vector<const TZipHeaderInfo*> out_of_bounds;
  for (const TZipHeaderInfo* entry : archive_.Directory()) {
    const std::int64_t offset = entry->LocalHeaderOffset();
    std::string reason;
    if (offset < 0 || offset > size - kLocalHeaderSize) {
      reason = "its local header offset (" + std::to_string(offset) + ") lies beyond the end of the archive";
    } else if (entry->CompressedSize() > size - offset - kLocalHeaderSize) {
      reason = "its compressed size (" + std::to_string(entry->CompressedSize()) + ") runs past the end of the archive";
    }
    if (reason.empty()) continue;
    archive_.Report().lost.push_back(EntryLabel(*entry) + ": " + reason);
    out_of_bounds.push_back(entry);
  }
  for (const TZipHeaderInfo* entry : out_of_bounds) archive_.DropEntry(entry);
}

// Entries of one volume, in physical order, must not share bytes: each one's local header and data end
// before the next one starts.
void TVCLUnZip::RefuseOverlappingEntries() {
  if (archive_.RepairMode()) return;
  const TSortedZip& directory = archive_.Directory();
  for (std::int64_t i = 1; i < directory.Count(); ++i) {
    const TZipHeaderInfo& a = *directory.Get(i - 1);
    const TZipHeaderInfo& b = *directory.Get(i);
    if (a.DiskNumberStart() != b.DiskNumberStart()) continue;
    const std::int64_t gap = b.LocalHeaderOffset() - a.LocalHeaderOffset();  // both within the file
    if (gap >= kLocalHeaderSize && gap - kLocalHeaderSize >= a.CompressedSize()) continue;
    const std::string first = EntryLabel(a);
    const std::string second = EntryLabel(b);
    ClearZip();
    throw EBadZipFile("Not a valid zip file: the entries \"" + first + "\" and \"" + second +
                      "\" share the same data (overlapping entries)");
  }
}

// A multi-volume archive's comment is read now, while the right volume is at hand.
void TVCLUnZip::ReadMultiVolumeComment(DirectoryRead& read) {
  TEndCentral& end = archive_.EndRecord();
  if (!archive_.IsMultiVolume() || end.ZipCommentLength() == 0 || end.ZipCommentText()) return;
  if (read.side_stream) {
    end.ReadZipComment(*read.side_stream);
    return;
  }
  if (archive_.CurrentDisk() != archive_.VolumeCount() - 1) SwitchToVolume(archive_.VolumeCount());
  end.ReadZipComment(archive_.Stream());
}

// --- The local-header scan ---------------------------------------------------------------------------------

bool TVCLUnZip::ScanLocalHeaders() {
  if (archive_.RepairMode()) return false;
  archive_.SetRepairMode(true);
  archive_.ForgetDirectory();
  archive_.SetBaseOffset(0);
  archive_.Report().rebuilt = true;
  TStream& stream = archive_.Stream();
  const std::int64_t size = stream.Size();
  const std::int64_t hit = FindFirstLocalHeader(EndsWithNoCase(zip_name_, ".exe") ? kExeScanStart : 0);
  if (hit < 0) return false;

  TSortedZip& directory = archive_.NewDirectory();
  stream.Seek(hit, kSeekBegin);
  std::int64_t next = hit;
  while (true) {
    auto entry = std::make_unique<TZipHeaderInfo>();
    if (!entry->ReadLocal(stream)) break;
    const std::int64_t data_start = stream.Position() + entry->LocalExtraLength();
    std::int64_t data_end = 0;
    bool complete = data_start <= size;
    if (complete && entry->HasDataDescriptor() && entry->CompressedSize() == 0) {
      complete = LocateDataDescriptor(*entry, data_start, data_end);
    } else if (complete) {
      complete = entry->CompressedSize() <= size - data_start;
      data_end = data_start + (complete ? entry->CompressedSize() : 0);
    }
    if (!complete) {
      archive_.Report().truncated.push_back(EntryLabel(*entry));
      break;
    }
    if (directory.IndexOf(entry.get()) >= 0) break;
    const bool descriptor = entry->HasDataDescriptor();
    directory.Add(entry.release());
    next = std::min(size, data_end + (descriptor ? kDataDescriptorSize : 0));
    stream.Seek(next, kSeekBegin);
    ProcessMessages();
  }
  stream.Seek(next, kSeekBegin);
  archive_.SetVolumes(0, 1, TVolumeKind::vkNone);
  TEndCentral& end = archive_.EndRecord();
  end.SetThisDisk(0);
  end.SetCentralDirOffset(next);
  end.SetTotalEntries(directory.Count());
  return true;
}

// The first local-header signature from position on whose version-needed field is believable, or -1.
std::int64_t TVCLUnZip::FindFirstLocalHeader(std::int64_t position) {
  TStream& stream = archive_.Stream();
  const std::int64_t size = stream.Size();
  std::vector<std::uint8_t> window(65536);
  std::int64_t examined = 0;
  while (position + 4 <= size) {
    stream.Seek(position, kSeekBegin);
    const std::int64_t got = stream.Read(window.data(), static_cast<std::int64_t>(window.size()));
    if (got < 4) break;
    for (std::int64_t k = 0; k + 4 <= got; ++k) {
      if (window[k] != 'P' || window[k + 1] != 'K' || window[k + 2] != 3 || window[k + 3] != 4) continue;
      bool believable = false;
      if (k + 6 <= got) {
        believable = window[k + 5] < 10;
      } else {
        std::uint8_t version[2];
        stream.Seek(position + k + 4, kSeekBegin);
        believable = stream.Read(version, 2) == 2 && version[1] < 10;
      }
      if (believable) return position + k;
    }
    examined += got;
    if (examined >= kScanMessageInterval) {
      examined = 0;
      ProcessMessages();
    }
    position += got - 3;  // keep three bytes: a signature may straddle the windows
  }
  return -1;
}

// A streamed entry's sizes follow its data: the data descriptor whose size field matches the distance
// from the data's start is taken. False when none is found (the entry's data is cut short).
bool TVCLUnZip::LocateDataDescriptor(TZipHeaderInfo& entry, std::int64_t data_start, std::int64_t& data_end) {
  TStream& stream = archive_.Stream();
  const std::int64_t size = stream.Size();
  std::vector<std::uint8_t> buffer(65536 + kDataDescriptorSize);
  std::int64_t probe = data_start;
  while (probe < size) {
    stream.Seek(probe, kSeekBegin);
    const std::int64_t got = stream.Read(buffer.data(), static_cast<std::int64_t>(buffer.size()));
    if (got < kDataDescriptorSize) break;
    for (std::int64_t k = 0; k + kDataDescriptorSize <= got; ++k) {
      const std::uint8_t* d = &buffer[static_cast<std::size_t>(k)];
      if (GetU32(d) != kDataDescriptorSignature ||
          GetU32(d + data_descriptor::kCompressedSize) != static_cast<std::uint32_t>(probe + k - data_start)) {
        continue;
      }
      entry.SetCrc32(GetU32(d + data_descriptor::kCrc32));
      entry.SetCompressedSize(GetU32(d + data_descriptor::kCompressedSize));
      entry.SetUncompressedSize(GetU32(d + data_descriptor::kUncompressedSize));
      data_end = probe + k;
      return true;
    }
    probe += got - (kDataDescriptorSize - 1);
  }
  return false;
}

}  // namespace kzb::zip
