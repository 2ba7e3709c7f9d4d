#include "app/runs/backup_run.h"

#include <exception>

#include "app/backup/retention.h"
#include "app/common/text_utils.h"
#include "app/project/archive_naming.h"
#include "app/runs/run_lock.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/path.h"
#include "zip/writer/vcl_zip.h"

namespace kzb::app {

namespace {

// How long the outcome messages of a run stay open when nobody closes them.
constexpr int kOutcomeMessageSeconds = 4;

// The moment to the whole second: thresholds are stored and shown to the second, and an earlier value
// only takes a file twice, never leaves one out.
platform::DateTime WholeSecond(platform::DateTime moment) {
  platform::DateTimeParts parts = moment.Parts();
  parts.millisecond = 0;
  return platform::DateTime::FromParts(parts);
}

bool SamePath(const std::string& a, const std::string& b) {
  return platform::ExpandFileName(a) == platform::ExpandFileName(b);
}

}  // namespace

BackupRun::BackupRun(Application& app)
    : app_(&app), writer_(std::make_unique<zip::TVCLZip>()), lock_wait_ms_(kRunLockWaitMs) {}

BackupRun::~BackupRun() = default;

void BackupRun::SetProgress(int percent) {
  if (percent == progress_) return;
  progress_ = percent;
  if (OnProgress) OnProgress(percent);
}

bool BackupRun::NewerThanFilter(const std::string& file_name, platform::DateTime threshold) {
  if (!platform::FileExists(file_name)) return false;
  platform::DateTime written;
  try {
    written = platform::GetFileTime(file_name);
  } catch (const std::exception&) {
    return false;
  }
  return written < threshold;
}

BackupResult BackupRun::RunBackup() {
  BackupResult result;
  Application& app = *app_;
  if (app.Projects().Empty() || !app.Projects().HasSelection()) return result;
  result.project = app.Projects().SelectedName();

  if (app.Settings().prompt_before_backup) {
    confirming_ = true;
    bool yes = false;
    try {
      yes = app.Ui().AskYesNo("Do you want to backup the project '" + Trim(result.project) + "'?",
                              MessageKind::kInformation);
    } catch (...) {
      confirming_ = false;
      throw;
    }
    confirming_ = false;
    if (!yes) {
      result.outcome = BackupOutcome::kDeclined;
      return result;
    }
  }

  if (!app.ValidateProject()) {
    result.outcome = BackupOutcome::kInvalid;
    return result;
  }

  RunLock lock(app.DataDir(), lock_wait_ms_);
  if (!lock.Held()) {
    result.outcome = BackupOutcome::kLocked;
    result.message = RunLockBusyMessage(app.DataDir());
    app.Ui().ShowError(result.message);
    return result;
  }

  ProjectPanel& panel = app.Panel();
  const MainPage page = app.ActivePage();
  if (panel.Fields().suffix_kind == SuffixKind::kDate) panel.RebuildArchiveName();
  const std::string archive = Trim(panel.Fields().archive_name);
  result.archive = archive;

  // The archive that is being replaced waits beside the new one until the run has succeeded.
  std::string set_aside;
  const bool existed = platform::FileExists(archive);
  if (existed) {
    if (!app.Settings().overwrite_existing) {
      result.outcome = BackupOutcome::kInterrupted;
      result.message = archive + " exists,backup will be interrupted!";
      app.Ui().ShowTimedMessage(result.message, MessageKind::kWarning, kOutcomeMessageSeconds);
      app.Log().AddLogEntry(kLogBackup, kLogInterrupt, result.project,
                            "'" + archive + "'" + " exists,backup interripted");
      return result;
    }
    try {
      std::string aside = platform::CreateTempFile(platform::ExtractFilePath(archive),
                                                   "." + platform::ExtractFileName(archive) + ".old-");
      if (platform::ReplaceFile(archive, aside)) {
        set_aside = aside;
      } else {
        platform::DeleteFile(aside);
        platform::DeleteFile(archive);
      }
    } catch (const std::exception&) {
      platform::DeleteFile(archive);  // a failed delete is not reported; the writer then updates it
    }
  }

  const ProjectFields& fields = panel.Fields();
  zip::TVCLZip& writer = *writer_;
  const platform::DateTime threshold = fields.Threshold();
  const bool newer_than = fields.newer_than;
  bool logged_success = false;
  platform::DateTime started;

  try {
    // A fresh archive state: no comment or directory of the previous run is carried into this one.
    writer.ClearZip();
    writer.SetZipName(archive);
    writer.SetRecurse(fields.recurse);
    writer.SetStorePaths(fields.store_paths);
    writer.SetZipComment(fields.use_comment && !IsBlank(fields.comment) ? Trim(fields.comment) : "");
    writer.SetFilesList(fields.include_entries);
    writer.SetExcludeList(fields.exclude_entries);
    writer.SetPassword(fields.use_password && !IsBlank(fields.password) ? Trim(fields.password) : "");
    writer.SetEncryption(fields.encryption == EncryptionKind::kAes256 ? zip::TZipEncryption::zeAes256
                                                                      : zip::TZipEncryption::zeZipCrypto);
    writer.SetPackLevel(fields.pack_level);
    writer.SetThreads(app.Settings().threads);
    writer.SetAddDirEntriesOnRecurse(false);

    writer.OnStartZip = [&](zip::TVCLZip& /*sender*/, const std::string& file_name, zip::TZipHeaderInfo& /*header*/,
                            bool& skip) {
      if (!set_aside.empty() && SamePath(file_name, set_aside)) {
        skip = true;
        return;
      }
      if (newer_than && NewerThanFilter(file_name, threshold)) skip = true;
      if (!skip && OnFile) OnFile(file_name);
    };
    writer.OnTotalPercentDone = [this](zip::TVCLUnZip& /*sender*/, int percent) { SetProgress(percent); };
    writer.OnZipComplete = [&](zip::TVCLZip& /*sender*/, int file_count) {
      result.file_count = file_count;
      OnBackupComplete(result);
      logged_success = true;
    };

    app.SetRunControls(false);
    running_ = true;
    const std::string folder = platform::ExtractFilePath(archive);
    if (!folder.empty() && !platform::DirectoryExists(folder)) {
      throw platform::EFCreateError("Cannot create the archive \"" + archive + "\": the folder \"" + folder +
                                    "\" does not exist");
    }
    started = WholeSecond(app.GetClock().Now());
    writer.Zip();

    if (fields.suffix_kind == SuffixKind::kNumber) {
      const int used = fields.next_number;
      platform::IniFile ini = app.ProjectFile();
      ini.WriteInteger(Trim(result.project), "Value", used);
      panel.SetNextNumber(AdvanceNumber(used, fields.number_step));
    }
    if (fields.newer_than && fields.threshold_follows_last_backup) {
      // The next run takes every file written since this one started, so a file changed while this run
      // was reading the tree is not left out.
      platform::IniFile ini = app.ProjectFile();
      ini.WriteString(Trim(result.project), "NewDateTime", started.FormatDate() + " " + started.FormatTime());
      panel.MutableFields().threshold_date = started.DatePart();
      panel.MutableFields().threshold_time = started.TimePart();
    }
    panel.RebuildArchiveName();
    app.SetActivePage(page);
    if (OnPageChange) OnPageChange(page);
    result.outcome = BackupOutcome::kSucceeded;
  } catch (const std::exception& error) {
    result.outcome = BackupOutcome::kFailed;
    result.message = error.what();
    // The engine's fixed messages ("Not enough room to write archive") do not say which archive.
    if (result.message.find(platform::ExtractFilePath(archive)) == std::string::npos) {
      result.message += "\rArchive: '" + archive + "'";
    }
  } catch (...) {
    result.outcome = BackupOutcome::kFailed;
    result.message = "Backup failed: unknown error";
  }

  writer.OnStartZip = nullptr;
  writer.OnTotalPercentDone = nullptr;
  writer.OnZipComplete = nullptr;

  if (result.outcome == BackupOutcome::kFailed && !logged_success) {
    // Nothing of a failed run stays: the previous archive comes back, or a partial one goes.
    if (!set_aside.empty()) {
      platform::ReplaceFile(set_aside, archive);
    } else if (!existed && platform::FileExists(archive)) {
      platform::DeleteFile(archive);
    }
  } else if (!set_aside.empty()) {
    platform::DeleteFile(set_aside);
  }

  running_ = false;
  app.SetRunControls(true);
  SetProgress(0);
  if (result.outcome == BackupOutcome::kFailed) app.Ui().ShowError(result.message);
  return result;
}

void BackupRun::OnBackupComplete(BackupResult& result) {
  Application& app = *app_;
  const std::string zip_name = writer_->ZipName();
  const std::int64_t size = ArchiveSizeKb(zip_name);
  result.archive = zip_name;
  result.size_kb = size;
  result.message = "Backup Files Succeeds!\rProject Name: '" + result.project + "'" + "\r" + "File Name:    '" +
                   platform::ExtractFileName(zip_name) + "'" + "\r" + "File Size:    '" + std::to_string(size) + "Kb'";
  app.Ui().ShowTimedMessage(result.message, MessageKind::kInformation, kOutcomeMessageSeconds);
  app.Log().AddLogEntry(kLogBackup, kLogSucceeds, result.project, zip_name + "  " + std::to_string(size) + "Kb");

  const ProjectFields& fields = app.Panel().Fields();
  RetentionProject project;
  project.name = Trim(result.project);
  project.suffix_kind = fields.suffix_kind;
  project.keep_count = fields.keep_count;
  project.destination = DestinationFolder(fields.save_path);
  project.prefix = Trim(fields.prefix);
  platform::IniFile store = app.StoreNumberFile();
  ApplyRetention(store, project, zip_name);
}

}  // namespace kzb::app
