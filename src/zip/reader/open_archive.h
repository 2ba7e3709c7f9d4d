// TOpenArchive: the state of one open archive, shared by the reader (which fills it), the extraction run
// (which reads entries through it) and the writer's update path (which copies from it and then adopts the
// archive it wrote). Each of them talks to the archive through this interface and none touches another's
// fields.
//
// What it holds: the stream on the current volume (or the joined parts of a byte-split set), the directory
// in physical order with the listing in the order the reader asks for, the end record, where the volumes
// stand, how the recorded offsets map to file positions, the file's identity when the directory was read
// (to know when to read it again), and the report of what was wrong with the archive.
//
// Two guards replace settings that runs used to swap: Hold keeps the stream open for a whole run whatever
// the reader's KeepZipOpen says, and PhysicalOrder makes the listing follow the directory's physical order
// while a run needs it (a multi-volume extraction, the writer).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zip/records/end_central.h"
#include "zip/records/sorted_zip.h"
#include "zip/records/zip_header_info.h"
#include "zip/stream/stream.h"

namespace kzb::zip {

// Kind of the archive's volumes.
enum class TVolumeKind { vkNone = 0, vkSpanned = 1, vkBlocks = 2 };

// What reading the directory found wrong. An archive with any of these is damaged: listing and testing
// say so and end with a failure, whatever could be recovered.
struct TArchiveReport {
  // What is wrong with the archive as a whole, one sentence each ("no end of central directory record",
  // "the central directory (offset ..., size ...) lies beyond the end of the archive", ...).
  std::vector<std::string> problems;
  // The entries were rebuilt from the local headers (the central directory was missing or unreadable).
  bool rebuilt = false;
  // Entries the end record declares, when that differs from the entries the directory holds (-1: agree).
  std::int64_t declared_entries = -1;
  // Entries whose data runs past the end of the archive: named here, left out of the directory.
  std::vector<std::string> truncated;
  // Entries that could not be recovered, each with its reason ("name: local header not found").
  std::vector<std::string> lost;

  // A count that differs from the directory only by the 16-bit wrap of writers without Zip64 records.
  bool CountWrapsOnly(std::int64_t found) const {
    return declared_entries >= 0 && found > declared_entries && (found - declared_entries) % 65536 == 0;
  }
  bool Damaged(std::int64_t found) const {
    return !problems.empty() || rebuilt || !truncated.empty() || !lost.empty() ||
           (declared_entries >= 0 && !CountWrapsOnly(found));
  }
  // The report as lines for a person, found being the entries the directory holds; empty when there is
  // nothing to say. Names are printable (control characters escaped).
  std::vector<std::string> Lines(std::int64_t found) const;
};

class TOpenArchive {
 public:
  // Called with a 1-based volume number when the archive must go on on another volume; installed by the
  // reader, which knows how to find and open volumes.
  using VolumeSwitcher = std::function<void(int next_disk)>;

  TOpenArchive() = default;
  TOpenArchive(const TOpenArchive&) = delete;
  TOpenArchive& operator=(const TOpenArchive&) = delete;

  // --- The stream ----------------------------------------------------------------------------------------
  bool IsOpen() const { return stream_ != nullptr; }
  // The open stream (raises EZipGeneralError "Archive is not open" when none is open).
  TStream& Stream();
  void SetStream(std::unique_ptr<TStream> stream) { stream_ = std::move(stream); }
  // Closes the stream unless a run holds it open.
  void Close();
  // Closes the stream even while it is held.
  void ForceClose() { stream_.reset(); }
  // Keeps the stream open until destroyed (Close does nothing meanwhile).
  class Hold {
   public:
    explicit Hold(TOpenArchive& archive) : archive_(archive) { ++archive_.holds_; }
    ~Hold() { --archive_.holds_; }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    TOpenArchive& archive_;
  };
  bool Held() const { return holds_ > 0; }

  // --- The directory -------------------------------------------------------------------------------------
  bool HasDirectory() const { return directory_ != nullptr; }
  // The directory in physical order (disk, then local header offset); empty when none is loaded.
  const TSortedZip& Directory() const;
  // The loaded directory for changing (raises EZipGeneralError "No directory loaded" when none is).
  TSortedZip& Directory();
  // Starts a new, empty directory (replacing any) and returns it for filling.
  TSortedZip& NewDirectory();
  // Takes a directory built elsewhere (the writer's new one).
  void AdoptDirectory(std::unique_ptr<TSortedZip> directory);
  // Frees the directory and the listing.
  void ForgetDirectory();
  // Takes an entry out of the directory (an entry found unusable after reading); the entry is freed.
  void DropEntry(const TZipHeaderInfo* entry);
  // Entries in listing order (the order of SetListingOrder, or physical order under PhysicalOrder).
  int Count() const;
  // The listing entry at index; an index outside 0..Count-1 raises EListError "Index %d is out of range".
  TZipHeaderInfo& Entry(int index) const;
  TZipSortMode ListingOrder() const { return listing_order_; }
  // Rebuilds the listing in that order (also remembered for directories read later).
  void SetListingOrder(TZipSortMode order);
  // Makes the listing the physical order while it lives.
  class PhysicalOrder {
   public:
    explicit PhysicalOrder(TOpenArchive& archive) : archive_(archive) { ++archive_.physical_order_; }
    ~PhysicalOrder() { --archive_.physical_order_; }
    PhysicalOrder(const PhysicalOrder&) = delete;
    PhysicalOrder& operator=(const PhysicalOrder&) = delete;

