// TVCLUnZip, the engine's archive reader: reads an archive's central directory into a list of entries,
// keeps it while the archive file is unchanged, answers questions about the entries by index, rebuilds the
// directory of a damaged archive from its local headers, follows archives spread over several volumes and
// extracts entries (UnZip, Test). The archive writer TVCLZip derives from it and shares its archive name,
// directory, end record, comments and events.
//
// Settings are plain accessors with the defaults of the component; outcomes and questions are std::function
// events whose first parameter is the reader and whose by-reference parameters carry the handler's answer.
// Operations that cannot go on raise the engine's error classes (zip/zip_errors.h); problems of single
// entries during an extraction are events, never errors.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/date_time.h"
#include "zip/crypt/zip_crypt.h"
#include "zip/records/end_central.h"
#include "zip/records/sorted_zip.h"
#include "zip/records/zip_header_info.h"
#include "zip/stream/buffer_stream.h"
#include "zip/stream/stream.h"

namespace kzb::zip {

class TVCLUnZip;
class ExtractRun;

enum class TUZOverwriteMode { Prompt = 0, Always = 1, Never = 2, ifNewer = 3, ifOlder = 4 };
enum class TIncompleteZipMode { izAssumeMulti = 0, izAssumeBad = 1, izAssumeNotAZip = 2 };

// Why an entry was skipped (OnSkippingFile).
enum class TSkipReason {
  srBadPassword = 0,    // the password check failed and no new password was given (FName: stored path)
  srNoOverwrite = 1,    // the overwrite rule kept the existing file (FName: output path)
  srFileOpenError = 3,  // the output file could not be created (FName: output path)
  srUnsafePath = 4,     // the output path would leave the destination folder through a symbolic link
  srBadData = 5,        // the entry's data is damaged: it ends early, or decodes longer or shorter than declared
};

// Kind of the archive's volumes.
enum class TVolumeKind { vkNone = 0, vkSpanned = 1, vkBlocks = 2 };

// Event types. The reader passes itself as sender; parameters passed by reference carry the answer.
using TStartUnzipInfo =
    std::function<void(TVCLUnZip& sender, int num_files, std::int64_t total_bytes, bool& stop_now)>;
using TStartUnZipEvent = std::function<void(TVCLUnZip& sender, int file_index, std::string& fname, bool& skip)>;
using TPromptForOverwrite =
    std::function<void(TVCLUnZip& sender, bool& overwrite_it, int file_index, std::string& fname)>;
using TSkippingFile = std::function<void(TVCLUnZip& sender, TSkipReason reason, const std::string& fname,
                                         int file_index, bool& retry)>;
using TBadPassword = std::function<void(TVCLUnZip& sender, int file_index, std::string& new_password)>;
using TBadCRC =
    std::function<void(TVCLUnZip& sender, std::uint32_t calc_crc, std::uint32_t stored_crc, int file_index)>;
using TEndUnZipEvent = std::function<void(TVCLUnZip& sender, int file_index, const std::string& fname)>;
using TFilePercentDone = std::function<void(TVCLUnZip& sender, int percent)>;
using TTotalPercentDone = std::function<void(TVCLUnZip& sender, int percent)>;
using TUnZipComplete = std::function<void(TVCLUnZip& sender, int file_count)>;
using TIncompleteZip = std::function<void(TVCLUnZip& sender, TIncompleteZipMode& incomplete_mode)>;
using TGetNextDisk = std::function<void(TVCLUnZip& sender, int next_disk, std::string& fname)>;
// Stand-ins for the platform's dialogs and message boxes.
//   OnChooseFile: an open-file dialog (title, filter, start folder); returns false on cancel.
//   OnChooseFolder: a folder dialog (start folder); returns false on cancel.
//   OnAskYesNo: a question with Yes/No (or OK/Cancel) buttons; returns true for Yes/OK.
//   OnAlert: a message with an OK button.
using TChooseFile = std::function<bool(TVCLUnZip& sender, const std::string& title, const std::string& filter,
                                       const std::string& start_dir, std::string& chosen)>;
using TChooseFolder =
    std::function<bool(TVCLUnZip& sender, const std::string& start_dir, std::string& chosen)>;
using TAskYesNo = std::function<bool(TVCLUnZip& sender, const std::string& text, const std::string& title)>;
using TAlert = std::function<void(TVCLUnZip& sender, const std::string& text, const std::string& title)>;
// Lets the user interface handle its pending messages (called when DoProcessMessages is set).
using TProcessMessages = std::function<void(TVCLUnZip& sender)>;

class TVCLUnZip {
 public:
  // The reader's version number, read-only.
  static constexpr int kThisVersion = 222;

  TVCLUnZip();
  virtual ~TVCLUnZip();
  TVCLUnZip(const TVCLUnZip&) = delete;
  TVCLUnZip& operator=(const TVCLUnZip&) = delete;

