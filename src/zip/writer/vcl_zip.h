// TVCLZip, the engine's archive writer: creates and updates ZIP archives from a list of files and patterns.
//
// It derives from the reader TVCLUnZip and shares its archive name, directory, end record, comments and
// events. One operation, Zip, resolves FilesList (plain paths, folder entries "dir/", patterns with an
// optional "|" or ">" recursion prefix), copies, replaces or keeps the entries of an existing archive,
// stores or deflates each new file, encrypts it when Password is set (traditional or AES), writes the
// central directory and the end record (Zip64 records only when sizes, offsets or the entry count need
// them) and reports progress and results through events.
//
// Safety: the archive is always written to a temporary file in the archive's own folder and renamed over
// ZipName only once it is complete, so a failed or cancelled run (any error, a full disk) leaves no partial
// archive and an existing archive untouched. Block volumes are written the same way, each beside its final
// name.
//
// Settings are plain accessors with the defaults of the component. Events are std::function members whose
// first parameter is the writer; by-reference parameters carry the handler's answer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zip/reader/vcl_unzip.h"
#include "zip/records/end_central.h"
#include "zip/records/zip_header_info.h"

namespace kzb::zip {

class TVCLZip;
class ZipRun;

enum class TZipAction { zaUpdate = 0, zaReplace = 1, zaFreshen = 2 };
// How entries are encrypted when Password is set: the traditional PKWARE cipher, or WinZip AES with a key
// of 128, 192 or 256 bits.
enum class TZipEncryption { zeZipCrypto = 0, zeAes128 = 1, zeAes192 = 2, zeAes256 = 3 };
enum class TMultiMode { mmNone = 0, mmSpan = 1, mmBlocks = 2 };

// Multi-volume settings. Spanning removable disks cannot be detected on this platform, so mmSpan writes
// numbered volumes like mmBlocks, each as large as the free space of its folder allows (OnGetNextDisk may
// name each next volume).
struct TMultiZipInfo {
  TMultiMode multi_mode = TMultiMode::mmNone;
  std::int64_t block_size = 1457600;         // size of every volume after the first (mmBlocks)
  std::int64_t first_block_size = 1457600;   // size of the first volume (mmBlocks)
  std::int64_t save_on_first_disk = 0;       // bytes kept free on the first volume (mmSpan)
  bool save_zip_info_on_first_disk = false;  // also write the directory to a ".zfc" side file
  bool check_disk_labels = true;
  bool write_disk_labels = true;
};

// Why the writer skips a file (OnSkippingFile): an entry of the same stored name is already in the new
// archive; the file cannot be opened or read (or changed while it was read and could not be stored
// consistently); a folder of a pattern's walk cannot be listed (FName: the folder with its trailing
// separator) or an entry of it cannot be looked at, so whatever it holds is left out.
inline constexpr TSkipReason kSkipDuplicateName = static_cast<TSkipReason>(1);
inline constexpr TSkipReason kSkipCannotOpen = static_cast<TSkipReason>(2);
inline constexpr TSkipReason kSkipCannotList = static_cast<TSkipReason>(3);

enum class TUpdateAction {
  uaReplacing = 0,  // an existing entry is being replaced by its newer file
  uaKeeping = 1,    // an existing entry matched a file and is kept
};

using TStartZipInfo = std::function<void(TVCLZip& sender, int num_files, std::int64_t total_bytes,
                                         TEndCentral& end_central_record, bool& stop_now)>;
using TStartZipEvent =
    std::function<void(TVCLZip& sender, const std::string& fname, TZipHeaderInfo& zip_header, bool& skip)>;
using TEndZipFileEvent = std::function<void(TVCLZip& sender, const std::string& fname, std::int64_t uncompressed_size,
                                            std::int64_t compressed_size, std::int64_t current_zip_size)>;
using TDisposeEvent = std::function<void(TVCLZip& sender, const std::string& fname, bool& skip)>;
using TDeleteEvent = std::function<void(TVCLZip& sender, const std::string& fname, bool& skip)>;
using TNoSuchFileEvent = std::function<void(TVCLZip& sender, const std::string& fname)>;
using TZipComplete = std::function<void(TVCLZip& sender, int file_count)>;
using TUpdateEvent = std::function<void(TVCLZip& sender, TUpdateAction ud_action, int file_index)>;
using TPrepareNextDisk = std::function<void(TVCLZip& sender, int disk_num)>;
using TOnRecursingFile = std::function<void(TVCLZip& sender, const std::string& fname)>;

class TVCLZip : public TVCLUnZip {
 public:
  // Smallest volume the writer makes: every header fits, and a set never turns into thousands of files.
  static constexpr std::int64_t kMinVolumeSize = 65536;

