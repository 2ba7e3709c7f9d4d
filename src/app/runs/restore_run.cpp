#include "app/runs/restore_run.h"

#include <exception>
#include <fstream>

#include "app/backup/activity_log.h"
#include "app/common/text_utils.h"
#include "app/restore/archive_listing.h"
#include "app/runs/run_lock.h"
#include "platform/path.h"
#include "zip/records/name_codec.h"

namespace kzb::app {

namespace {

constexpr int kOutcomeMessageSeconds = 4;

// Ends the extraction after a wrong password without an error message of its own.
struct RestoreAborted {};

// How many damaged entries the failure message names before it only counts the rest.
constexpr std::size_t kProblemsNamed = 10;

bool StartsWithLocalHeader(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  char signature[4] = {};
  return file.read(signature, 4) && signature[0] == 'P' && signature[1] == 'K' && signature[2] == 3 &&
         signature[3] == 4;
}

}  // namespace

RestoreRun::RestoreRun(Application& app, zip::TVCLUnZip& reader, ArchiveBrowser* browser)
    : app_(&app), reader_(&reader), browser_(browser), dest_dir_(platform::HomeDir()), lock_wait_ms_(kRunLockWaitMs) {}

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

// The outline: name check, confirmation, the run lock, the extraction, the outcome.
RestoreResult RestoreRun::RestoreArchive(const std::string& archive_path) {
  RestoreResult result;
  result.archive = archive_path;
  if (Trim(platform::ExtractFileName(archive_path)).empty()) {
    result.outcome = RestoreOutcome::kNoArchive;
    result.message = "No Zip file to restore!";
    app_->Ui().ShowMessage(result.message, MessageKind::kInformation);
    return result;
  }
  if (!Confirm(archive_path)) {
    result.outcome = RestoreOutcome::kDeclined;
    return result;
  }
  RunLock lock(app_->DataDir(), lock_wait_ms_);
  if (!lock.Held()) {
    result.outcome = RestoreOutcome::kLocked;
    result.message = RunLockBusyMessage(app_->DataDir());
    app_->Ui().ShowError(result.message);
    return result;
  }
  const ExtractionEnd end = Extract(result);
  ReportOutcome(result, end);
  return result;
}

bool RestoreRun::Confirm(const std::string& archive_path) {
  confirming_ = true;
  bool yes = false;
  try {
    yes = app_->Ui().AskYesNo(
        SummaryQuestion(platform::ExtractFileName(archive_path), dest_dir_, use_folder_names_, overwrite_mode_),
        MessageKind::kWarning);
  } catch (...) {
    confirming_ = false;
    throw;
  }
  confirming_ = false;
  return yes;
}

// Runs the reader's extraction with this run's answers to its events; every entry that could not be
// restored, and whatever the reader found wrong with the archive, goes into result.problems.
RestoreRun::ExtractionEnd RestoreRun::Extract(RestoreResult& result) {
  zip::TVCLUnZip& reader = *reader_;
  ExtractionEnd end;
  restore_failed_ = false;
  InstallHandlers(result, end);
  app_->SetRunControls(false);
  running_ = true;
  try {
    reader.SetZipName(result.archive);
    reader.SetDestDir(dest_dir_);
    reader.SetRecreateDirs(use_folder_names_);
    reader.SetDoAll(true);
    reader.SetOverwriteMode(overwrite_mode_);
    // A restore made read-only files (their stored mode); restoring again follows the overwrite rule.
    reader.SetReplaceReadOnly(true);
    if (!IsBlank(password_)) reader.SetPassword(password_);
    reader.UnZip();
  } catch (const RestoreAborted&) {
    end.aborted = true;
  } catch (const std::exception& error) {
    end.error_text = error.what();
  } catch (...) {
    end.error_text = "Restore failed: unknown error";
  }
  running_ = false;
  app_->SetRunControls(true);
  SetProgress(0);
  if (end.completed) {
    for (const std::string& line : reader.Report().Lines(reader.Count())) result.problems.push_back(line);
  }
  RemoveHandlers();
  return end;
}

void RestoreRun::InstallHandlers(RestoreResult& result, ExtractionEnd& end) {
  zip::TVCLUnZip& reader = *reader_;
  Application& app = *app_;
  reader.SetThreads(app.Settings().threads);
  reader.OnTotalPercentDone = [this](zip::TVCLUnZip& /*sender*/, int percent) { SetProgress(percent); };
  reader.OnBadPassword = [this, &app](zip::TVCLUnZip& sender, int /*index*/, std::string& /*password*/) {
    app.Ui().ShowMessage(
        sender.Password().empty() ? "A password is needed to restore this archive" : "The password is incorrect",
        MessageKind::kError);
    restore_failed_ = true;
    throw RestoreAborted{};
  };
  reader.OnUnZipComplete = [&result, &end](zip::TVCLUnZip& /*sender*/, int file_count) {
    end.completed = true;
    result.extracted = file_count;
  };
  reader.OnBadCRC = [&result](zip::TVCLUnZip& sender, std::uint32_t /*calc*/, std::uint32_t /*stored*/, int index) {
    result.problems.push_back(zip::PrintableName(sender.EntryPath(index) + sender.EntryName(index)) + ": CRC error");
  };
  reader.OnSkippingFile = [&result](zip::TVCLUnZip& sender, zip::TSkipReason reason, const std::string& fname,
                                    int index, bool& /*retry*/) {
    if (reason == zip::TSkipReason::srNoOverwrite) return;  // kept by the overwrite rule, as asked
    result.problems.push_back(zip::PrintableName(fname) + ": " + zip::SkipReasonText(sender, reason, index));
  };
  // An archive cut short (it starts as every archive of ours does) is restored as far as its local
  // headers allow, and the report says what was lost; any other file without an end record stays
  // "Incomplete Zip File".
  reader.OnInCompleteZip = [](zip::TVCLUnZip& sender, zip::TIncompleteZipMode& mode) {
    if (StartsWithLocalHeader(sender.ZipName())) mode = zip::TIncompleteZipMode::izAssumeBad;
  };
  reader.OnAskYesNo = [&app](zip::TVCLUnZip& /*sender*/, const std::string& text, const std::string& /*title*/) {
    return app.Ui().AskYesNo(text, MessageKind::kConfirm);
  };
  reader.OnAlert = [&app](zip::TVCLUnZip& /*sender*/, const std::string& text, const std::string& /*title*/) {
    app.Ui().ShowMessage(text, MessageKind::kError);
  };
}

void RestoreRun::RemoveHandlers() {
  zip::TVCLUnZip& reader = *reader_;
  reader.OnTotalPercentDone = nullptr;
  reader.OnBadPassword = nullptr;
  reader.OnUnZipComplete = nullptr;
  reader.OnBadCRC = nullptr;
  reader.OnSkippingFile = nullptr;
  reader.OnInCompleteZip = nullptr;
  reader.OnAskYesNo = nullptr;
  reader.OnAlert = nullptr;
}

// The message and the log entry. An error before the extraction began is shown and not logged.
void RestoreRun::ReportOutcome(RestoreResult& result, const ExtractionEnd& end) {
  Application& app = *app_;
  if (!end.error_text.empty()) {
    app.Ui().ShowError(end.error_text);
    if (!end.completed) {
      // Nothing was extracted: the archive could not be read at all.
      result.outcome = RestoreOutcome::kError;
      result.message = end.error_text;
      return;
    }
    restore_failed_ = true;
  }
  if (end.aborted) restore_failed_ = true;
  if (!result.problems.empty()) {
    std::string text = "Some entries could not be restored from '" + result.archive + "':";
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
