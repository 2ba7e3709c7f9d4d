// The restore run: every entry of the archive selected in the Restore page's listing is extracted into the
// destination folder with the page's overwrite policy, folder handling and password.
//
// The user confirms a summary question first. A wrong password shows "The password is incorrect" (a
// missing one "A password is needed to restore this archive") and ends the extraction at once (entries
// extracted before stay on disk). A damaged archive is restored as far as its local headers allow and
// the restore counts as failed: what the reader found wrong is listed with the entries it could not
// restore. The outcome is shown with a self-closing
// message and logged under the project selected in the window: "Succeeds" when every entry was extracted
// or deliberately kept by the overwrite rule, "Fails" after a wrong password, when an entry could not be
// restored (damaged or truncated data, a failed CRC check, an unsupported method, an output file that could
// not be created, a path that would leave the destination), when the archive is damaged, or when an error
// ended the extraction part-way. An error before anything was
// extracted (an archive that cannot be read) is shown and not logged.
//
// A restore holds the run lock of the data folder, like a backup.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/session/application.h"
#include "zip/reader/vcl_unzip.h"

namespace kzb::app {

class ArchiveBrowser;

enum class RestoreOutcome {
  kNoArchive,  // no archive selected: "No Zip file to restore!"
  kDeclined,   // the summary question was answered No
  kLocked,     // another process runs a backup or restore on the data folder (the message has been shown)
  kError,      // an error before the extraction began (shown; nothing logged)
  kSucceeded,  // "Succeeds" logged
  kFailed,     // "Fails" logged
};

struct RestoreResult {
  RestoreOutcome outcome = RestoreOutcome::kNoArchive;
  std::string archive;                // the archive path
  std::string message;                // the outcome message shown (or the error's text)
  int extracted = 0;                  // entries extracted
  std::vector<std::string> problems;  // entries that could not be restored, with the reason
};

class RestoreRun {
 public:
  // The reader is the one the archive browser uses. app, reader and browser (when given) must outlive the
  // run object.
  RestoreRun(Application& app, zip::TVCLUnZip& reader, ArchiveBrowser* browser = nullptr);

  // The Options group.
  const std::string& DestDir() const { return dest_dir_; }  // `DirectoryRestore`
  void SetDestDir(const std::string& dir) { dest_dir_ = dir; }
  const std::string& Password() const { return password_; }  // `EditRestorePassword`
  void SetPassword(const std::string& password) { password_ = password; }
  zip::TUZOverwriteMode OverwriteMode() const { return overwrite_mode_; }
  void SetOverwriteMode(zip::TUZOverwriteMode mode) { overwrite_mode_ = mode; }
  bool UseFolderNames() const { return use_folder_names_; }  // `CheckBoxUseFolder`
  void SetUseFolderNames(bool on) { use_folder_names_ = on; }

  // `SpRestoreClick`: restores the archive of the browser's current row.
  RestoreResult SpRestoreClick();
  // The same run for an archive given by its path (the command line names it directly).
  RestoreResult RestoreArchive(const std::string& archive_path);

  // Progress of the running restore, 0 to 100; 0 when idle.
  int Progress() const { return progress_; }
  std::function<void(int percent)> OnProgress;
  bool Confirming() const { return confirming_; }
  bool Running() const { return running_; }
  void SetLockWait(int wait_ms) { lock_wait_ms_ = wait_ms; }

  // The caption of an overwrite mode's radio button ("Prompt Before  Overwrite", "Always", ...).
  static std::string OverwriteModeCaption(zip::TUZOverwriteMode mode);
  // The summary question.
  static std::string SummaryQuestion(const std::string& name, const std::string& dest_dir, bool use_folders,
                                     zip::TUZOverwriteMode mode);

 private:
  // How the reader's extraction ended.
  struct ExtractionEnd {
    bool completed = false;  // the reader reported the end of its extraction run
    bool aborted = false;    // ended by the wrong-password answer
    std::string error_text;  // the error that ended it, if any
  };

  bool Confirm(const std::string& archive_path);
  ExtractionEnd Extract(RestoreResult& result);
  void InstallHandlers(RestoreResult& result, ExtractionEnd& end);
  void RemoveHandlers();
  void ReportOutcome(RestoreResult& result, const ExtractionEnd& end);
  void SetProgress(int percent);
  void ReportSuccess(RestoreResult& result);
  void ReportFailure(RestoreResult& result);

  Application* app_;
  zip::TVCLUnZip* reader_;
  ArchiveBrowser* browser_;
  std::string dest_dir_;
  std::string password_;
  zip::TUZOverwriteMode overwrite_mode_ = zip::TUZOverwriteMode::Never;
  bool use_folder_names_ = true;
  bool restore_failed_ = false;  // `RestoreFailed`
  int progress_ = 0;
  bool confirming_ = false;
  bool running_ = false;
  int lock_wait_ms_;
};

}  // namespace kzb::app
