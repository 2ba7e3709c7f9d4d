#include "app/runs/restore_run.h"

#include <exception>

#include "app/backup/activity_log.h"
#include "app/runs/run_lock.h"
#include "app/restore/archive_listing.h"
#include "app/common/text_utils.h"
#include "platform/path.h"

namespace kzb::app {

namespace {

constexpr int kOutcomeMessageSeconds = 4;

// Ends the extraction after a wrong password without an error message of its own.
struct RestoreAborted {};

// How many damaged entries the failure message names before it only counts the rest.
constexpr std::size_t kProblemsNamed = 10;

}  // namespace

RestoreRun::RestoreRun(Application& app, zip::TVCLUnZip& reader, ArchiveBrowser* browser)
    : app_(&app), reader_(&reader), browser_(browser), dest_dir_(platform::HomeDir()),
      lock_wait_ms_(kRunLockWaitMs) {}

std::string RestoreRun::OverwriteModeCaption(zip::TUZOverwriteMode mode) {
  switch (mode) {
    case zip::TUZOverwriteMode::Prompt:
      return "Prompt Before  Overwrite";
    case zip::TUZOverwriteMode::Always:
      return "Always";
    case zip::TUZOverwriteMode::Never:
      return "Never";
    case zip::TUZOverwriteMode::ifNewer:
      return "If Newer";
    case zip::TUZOverwriteMode::ifOlder:
      return "If Older";
  }
  return "";
}

std::string RestoreRun::SummaryQuestion(const std::string& name, const std::string& dest_dir, bool use_folders,
                                        zip::TUZOverwriteMode mode) {
  return "Do you want to restore the file '" + name + "'?" + "\r" + "Extract to:          " + "'" + Trim(dest_dir) +
         "'" + "\r" + "Use original folder: " + "'" + (use_folders ? "Yes" : "No") + "'" + "\r" +
         "Overwrite Mode:      " + "'" + OverwriteModeCaption(mode) + "'";
}

void RestoreRun::SetProgress(int percent) {
  if (percent == progress_) return;
  progress_ = percent;
  if (OnProgress) OnProgress(percent);
}

RestoreResult RestoreRun::SpRestoreClick() {
  std::string name = browser_ != nullptr ? browser_->CurrentName() : std::string();
  if (name.empty()) {
    RestoreResult result;
    result.outcome = RestoreOutcome::kNoArchive;
    result.message = "No Zip file to restore!";
    app_->Ui().ShowMessage(result.message, MessageKind::kInformation);
    return result;
  }
  return RestoreArchive(browser_->ArchivePath(name));
}

RestoreResult RestoreRun::RestoreArchive(const std::string& archive_path) {
  Application& app = *app_;
  RestoreResult result;
  result.archive = archive_path;
  const std::string name = platform::ExtractFileName(archive_path);
  if (Trim(name).empty()) {
    result.outcome = RestoreOutcome::kNoArchive;
    result.message = "No Zip file to restore!";
    app.Ui().ShowMessage(result.message, MessageKind::kInformation);
    return result;
  }

  confirming_ = true;
  bool yes = false;
  try {
    yes = app.Ui().AskYesNo(SummaryQuestion(name, dest_dir_, use_folder_names_, overwrite_mode_),
                            MessageKind::kWarning);
  } catch (...) {
    confirming_ = false;
    throw;
  }
  confirming_ = false;
  if (!yes) {
    result.outcome = RestoreOutcome::kDeclined;
    return result;
  }

  RunLock lock(app.DataDir(), lock_wait_ms_);
  if (!lock.Held()) {
    result.outcome = RestoreOutcome::kLocked;
    result.message = RunLockBusyMessage(app.DataDir());
    app.Ui().ShowError(result.message);
    return result;
  }

  zip::TVCLUnZip& reader = *reader_;
  bool completed = false;  // the reader reported the end of its extraction run
  bool aborted = false;
  std::string error_text;
  restore_failed_ = false;

  reader.OnTotalPercentDone = [this](zip::TVCLUnZip& /*sender*/, int percent) { SetProgress(percent); };
  reader.OnBadPassword = [this, &app](zip::TVCLUnZip& /*sender*/, int /*index*/, std::string& /*password*/) {
    app.Ui().ShowMessage("The password is incorrect", MessageKind::kError);
    restore_failed_ = true;
    throw RestoreAborted{};
  };
  reader.OnUnZipComplete = [&](zip::TVCLUnZip& /*sender*/, int file_count) {
    completed = true;
    result.extracted = file_count;
  };
  reader.OnBadCRC = [&](zip::TVCLUnZip& sender, std::uint32_t /*calc*/, std::uint32_t /*stored*/, int index) {
    result.problems.push_back(sender.EntryPath(index) + sender.EntryName(index) + ": CRC error");
  };
  reader.OnSkippingFile = [&](zip::TVCLUnZip& /*sender*/, zip::TSkipReason reason, const std::string& fname,
                              int /*index*/, bool& /*retry*/) {
    switch (reason) {
      case zip::TSkipReason::srNoOverwrite:
        break;  // kept by the overwrite rule, as asked
      case zip::TSkipReason::srBadPassword:
        result.problems.push_back(fname + ": wrong password");
        break;
      case zip::TSkipReason::srFileOpenError:
        result.problems.push_back(fname + ": cannot create the file");
        break;
      case zip::TSkipReason::srUnsafePath:
        result.problems.push_back(fname + ": the path leaves the destination folder");
        break;
      case zip::TSkipReason::srBadData:
        result.problems.push_back(fname + ": damaged data");
        break;
    }
  };
  reader.OnAskYesNo = [&app](zip::TVCLUnZip& /*sender*/, const std::string& text, const std::string& /*title*/) {
    return app.Ui().AskYesNo(text, MessageKind::kConfirm);
  };
  reader.OnAlert = [&app](zip::TVCLUnZip& /*sender*/, const std::string& text, const std::string& /*title*/) {
    app.Ui().ShowMessage(text, MessageKind::kError);
  };

  app.SetRunControls(false);
  running_ = true;
  try {
    reader.SetZipName(archive_path);
    reader.SetDestDir(dest_dir_);
    reader.SetRecreateDirs(use_folder_names_);
    reader.SetDoAll(true);
    reader.SetOverwriteMode(overwrite_mode_);
    if (!IsBlank(password_)) reader.SetPassword(password_);
    reader.UnZip();
  } catch (const RestoreAborted&) {
    aborted = true;
  } catch (const std::exception& error) {
    error_text = error.what();
  } catch (...) {
    error_text = "Restore failed: unknown error";
  }
  running_ = false;
  app.SetRunControls(true);
  SetProgress(0);

  reader.OnTotalPercentDone = nullptr;
  reader.OnBadPassword = nullptr;
  reader.OnUnZipComplete = nullptr;
  reader.OnBadCRC = nullptr;
  reader.OnSkippingFile = nullptr;
  reader.OnAskYesNo = nullptr;
  reader.OnAlert = nullptr;

  if (!error_text.empty()) {
    app.Ui().ShowError(error_text);
    if (!completed) {
      // Nothing was extracted: the archive could not be read at all.
      result.outcome = RestoreOutcome::kError;
      result.message = error_text;
      return result;
    }
    restore_failed_ = true;
  }
  if (aborted) restore_failed_ = true;
  if (!result.problems.empty()) {
    std::string text = "Some entries could not be restored from '" + archive_path + "':";
    for (std::size_t i = 0; i < result.problems.size() && i < kProblemsNamed; ++i) {
      text += "\r" + result.problems[i];
    }
    if (result.problems.size() > kProblemsNamed) {
      text += "\r... and " + std::to_string(result.problems.size() - kProblemsNamed) + " more";
    }
    app.Ui().ShowMessage(text, MessageKind::kError);
    restore_failed_ = true;
  }

  try {
    if (restore_failed_) {
      ReportFailure(result);
    } else {
      ReportSuccess(result);
    }
  } catch (const std::exception& error) {
    // The archive vanished before its size could be read for the log.
    result.message = error.what();
    app.Ui().ShowError(result.message);
  }
  restore_failed_ = false;
  return result;
}

void RestoreRun::ReportFailure(RestoreResult& result) {
  Application& app = *app_;
  result.outcome = RestoreOutcome::kFailed;
  result.message = "Restore files fails!";
  app.Ui().ShowTimedMessage(result.message, MessageKind::kError, kOutcomeMessageSeconds);
  app.Log().AddLogEntry(kLogRestore, kLogFails, app.Projects().SelectedName(),
                        result.archive + "  " + std::to_string(ArchiveSizeKb(result.archive)) + "Kb");
}

void RestoreRun::ReportSuccess(RestoreResult& result) {
  Application& app = *app_;
  result.outcome = RestoreOutcome::kSucceeded;
  result.message = "Restore Files Succeeds!\rProject Name: '" + app.Projects().SelectedName() + "'" + "\r" +
                   "Filename:     '" + platform::ExtractFileName(result.archive) + "'";
  app.Ui().ShowTimedMessage(result.message, MessageKind::kInformation, kOutcomeMessageSeconds);
  app.Log().AddLogEntry(kLogRestore, kLogSucceeds, app.Projects().SelectedName(),
                        result.archive + "  " + std::to_string(ArchiveSizeKb(result.archive)) + "Kb");
}

}  // namespace kzb::app