  TVCLZip();
  ~TVCLZip() override;

  // --- Settings ------------------------------------------------------------------------------------------
  // 0 stores every file; 1 to 9 deflate at that level. Values outside 0..9 are clamped.
  int PackLevel() const { return pack_level_; }
  void SetPackLevel(int level);
  // Pattern entries without a prefix search subfolders.
  bool Recurse() const { return recurse_; }
  void SetRecurse(bool on) { recurse_ = on; }
  // Delete the source files after a successful run (OnDisposeFile may keep each one).
  bool Dispose() const { return dispose_; }
  void SetDispose(bool on) { dispose_ = on; }
  // Store folder paths. Off also turns StoreVolumes and RelativePaths off.
  bool StorePaths() const { return store_paths_; }
  void SetStorePaths(bool on);
  // Store paths relative to RootDir. On also turns StorePaths and Recurse on.
  bool RelativePaths() const { return relative_paths_; }
  void SetRelativePaths(bool on);
  // Keep a drive or share prefix in stored paths (there is none on POSIX paths). On also turns StorePaths on.
  bool StoreVolumes() const { return store_volumes_; }
  void SetStoreVolumes(bool on);
  // The cipher of new entries when Password is set (kept entries of an updated archive keep theirs).
  TZipEncryption Encryption() const { return encryption_; }
  void SetEncryption(TZipEncryption encryption) { encryption_ = encryption; }
  TZipAction ZipAction() const { return zip_action_; }
  void SetZipAction(TZipAction action) { zip_action_ = action; }
  // Assigning copies the fields; multi_mode and check_disk_labels are shared with the reader.
  const TMultiZipInfo& MultiZipInfo() const { return multi_zip_info_; }
  void SetMultiZipInfo(const TMultiZipInfo& info);
  TMultiMode MultiMode() const { return multi_zip_info_.multi_mode; }
  void SetMultiMode(TMultiMode mode) { multi_zip_info_.multi_mode = mode; }
  bool CheckDiskLabels() const { return check_disk_labels_; }
  void SetCheckDiskLabels(bool on);
  // Short (8.3) names do not exist on POSIX file systems: the setting is kept and has no effect.
  bool Store83Names() const { return store83_names_; }
  void SetStore83Names(bool on) { store83_names_ = on; }
  // Folder for the temporary files of large entries of a multi-volume run ("" = the system's).
  const std::string& TempPath() const { return temp_path_; }
  void SetTempPath(const std::string& path) { temp_path_ = path; }
  // Archive attribute options; POSIX has no archive bit (every file counts as changed, clearing is a no-op).
  bool SkipIfArchiveBitNotSet() const { return skip_if_archive_bit_not_set_; }
  void SetSkipIfArchiveBitNotSet(bool on) { skip_if_archive_bit_not_set_ = on; }
  bool ResetArchiveBitOnZip() const { return reset_archive_bit_on_zip_; }
  void SetResetArchiveBitOnZip(bool on) { reset_archive_bit_on_zip_ = on; }
  // Patterns of files to leave out; a pattern with a separator is tried on the whole path, others on the
  // name. Assigning copies the strings.
  const std::vector<std::string>& ExcludeList() const { return exclude_list_; }
  std::vector<std::string>& ExcludeList() { return exclude_list_; }
  void SetExcludeList(const std::vector<std::string>& patterns) { exclude_list_ = patterns; }
  // Patterns of file names to store without compression (tried on the name only).
  const std::vector<std::string>& NoCompressList() const { return no_compress_list_; }
  std::vector<std::string>& NoCompressList() { return no_compress_list_; }
  void SetNoCompressList(const std::vector<std::string>& patterns) { no_compress_list_ = patterns; }
  // Add an entry for every folder entered while recursing.
  bool AddDirEntriesOnRecurse() const { return add_dir_entries_on_recurse_; }
  void SetAddDirEntriesOnRecurse(bool on) { add_dir_entries_on_recurse_ = on; }