  // --- Stored settings -----------------------------------------------------------------------------------
  const std::string& ZipName() const { return zip_name_; }
  // A different name (compared without regard to case) forgets the directory; a name ending in "?" asks
  // OnChooseFile first (cancel, or no chooser: EUserCanceled "User canceled setting zip file name.").
  virtual void SetZipName(const std::string& name);
  const std::string& DestDir() const { return dest_dir_; }
  // "?" asks OnChooseFolder (cancel, or no chooser: EUserCanceled "User canceled Set Desination
  // Directory"); one trailing separator is removed.
  void SetDestDir(const std::string& dir);
  const std::string& RootDir() const { return root_dir_; }
  // Empty clears it; otherwise a trailing separator is added when missing.
  void SetRootDir(const std::string& dir);
  TZipSortMode SortMode() const { return sort_mode_; }
  // Applied the next time the directory is read (or at once when a directory is loaded).
  void SetSortMode(TZipSortMode mode);
  bool RecreateDirs() const { return recreate_dirs_; }
  void SetRecreateDirs(bool on) { recreate_dirs_ = on; }
  TUZOverwriteMode OverwriteMode() const { return overwrite_mode_; }
  void SetOverwriteMode(TUZOverwriteMode mode) { overwrite_mode_ = mode; }
  // Patterns choosing the entries to extract when DoAll is off; emptied after every extraction. The
  // writer uses the same list for the files to add.
  std::vector<std::string>& FilesList() { return files_list_; }
  const std::vector<std::string>& FilesList() const { return files_list_; }
  void SetFilesList(const std::vector<std::string>& lines) { files_list_ = lines; }
  bool DoAll() const { return do_all_; }
  void SetDoAll(bool on) { do_all_ = on; }
  TIncompleteZipMode IncompleteZipMode() const { return incomplete_zip_mode_; }
  void SetIncompleteZipMode(TIncompleteZipMode mode) { incomplete_zip_mode_ = mode; }
  bool KeepZipOpen() const { return keep_zip_open_; }
  void SetKeepZipOpen(bool on) { keep_zip_open_ = on; }
  bool DoProcessMessages() const { return do_process_messages_; }
  void SetDoProcessMessages(bool on) { do_process_messages_ = on; }
  bool RetainAttributes() const { return retain_attributes_; }
  void SetRetainAttributes(bool on) { retain_attributes_ = on; }
  int ThisVersion() const { return kThisVersion; }
  void SetThisVersion(int /*ignored*/) {}
  bool ReplaceReadOnly() const { return replace_read_only_; }
  void SetReplaceReadOnly(bool on) { replace_read_only_ = on; }
  bool FlushFilesOnClose() const { return flush_files_on_close_; }
  void SetFlushFilesOnClose(bool on) { flush_files_on_close_ = on; }

  // --- Members that are not stored ------------------------------------------------------------------------
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& password) { password_ = password; }

  // Entries of the loaded directory (0 when none is loaded).
  int Count() const;
  // Index members address the listing (order SortMode). An index outside 0..Count-1 raises EListError
  // "Index %d is out of range".
  const TZipHeaderInfo& EntryInfo(int index) const;
  std::string EntryName(int index) const;  // FileName
  std::string EntryPath(int index) const;  // Directory (ends in the separator unless empty)
  // FileDateTime as a date-time; the current local time when it does not convert.
  platform::DateTime EntryDateTime(int index) const;
  std::int64_t EntryCompressedSize(int index) const;
  std::int64_t EntryUncompressedSize(int index) const;
  // Read from the archive on first use, then held.
  std::string EntryComment(int index);
  void SetEntryComment(int index, const std::string& comment);
  std::string ZipComment();
  void SetZipComment(const std::string& comment);

  // --- Operations -----------------------------------------------------------------------------------------
  // Reads the directory (when it is not loaded or the archive file's date changed).
  void ReadZip();
  // Extracts the chosen entries; returns the number extracted (the same as OnUnZipComplete's count).
  int UnZip();
  // The same run with the output discarded: every chosen entry is decoded and its CRC checked, no file is
  // written and no overwrite rule applies. Returns the number of entries that passed.
  int Test();
  // Closes the archive (even with KeepZipOpen), forgets the directory and the end record, empties ZipName.
  void ClearZip();
  // Copies the settings and every event handler of another reader.
  void Assign(const TVCLUnZip& source);

  bool Busy() const { return busy_; }
  bool RepairMode() const { return repair_mode_; }
  TVolumeKind VolumeKind() const { return volume_kind_; }
  // Text of the last alert shown ("Unknown Compression Method", ...).
  const std::string& AlertText() const { return alert_text_; }
  // The end record of the loaded directory.
  const TEndCentral& EndCentral() const { return end_central_; }

