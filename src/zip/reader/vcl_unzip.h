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
#include "zip/reader/open_archive.h"
#include "zip/records/end_central.h"
#include "zip/records/sorted_zip.h"
#include "zip/records/zip_header_info.h"
#include "zip/stream/buffer_stream.h"
#include "zip/stream/stream.h"

namespace kzb::zip {

class TVCLUnZip;

enum class TUZOverwriteMode { Prompt = 0, Always = 1, Never = 2, ifNewer = 3, ifOlder = 4 };
enum class TIncompleteZipMode { izAssumeMulti = 0, izAssumeBad = 1, izAssumeNotAZip = 2 };

// Why an entry was skipped (OnSkippingFile).
enum class TSkipReason {
  srBadPassword = 0,        // the password check failed and no new password was given (FName: stored path)
  srNoOverwrite = 1,        // the overwrite rule kept the existing file (FName: output path)
  srFileOpenError = 3,      // the output file could not be created (FName: output path)
  srUnsafePath = 4,         // the output path would leave the destination folder through a symbolic link
  srBadData = 5,            // the entry's data is damaged: it decodes longer or shorter than declared
  srTruncated = 6,          // the archive ends inside the entry's data
  srUnsupportedMethod = 7,  // the entry's compression method is one this engine does not read
  srPasswordNeeded = 8,     // the entry is encrypted and no password was given
};

// What a skip reason means, for a person: "wrong password", "truncated (the archive ends inside its data)",
// "compression method 9 (Deflate64) is not supported" (the method is looked up by file_index).
std::string SkipReasonText(const TVCLUnZip& reader, TSkipReason reason, int file_index);

// Event types. The reader passes itself as sender; parameters passed by reference carry the answer.
using TStartUnzipInfo = std::function<void(TVCLUnZip& sender, int num_files, std::int64_t total_bytes, bool& stop_now)>;
using TStartUnZipEvent = std::function<void(TVCLUnZip& sender, int file_index, std::string& fname, bool& skip)>;
using TPromptForOverwrite =
    std::function<void(TVCLUnZip& sender, bool& overwrite_it, int file_index, std::string& fname)>;
using TSkippingFile =
    std::function<void(TVCLUnZip& sender, TSkipReason reason, const std::string& fname, int file_index, bool& retry)>;
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
using TChooseFolder = std::function<bool(TVCLUnZip& sender, const std::string& start_dir, std::string& chosen)>;
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
  // A different name (compared exactly, as file names are) forgets the directory; a name ending in "?" asks
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
  bool RepairMode() const { return archive_.RepairMode(); }
  TVolumeKind VolumeKind() const { return archive_.VolumeKind(); }
  // Text of the last alert shown.
  const std::string& AlertText() const { return alert_text_; }
  // The end record of the loaded directory.
  const TEndCentral& EndCentral() const { return archive_.EndRecord(); }
  // What reading the directory found wrong with the archive (see TArchiveReport).
  const TArchiveReport& Report() const { return archive_.Report(); }
  // Whether the loaded archive is damaged: its directory was rebuilt or disagrees with itself, or entries
  // were found truncated or lost.
  bool ArchiveDamaged() const { return archive_.Report().Damaged(Count()); }

  // Test seam: makes the extraction write each output file through the stream this returns for the
  // file's temporary path (a device that fails after some bytes). Null: the engine's buffered file stream.
  using TOutputDeviceFactory = std::function<std::unique_ptr<TStream>(const std::string& path)>;
  void SetOutputDeviceFactory(TOutputDeviceFactory factory) { output_device_factory_ = std::move(factory); }
  const TOutputDeviceFactory& OutputDeviceFactory() const { return output_device_factory_; }

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
  // Lets the user interface run when DoProcessMessages is set.
  void ProcessMessages();

 protected:
  // The state of the open archive, for the writer's update path.
  TOpenArchive& Archive() { return archive_; }
  // Takes a new archive name without forgetting the archive (the writer's last volume).
  void AdoptZipName(const std::string& name) { zip_name_ = name; }

  // Opens the archive stream when needed and reads the directory when it is not loaded or the archive's
  // date changed.
  void OpenZip();
  // Frees the archive stream unless KeepZipOpen (or a run holds it).
  void CloseZip();
  void ShowAlert(const std::string& text, const std::string& title);

 private:
  struct DirectoryRead;

  bool ReadZipOnce();
  // Opens the archive stream on ZipName (the joined parts for a byte-split set).
  void OpenArchiveStream();
  // Switches the archive stream to volume n (1-based), asking OnGetNextDisk for its name.
  void SwitchToVolume(int n);
  // Runs an extraction (UnZip, Test) with the busy flag set.
  int RunExtraction(bool test_only);

  // Reading the directory, step by step (vcl_unzip.cpp reads top-down in this order).
  void ReadZipDirectory();
  bool LocateEndRecord(DirectoryRead& read);
  bool CheckEndRecordBounds(DirectoryRead& read);
  void PositionAtCentralDirectory(DirectoryRead& read);
  void HandleMissingEndRecord(DirectoryRead& read);
  void LoadDirectoryIntoMemory(DirectoryRead& read);
  void ReadCentralHeaders(DirectoryRead& read);
  bool MoreCentralHeaders(DirectoryRead& read, std::int64_t read_so_far);
  bool ReadCentralHeader(DirectoryRead& read, TZipHeaderInfo& entry, TZipHeaderInfo* previous);
  void MergeCentralHeader(DirectoryRead& read, std::unique_ptr<TZipHeaderInfo> entry);
  TZipHeaderInfo* AddCentralHeader(DirectoryRead& read, std::unique_ptr<TZipHeaderInfo> entry);
  void StartRepair(DirectoryRead& read, const std::string& problem);
  void CheckEntryBounds();
  void RefuseOverlappingEntries();
  void ReadMultiVolumeComment(DirectoryRead& read);
  // The local-header scan: rebuilds the directory from the local headers; false when nothing was found.
  bool ScanLocalHeaders();
  std::int64_t FindFirstLocalHeader(std::int64_t position);
  bool LocateDataDescriptor(TZipHeaderInfo& entry, std::int64_t data_start, std::int64_t& data_end);

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
  TOutputDeviceFactory output_device_factory_;

  // The open archive, and the component's own state.
  TOpenArchive archive_;
  bool busy_ = false;
  std::string alert_text_;
};

}  // namespace kzb::zip