  // A different name first stores a comment that was changed on the current archive and not written yet
  // (FilesList is cleared and the current archive rewritten, without OnZipComplete), then behaves as the
  // reader's (directory, end record and comment are forgotten; Password is kept).
  void SetZipName(const std::string& name) override;

  // --- Operations ----------------------------------------------------------------------------------------
  // Runs one writer run and returns the number of entries added (new files, folder entries, replacements;
  // kept entries do not count), then fires OnZipComplete with it. A blank ZipName adds nothing and returns
  // 0. Errors propagate (OnZipComplete is not fired); FilesList is empty afterwards in every case.
  int Zip();
  // The exclude and no-compress tests of this writer's lists.
  bool IsExcluded(const std::string& path) const;
  bool IsNoCompress(const std::string& path) const;
  // Copies the reader's settings and handlers and every writer setting and handler.
  void Assign(const TVCLZip& source);

  // Test seam: simulates an output device that holds only this many bytes per volume (-1: no limit), so
  // disk-full paths can be exercised without filling a disk.
  void SetOutputDeviceLimit(std::int64_t bytes) { output_device_limit_ = bytes; }
  // Test seam: the free space a spanned archive sees in a folder (-1: unknown); empty asks the file system.
  void SetFreeSpaceProbe(std::function<std::int64_t(const std::string& folder)> probe) {
    free_space_probe_ = std::move(probe);
  }

  // --- Events --------------------------------------------------------------------------------------------
  TStartZipInfo OnStartZipInfo;
  TStartZipEvent OnStartZip;
  TEndZipFileEvent OnEndZip;
  TDisposeEvent OnDisposeFile;
  TDeleteEvent OnDeleteEntry;  // never fired by Zip
  TNoSuchFileEvent OnNoSuchFile;
  TZipComplete OnZipComplete;
  TUpdateEvent OnUpdate;
  TPrepareNextDisk OnPrepareNextDisk;
  TOnRecursingFile OnRecursingFile;

 private:
  friend class ZipRun;

  // One writer run without OnZipComplete.
  int RunWriter();

  int pack_level_ = 6;
  bool recurse_ = false;
  bool dispose_ = false;
  bool store_paths_ = false;
  bool relative_paths_ = false;
  bool store_volumes_ = false;
  TZipAction zip_action_ = TZipAction::zaUpdate;
  TZipEncryption encryption_ = TZipEncryption::zeZipCrypto;
  TMultiZipInfo multi_zip_info_;
  bool store83_names_ = false;
  std::string temp_path_;
  bool skip_if_archive_bit_not_set_ = false;
  bool reset_archive_bit_on_zip_ = false;
  std::vector<std::string> exclude_list_;
  std::vector<std::string> no_compress_list_;
  bool add_dir_entries_on_recurse_ = false;
  bool check_disk_labels_ = true;
  std::int64_t output_device_limit_ = -1;
  std::function<std::int64_t(const std::string& folder)> free_space_probe_;
  // A comment set before a run that created a new archive goes on into later new archives under the same
  // ZipName (it was written, so a change of name has nothing left to store).
  bool carry_comment_ = false;
};

}  // namespace kzb::zip