  // --- Events ---------------------------------------------------------------------------------------------
  TStartUnzipInfo OnStartUnZipInfo;
  TStartUnZipEvent OnStartUnZip;
  TPromptForOverwrite OnPromptForOverwrite;
  TSkippingFile OnSkippingFile;
  TBadPassword OnBadPassword;
  TBadCRC OnBadCRC;
  TEndUnZipEvent OnEndUnZip;
  TFilePercentDone OnFilePercentDone;
  TTotalPercentDone OnTotalPercentDone;
  TUnZipComplete OnUnZipComplete;
  TIncompleteZip OnInCompleteZip;
  // Installed by the constructor with the reader's own next-volume provider; a handler set later replaces
  // it. NextDisk is 1-based.
  TGetNextDisk OnGetNextDisk;
  TChooseFile OnChooseFile;
  TChooseFolder OnChooseFolder;
  TAskYesNo OnAskYesNo;
  TAlert OnAlert;
  TProcessMessages OnProcessMessages;

  // The reader's own next-volume provider (what OnGetNextDisk starts as).
  void DefaultGetNextDisk(int next_disk, std::string& fname);

 protected:
  friend class ExtractRun;

  // Opens the archive stream when needed and reads the directory when it is not loaded or the archive's
  // date changed.
  void OpenZip();
  // Frees the archive stream unless KeepZipOpen.
  void CloseZip();
  // Closes the archive stream whatever KeepZipOpen says.
  void CloseArchiveStream();
  // Reads the central directory (or rebuilds it from the local headers).
  void ReadZipDirectory();
  // Rebuilds the directory from the local headers; false when nothing could be found.
  bool ScanLocalHeaders();
  // Builds the listing for SortMode from the directory.
  void BuildListing();
  // Frees the listing and the directory.
  void FreeDirectory();
  // Switches the archive stream to volume n (1-based).
  void SwitchToVolume(int n);
  // Lets the user interface run when DoProcessMessages is set.
  void ProcessMessages();
  void ShowAlert(const std::string& text, const std::string& title);
  // The listing entry at index, with the range check.
  TZipHeaderInfo& ListingEntry(int index) const;
  // Modification date of a file as a packed DOS date-time (0 when it cannot be read).
  static std::uint32_t FileDosDate(const std::string& path);
  // Remembers the date (and exact time and size) of a file as the archive's date.
  void RememberArchiveDate(const std::string& path);
  // True when the file's date, exact time or size differ from the remembered ones.
  bool ArchiveDateChanged(const std::string& path) const;
  // Opens the archive stream on ZipName (the joined parts for a byte-split set).
  void OpenArchiveStream();
  // Whether the archive spans several volumes.
  bool IsMultiVolume() const { return volume_kind_ != TVolumeKind::vkNone; }

  // Settings.
  std::string zip_name_;
  std::string dest_dir_;
  std::string root_dir_;
  TZipSortMode sort_mode_ = TZipSortMode::ByNone;
  bool recreate_dirs_ = false;
  TUZOverwriteMode overwrite_mode_ = TUZOverwriteMode::Prompt;
  std::vector<std::string> files_list_;
  bool do_all_ = false;
  TIncompleteZipMode incomplete_zip_mode_ = TIncompleteZipMode::izAssumeMulti;
  bool keep_zip_open_ = false;
  bool do_process_messages_ = true;
  bool retain_attributes_ = true;
  bool replace_read_only_ = false;
  bool flush_files_on_close_ = false;
  std::string password_;

  // Archive state shared with the writer.
  std::unique_ptr<TStream> archive_stream_;      // buffered stream on the current volume (or split set)
  std::unique_ptr<TSortedZip> directory_;        // owning, order ByNone; null until read
  std::unique_ptr<TSortedZip> sorted_listing_;   // non-owning view when SortMode is not ByNone
  TSortedZip* listing_ = nullptr;                // directory_ or sorted_listing_
  TEndCentral end_central_;
  std::uint32_t archive_date_ = 0;               // DOS date of the archive file when the directory was read
  // The archive file's exact modification time and size when the directory was read (0 / -1 unknown):
  // a rewrite within the two seconds of a DOS date still makes the directory be read again.
  std::int64_t archive_stamp_ = 0;
  std::int64_t archive_size_ = -1;
  int current_disk_ = 0;                         // 0-based volume the archive stream is on
  int volume_count_ = 1;                         // volumes of the set (ThisDisk + 1)
  TVolumeKind volume_kind_ = TVolumeKind::vkNone;
  bool check_disk_labels_ = true;
  bool repair_mode_ = false;
  bool busy_ = false;
  std::string alert_text_;
  // The traditional cipher's keys (one set per component, re-initialised for every entry).
  TZipCrypt crypt_;
  // Archive bytes in front of the first local header that the stored offsets do not count (self-extractor
  // stubs, prepended data): added to every local header offset of a single-volume archive.
  std::int64_t base_offset_ = 0;
  // Name of the volume holding the end record (a split set's last part), for the next-volume provider.
  std::string last_volume_name_;
  // A byte-split set (name.001, name.002, ... cut at arbitrary sizes, no disk numbers) read as one stream.
  bool byte_split_set_ = false;

 private:
  bool ReadZipOnce();
};

}  // namespace kzb::zip
