// Where a writer run puts its bytes: one archive file, or a set of numbered volumes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zip/stream/buffer_stream.h"
#include "zip/stream/stream.h"

namespace kzb::zip {

// Prefix of the temporary files the writer makes beside an archive (platform::CreateTempFile adds the
// process id, so a leftover of a killed run can be told from a file that is still being written).
inline constexpr char kWriterTempPrefix[] = "kzb";

// Every file is written under a temporary name in the folder of its final name and renamed into place by
// Commit, after the whole run has succeeded; Discard (or destruction without Commit) deletes what was
// written. So a failed run never leaves a partial archive behind and never touches an existing one.
//
// Single mode: one file, final name zip_name. Volume mode: volume n (0-based) is finally named zip_name
// with the extension ".%03d" of n + 1, unless ask_next_name chose another name for it; when only one
// volume was used it is renamed to zip_name itself. A name that would reuse a volume of this set is
// replaced by the numbered name, so no volume is ever overwritten.
class TVolumeOutput {
 public:
  struct Options {
    std::string zip_name;
    bool multi_volume = false;
    std::int64_t first_limit = -1;  // bytes the first volume may hold; -1: no limit
    // Bytes the next volume may hold, given its final name; -1: no limit. Only used with multi_volume.
    std::function<std::int64_t(const std::string& final_name)> next_limit;
    // Asked for the final name of the next volume (1-based disk number, proposed name); may change the
    // name; an empty name cancels the run (EUserCanceled "User canceled Zip operation").
    std::function<void(int next_disk, std::string& name)> ask_next_name;
    // Told that the next volume (1-based) is about to be created.
    std::function<void(int disk_num)> prepare_next_disk;
    bool flush_to_disk = false;      // fsync every volume before it is closed, and its folder after Commit
    std::int64_t device_limit = -1;  // test seam: a device that takes only this many bytes per volume
    std::int32_t buffer_size = kDefaultBufferSize;
  };

  explicit TVolumeOutput(Options options);
  ~TVolumeOutput();
  TVolumeOutput(const TVolumeOutput&) = delete;
  TVolumeOutput& operator=(const TVolumeOutput&) = delete;

  // Creates the first volume.
  void Open();
  TStream& Stream() { return *buffered_; }
  int Volume() const { return static_cast<int>(volumes_.size()) - 1; }
  std::int64_t Position() { return buffered_->Position(); }
  // Bytes the current volume can still take (a very large number without a limit).
  std::int64_t RoomLeft();
  // Whether nothing has been written to the current volume yet.
  bool VolumeEmpty() { return Position() == 0; }
  // Closes the current volume and starts the next one.
  void NextVolume();
  // Moves back to position in the current volume; what was written after it is cut off when the volume
  // is closed.
  void Rewind(std::int64_t position);
  // Writes pending bytes, cuts off rewound bytes, fsyncs when asked and closes the current volume.
  // Raises ENotEnoughRoom when the device took fewer bytes than it was given.
  void Close();
  // Renames every volume to its final name (an existing file of that name is replaced and lends its
  // permission bits; new files get rw-r--r--). With flush_to_disk the folders of the volumes are flushed
  // too, so that the new names survive a power loss (a device error there raises EFileError). Returns the
  // final name of the last volume.
  std::string Commit();
  // Deletes every file written so far (never raises).
  void Discard() noexcept;

  // Final names of the volumes so far (as Commit will name them).
  std::vector<std::string> FinalNames() const;

 private:
  struct VolumeFile {
    std::string final_name;
    std::string temp_name;
  };
  void CreateVolume(const std::string& final_name, std::int64_t limit);
  static std::string NumberedName(const std::string& zip_name, int volume);

  Options options_;
  std::vector<VolumeFile> volumes_;
  std::unique_ptr<TFileStream> file_;
  std::unique_ptr<TStream> limited_;
  std::unique_ptr<TS_BufferStream> buffered_;
  std::int64_t limit_ = -1;
  std::int64_t high_water_ = 0;
  bool committed_ = false;
};

// Writes the ".zfc" side file of a multi-volume archive (its central directory and end record, for reading
// the set from its last volume alone) beside zip_name. Returns "" when written, otherwise the alert to show;
// the archive itself is complete either way.
std::string WriteZfcFile(const std::string& zip_name, const std::vector<std::uint8_t>& bytes);

}  // namespace kzb::zip