   private:
    TOpenArchive& archive_;
  };

  // --- Records and volumes -------------------------------------------------------------------------------
  TEndCentral& EndRecord() { return end_record_; }
  const TEndCentral& EndRecord() const { return end_record_; }
  int CurrentDisk() const { return current_disk_; }
  int VolumeCount() const { return volume_count_; }
  TVolumeKind VolumeKind() const { return volume_kind_; }
  bool IsMultiVolume() const { return volume_kind_ != TVolumeKind::vkNone; }
  // Where the volumes stand: the stream is on current_disk (0-based) of count volumes of that kind.
  void SetVolumes(int current_disk, int count, TVolumeKind kind);
  void SetCurrentDisk(int disk) { current_disk_ = disk; }
  void SetVolumeSwitcher(VolumeSwitcher switcher) { switch_volume_ = std::move(switcher); }
  // Moves the stream to volume next_disk (1-based).
  void SwitchToVolume(int next_disk);
  // Moves the stream to the volume holding entry's data, when that is another one.
  void GoToVolumeOf(const TZipHeaderInfo& entry);
  // Reads count bytes at the stream's position, going on to the next volume of a multi-volume set when a
  // volume ends; returns the bytes read (short only when the set ends).
  std::int64_t ReadAcrossVolumes(std::uint8_t* buffer, std::int64_t count);

  // --- How the directory was read ------------------------------------------------------------------------
  // Bytes in front of the archive that the recorded offsets do not count (self-extractor stub, junk).
  std::int64_t BaseOffset() const { return base_offset_; }
  void SetBaseOffset(std::int64_t offset) { base_offset_ = offset; }
  // The directory was rebuilt from the local headers.
  bool RepairMode() const { return repair_mode_; }
  void SetRepairMode(bool on) { repair_mode_ = on; }
  // The archive is a byte-split set (name.001, name.002, ...) read as one stream.
  bool ByteSplitSet() const { return byte_split_set_; }
  void SetByteSplitSet(bool on) { byte_split_set_ = on; }
  // Name of the volume holding the end record, for the next-volume provider.
  const std::string& LastVolumeName() const { return last_volume_name_; }
  void SetLastVolumeName(const std::string& name) { last_volume_name_ = name; }
  TArchiveReport& Report() { return report_; }
  const TArchiveReport& Report() const { return report_; }

  // --- The file's identity -------------------------------------------------------------------------------
  // Remembers the file's DOS date, exact modification time and size as the ones the directory belongs to.
  void RememberFile(const std::string& path);
  // True when the file's date, exact time or size differ from the remembered ones.
  bool FileChanged(const std::string& path) const;

  // Back to nothing loaded: stream closed, no directory, end record reset, one volume, nothing remembered.
  // The listing order stays.
  void Reset();
  // After the writer wrote an archive: its directory, end record and volumes become the open archive's.
  void AdoptWritten(std::unique_ptr<TSortedZip> directory, const TEndCentral& end_record, const std::string& name,
                    int last_volume);

 private:
  void BuildListing();

  std::unique_ptr<TStream> stream_;
  int holds_ = 0;
  std::unique_ptr<TSortedZip> directory_;       // owning, physical order; null until read
  std::unique_ptr<TSortedZip> sorted_listing_;  // non-owning view in listing_order_ (unless ByNone)
  TZipSortMode listing_order_ = TZipSortMode::ByNone;
  int physical_order_ = 0;
  TEndCentral end_record_;
  int current_disk_ = 0;  // 0-based volume the stream is on
  int volume_count_ = 1;  // volumes of the set
  TVolumeKind volume_kind_ = TVolumeKind::vkNone;
  VolumeSwitcher switch_volume_;
  std::int64_t base_offset_ = 0;
  bool repair_mode_ = false;
  bool byte_split_set_ = false;
  std::string last_volume_name_;
  TArchiveReport report_;
  std::uint32_t file_date_ = 0;  // DOS date of the file when the directory was read
  std::int64_t file_stamp_ = 0;  // exact modification time (0: unknown)
  std::int64_t file_size_ = -1;  // size (-1: unknown)
};

}  // namespace kzb::zip
