// The backup run, step by step. RunBackup is the outline; each step below it does one thing, in the order
// RunBackup calls them:
//
//   before the run lock   AskToStart, CheckProjectBeforeStart
//   under the run lock    PrepareArchive: RecoverInterruptedRuns, DecideArchive, ArchiveNameTaken,
//                         SetPreviousArchiveAside, RecordPendingRun
//   in the busy state     WriteArchive (ConfigureWriter), then NothingBackedUp or FinishRun: ReportSuccess,
//                         KeepLastArchives, SaveBookkeeping, RemovePreviousArchive
//
// The order is what keeps a failure or a kill from losing an archive (backup_recovery.h): the previous
// archive of the same name is set aside, not deleted, until the new one is complete; the pending-run
// record is written before the writer starts; the writer renames its temporary file into place only when
// the archive is complete and flushed to disk with its folder; only then is the success logged and are
// older archives deleted; the running number and the record go last, in one write. A failure before the
// archive is complete undoes all of it (UndoArchive); a failure after it never touches the archive.
#include "app/runs/backup_run.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <set>

#include "app/backup/backup_recovery.h"
#include "app/backup/retention.h"
#include "app/common/text_utils.h"
#include "app/project/archive_naming.h"
#include "app/project/project_store.h"
#include "app/runs/run_lock.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/path.h"
#include "zip/filelist/match_pattern.h"
#include "zip/filelist/resolve_file_list.h"
#include "zip/writer/vcl_zip.h"

namespace kzb::app {

namespace {

// How long the outcome messages of a run stay open when nobody closes them.
constexpr int kOutcomeMessageSeconds = 4;
// How many left-out files an outcome message and a log entry name; the rest are counted. More would
// crowd the message and the 2047 characters a log value keeps.
constexpr std::size_t kLeftOutNamed = 5;

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

// A log value holds one line: line breaks of a message become "; ".
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!line.empty() && line.back() != ' ') line += "; ";
    } else {
      line += c;
    }
  }
  return line;
}

// The first left-out paths, separated by separator, and how many more there are.
std::string LeftOutList(const std::vector<std::string>& left_out, const std::string& separator) {
  std::string text;
  for (std::size_t i = 0; i < left_out.size() && i < kLeftOutNamed; ++i) {
    text += (i == 0 ? "" : separator) + left_out[i];
  }
  if (left_out.size() > kLeftOutNamed) {
    text += separator + "... and " + std::to_string(left_out.size() - kLeftOutNamed) + " more";
  }
  return text;
}

// The lines a message adds for left-out files.
std::string LeftOutLines(const std::vector<std::string>& left_out) {
  return "\rNot backed up (" + std::to_string(left_out.size()) + "):\r  " + LeftOutList(left_out, "\r  ");
}

// The folder of an include entry that is a pattern ("|" or ">" prefix taken off), or "" for a plain one.
std::string PatternFolder(const std::string& entry) {
  if (!zip::HasWildcard(entry)) return "";
  std::string path = entry;
  if (!path.empty() && (path[0] == '|' || path[0] == '>')) path.erase(0, 1);
  return platform::ExtractFilePath(path);
}

RetentionProject RetentionFor(const std::string& section, const ProjectFields& fields) {
  RetentionProject project;
  project.name = section;
  project.suffix_kind = fields.suffix_kind;
  project.keep_count = fields.keep_count;
  project.destination = ResolvedDestination(fields.save_path);
  project.prefix = Trim(fields.prefix);
  return project;
}

}  // namespace

// What one run knows and has done so far.
struct BackupRun::RunState {
  explicit RunState(BackupResult& r) : result(r) {}

  BackupResult& result;
  std::string section;                // the trimmed project name: its section in the data files
  MainPage page = MainPage::kBackup;  // the page made active again at the end
  std::string archive;                // full path of the archive
  RetentionProject retention;
  PendingBackup pending;  // the pending-run record and the bookkeeping it promises
  bool recorded = false;  // the record is in project.ini: an archive under the name is this run's
  std::string set_aside;  // the previous archive of the same name while the new one is written
  platform::DateTime started;
  int newer_skipped = 0;        // candidates the newer-than threshold left out
  std::set<std::string> added;  // files added to the archive
  std::set<std::string> left_out_seen;
};

BackupRun::BackupRun(Application& app)
    : app_(&app), writer_(std::make_unique<zip::TVCLZip>()), lock_wait_ms_(kRunLockWaitMs) {}

BackupRun::~BackupRun() = default;

bool BackupRun::NewerThanFilter(const std::string& file_name, platform::DateTime threshold) {
  if (!platform::FileExists(file_name)) return false;
  platform::DateTime written;
  try {
    written = platform::GetFileTime(file_name);
  } catch (const platform::EFileError&) {
    return false;  // gone meanwhile: the writer says so when it cannot read it
  }
  return written < threshold;
}

// --- The outline -------------------------------------------------------------------------------------------

BackupResult BackupRun::RunBackup(BackupStart start) {
  BackupResult result;
  Application& app = *app_;
  if (app.Projects().Empty() || !app.Projects().HasSelection()) return result;
  result.project = app.Projects().SelectedName();
  if (!AskToStart(result) || !CheckProjectBeforeStart(result, start)) return result;

  RunLock lock(app.DataDir(), lock_wait_ms_);
  if (!lock.Held()) {
    RefuseLocked(lock, result);
    return result;
  }
  RunState run(result);
  run.section = Trim(result.project);
  run.page = app.ActivePage();
  if (PrepareArchive(run)) {
    app.SetRunControls(false);
    running_ = true;
    struct BusyGuard {
      BackupRun* owner;
      ~BusyGuard() { owner->EndBusyState(); }
    } busy{this};
    if (WriteArchive(run)) FinishRun(run);
  }
  if (result.outcome == BackupOutcome::kFailed) app.Ui().ShowError(result.message);
  if (!result.after_error.empty()) app.Ui().ShowError(result.after_error);
  return result;
}

// --- Before the run lock -----------------------------------------------------------------------------------

bool BackupRun::AskToStart(BackupResult& result) {
  Application& app = *app_;
  if (!app.Settings().prompt_before_backup) return true;
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
  if (!yes) result.outcome = BackupOutcome::kDeclined;
  return yes;
}

bool BackupRun::CheckProjectBeforeStart(BackupResult& result, BackupStart start) {
  Application& app = *app_;
  std::optional<std::string> problem = CheckProject(app.Panel().Fields());
  if (!problem) return true;
  result.outcome = BackupOutcome::kInvalid;
  result.message = *problem;
  app.Ui().ShowError(*problem);
  if (start == BackupStart::kScheduled) {
    // Nobody watches a scheduled start: the log is where its refusal is seen.
    RunState run(result);
    Log(run, kLogBackup, kLogFails, "The scheduled backup did not start: " + *problem);
    if (!result.after_error.empty()) app.Ui().ShowError(result.after_error);
  }
  return false;
}

void BackupRun::RefuseLocked(const RunLock& lock, BackupResult& result) {
  result.outcome = BackupOutcome::kLocked;
  result.message = lock.RefusalMessage(app_->DataDir());
  app_->Ui().ShowError(result.message);
}

// --- Under the run lock: the archive's name and place ------------------------------------------------------

bool BackupRun::PrepareArchive(RunState& run) {
  try {
    RecoverInterruptedRuns(run);
    DecideArchive(run);
    if (ArchiveNameTaken(run)) return false;
    SetPreviousArchiveAside(run);
    RecordPendingRun(run);
    return true;
  } catch (const platform::EFileError& error) {
    FailRun(run, error.what());
    return false;
  }
}

void BackupRun::RecoverInterruptedRuns(RunState& run) {
  Application& app = *app_;
  ProjectPanel& panel = app.Panel();
  const ProjectFields& fields = panel.Fields();
  platform::IniFile projects = app.ProjectFile();
  platform::IniFile store = app.StoreNumberFile();
  RecoveryContext context;
  context.projects = &projects;
  context.store = &store;
  context.log = &app.Log();
  context.retention = RetentionFor(run.section, fields);
  context.folders = {context.retention.destination,
                     platform::ExtractFilePath(platform::ExpandFileName(Trim(fields.archive_name)))};
  context.data_dir = app.DataDir();
  const RecoveryReport report = RecoverInterruptedBackup(context);
  if (!report.completed) return;
  // The interrupted run's number and threshold are saved now; the panel moves on with them.
  if (report.completed->value) panel.SetNextNumber(AdvanceNumber(*report.completed->value, fields.number_step));
  if (!report.completed->threshold.empty()) {
    try {
      const platform::DateTime threshold = platform::DateTime::ParseDateTime(report.completed->threshold);
      panel.MutableFields().threshold_date = threshold.DatePart();
      panel.MutableFields().threshold_time = threshold.TimePart();
    } catch (const platform::EConvertError&) {
      // A hand-edited record that is no date: the panel keeps its threshold.
    }
  }
  panel.RebuildArchiveName();
}

void BackupRun::DecideArchive(RunState& run) {
  Application& app = *app_;
  ProjectPanel& panel = app.Panel();
  if (panel.Fields().suffix_kind == SuffixKind::kDate) panel.RebuildArchiveName();
  // Taken against the current directory once, the same way as the destination retention prunes.
  run.archive = platform::ExpandFileName(Trim(panel.Fields().archive_name));
  run.result.archive = run.archive;
  run.retention = RetentionFor(run.section, panel.Fields());
  run.started = WholeSecond(app.GetClock().Now());
}

bool BackupRun::ArchiveNameTaken(RunState& run) {
  Application& app = *app_;
  if (!platform::FileExists(run.archive) || app.Settings().overwrite_existing) return false;
  BackupResult& result = run.result;
  result.outcome = BackupOutcome::kInterrupted;
  result.message = run.archive + " exists,backup will be interrupted!";
  app.Ui().ShowTimedMessage(result.message, MessageKind::kWarning, kOutcomeMessageSeconds);
  Log(run, kLogBackup, kLogInterrupt, "'" + run.archive + "'" + " exists,backup interripted");
  return true;
}

void BackupRun::SetPreviousArchiveAside(RunState& run) {
  // The archive being replaced waits beside the new one until that is complete: a failed run puts it back.
  if (platform::FileExists(run.archive)) run.set_aside = SetArchiveAside(run.archive);
}

void BackupRun::RecordPendingRun(RunState& run) {
  const ProjectFields& fields = app_->Panel().Fields();
  run.pending.archive = run.archive;
  if (fields.suffix_kind == SuffixKind::kNumber) run.pending.value = fields.next_number;
  // The next run takes every file written since this one started, so a file changed while this run was
  // reading the tree is not left out.
  if (fields.threshold_follows_last_backup) run.pending.threshold = run.started.FormatDateTime();
  platform::IniFile projects = app_->ProjectFile();
  WritePendingBackup(projects, run.section, run.pending);
  run.recorded = true;
}

// --- In the busy state: the archive ------------------------------------------------------------------------

bool BackupRun::WriteArchive(RunState& run) {
  zip::TVCLZip& writer = *writer_;
  struct Disconnect {
    zip::TVCLZip& writer;
    ~Disconnect() {
      writer.OnStartZip = nullptr;
      writer.OnEndZip = nullptr;
      writer.OnNoSuchFile = nullptr;
      writer.OnSkippingFile = nullptr;
      writer.OnTotalPercentDone = nullptr;
    }
  } disconnect{writer};
  int added = 0;
  try {
    ConfigureWriter(run);
    const std::string folder = platform::ExtractFilePath(run.archive);
    if (!platform::DirectoryExists(folder)) {
      throw platform::EFCreateError("Cannot create the archive \"" + run.archive + "\": the folder \"" + folder +
                                    "\" does not exist");
    }
    added = writer.Zip();
  } catch (const std::exception& error) {
    FailRun(run, error.what());
    return false;
  }
  run.result.file_count = added;
  if (added == 0) {
    NothingBackedUp(run);
    return false;
  }
  return true;
}

void BackupRun::ConfigureWriter(RunState& run) {
  const ProjectFields& fields = app_->Panel().Fields();
  zip::TVCLZip& writer = *writer_;
  // A fresh archive state: no comment or directory of the previous run is carried into this one.
  writer.ClearZip();
  writer.SetZipName(run.archive);
  writer.SetRecurse(fields.recurse);
  writer.SetStorePaths(fields.store_paths);
  writer.SetZipComment(fields.use_comment && !IsBlank(fields.comment) ? Trim(fields.comment) : "");
  std::vector<std::string> files;
  for (const std::string& entry : fields.include_entries) {
    const std::string folder = PatternFolder(entry);
    if (!folder.empty() && !platform::DirectoryExists(folder)) {
      run.result.left_out.push_back(folder + " (no such folder)");
    }
    files.push_back(zip::FolderAsPattern(entry));
  }
  writer.SetFilesList(files);
  writer.SetExcludeList(fields.exclude_entries);
  writer.SetPassword(fields.use_password && !IsBlank(fields.password) ? Trim(fields.password) : "");
  writer.SetEncryption(fields.encryption == EncryptionKind::kAes256 ? zip::TZipEncryption::zeAes256
                                                                    : zip::TZipEncryption::zeZipCrypto);
  writer.SetPackLevel(fields.pack_level);
  writer.SetThreads(app_->Settings().threads);
  writer.SetAddDirEntriesOnRecurse(false);
  // The archive and its name are on the disk before anything older is removed.
  writer.SetFlushFilesOnClose(true);

  const bool newer_than = fields.newer_than;
  const platform::DateTime threshold = fields.Threshold();
  auto leave_out = [&run](const std::string& path, const char* why) {
    if (run.left_out_seen.insert(path).second) run.result.left_out.push_back(path + " (" + why + ")");
  };
  writer.OnStartZip = [this, &run, newer_than, threshold](zip::TVCLZip&, const std::string& path, zip::TZipHeaderInfo&,
                                                          bool& skip) {
    if (!run.set_aside.empty() && SamePath(path, run.set_aside)) {
      skip = true;
    } else if (newer_than && NewerThanFilter(path, threshold)) {
      skip = true;
      ++run.newer_skipped;
    }
    if (!skip && OnFile) OnFile(path);
  };
  writer.OnEndZip = [&run](zip::TVCLZip&, const std::string& path, std::int64_t, std::int64_t, std::int64_t) {
    run.added.insert(path);
  };
  writer.OnNoSuchFile = [leave_out](zip::TVCLZip&, const std::string& path) { leave_out(path, "no such file"); };
  writer.OnSkippingFile = [&run, leave_out](zip::TVCLUnZip&, zip::TSkipReason reason, const std::string& path, int,
                                            bool&) {
    if (reason != zip::kSkipDuplicateName) {
      leave_out(path, "cannot be read");  // a file, or a folder with all it holds
    } else if (run.added.count(path) == 0) {
      leave_out(path, "another file has the same name in the archive");  // the same file twice is no loss
    }
  };
  writer.OnTotalPercentDone = [this](zip::TVCLUnZip&, int percent) { SetProgress(percent); };
}

void BackupRun::NothingBackedUp(RunState& run) {
  // No archive without a file is kept: it would push a real one out of the ring.
  BackupResult& result = run.result;
  if (!result.left_out.empty()) {
    FailRun(run, "Nothing was backed up for project '" + run.section + "'." + LeftOutLines(result.left_out));
    return;
  }
  const std::string undo_notes = UndoArchive(run);
  std::string reason;
  if (run.newer_skipped > 0) {
    reason = "no file was written since " + app_->Panel().Fields().Threshold().FormatDateTime();
  } else {
    reason = "the selection matched no file";
  }
  result.outcome = BackupOutcome::kNothingToBackUp;
  result.message = "Nothing to back up: " + reason + ".\rProject Name: '" + result.project + "'" + undo_notes;
  app_->Ui().ShowTimedMessage(result.message, MessageKind::kWarning, kOutcomeMessageSeconds);
  reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
  Log(run, kLogBackup, kLogInterrupt, reason + "; no archive written");
}

// --- In the busy state: after the archive is in place ------------------------------------------------------

void BackupRun::FinishRun(RunState& run) {
  run.result.outcome = BackupOutcome::kSucceeded;
  const bool logged = ReportSuccess(run);
  const bool in_ring = KeepLastArchives(run);
  // Whatever did not get done stays recorded for the next run to complete.
  SaveBookkeeping(run, !logged || !in_ring);
  RemovePreviousArchive(run);
  Application& app = *app_;
  app.SetActivePage(run.page);
  if (OnPageChange) OnPageChange(run.page);
}

bool BackupRun::ReportSuccess(RunState& run) {
  BackupResult& result = run.result;
  try {
    result.size_kb = ArchiveSizeKb(run.archive);
  } catch (const platform::EFileError& error) {
    NoteAfterError(run, error.what());
    return false;
  }
  const std::string size = std::to_string(result.size_kb);
  result.message = "Backup Files Succeeds!\rProject Name: '" + result.project + "'" + "\r" + "File Name:    '" +
                   platform::ExtractFileName(run.archive) + "'" + "\r" + "File Size:    '" + size + "Kb'";
  std::string information = SucceedsInformation(run.archive, result.size_kb);
  if (!result.left_out.empty()) {
    result.message += LeftOutLines(result.left_out);
    information +=
        ", not backed up (" + std::to_string(result.left_out.size()) + "): " + LeftOutList(result.left_out, ", ");
  }
  const MessageKind kind = result.left_out.empty() ? MessageKind::kInformation : MessageKind::kWarning;
  app_->Ui().ShowTimedMessage(result.message, kind, kOutcomeMessageSeconds);
  const std::size_t errors_before = result.after_error.size();
  Log(run, kLogBackup, kLogSucceeds, information);
  return result.after_error.size() == errors_before;
}

bool BackupRun::KeepLastArchives(RunState& run) {
  if (run.retention.suffix_kind == SuffixKind::kNone) return true;
  try {
    platform::IniFile store = app_->StoreNumberFile();
    ApplyRetention(store, run.retention, run.archive);
    return true;
  } catch (const platform::EFileError& error) {
    NoteAfterError(run, "The archive was written, but keeping the last " + std::to_string(run.retention.keep_count) +
                            " archives of project '" + run.section + "' failed: " + error.what());
    Log(run, kLogRetention, kLogFails, OneLine(error.what()));
    return false;
  }
}

void BackupRun::SaveBookkeeping(RunState& run, bool keep_record) {
  Application& app = *app_;
  ProjectPanel& panel = app.Panel();
  try {
    platform::IniFile projects = app.ProjectFile();
    SavePendingBookkeeping(projects, run.section, run.pending, keep_record);
  } catch (const platform::EFileError& error) {
    // The record stays: the next run saves the number before it picks its own.
    NoteAfterError(run, "The archive was written, but project.ini could not be updated: " + std::string(error.what()));
  }
  if (run.pending.value) panel.SetNextNumber(AdvanceNumber(*run.pending.value, panel.Fields().number_step));
  if (!run.pending.threshold.empty()) {
    panel.MutableFields().threshold_date = run.started.DatePart();
    panel.MutableFields().threshold_time = run.started.TimePart();
  }
  panel.RebuildArchiveName();
}

void BackupRun::RemovePreviousArchive(RunState& run) {
  if (run.set_aside.empty()) return;
  // One that cannot be removed now carries this process's id; a later run removes it (backup_recovery.h).
  (void)platform::DeleteFile(run.set_aside);
  run.set_aside.clear();
}

// --- Failures ----------------------------------------------------------------------------------------------

void BackupRun::FailRun(RunState& run, const std::string& error) {
  BackupResult& result = run.result;
  result.outcome = BackupOutcome::kFailed;
  const std::string notes = UndoArchive(run);
  result.message = error;
  // The engine's fixed messages ("Not enough room to write archive") do not say which archive.
  if (!run.archive.empty() && result.message.find(platform::ExtractFilePath(run.archive)) == std::string::npos) {
    result.message += "\rArchive: '" + run.archive + "'";
  }
  result.message += notes;
  Log(run, kLogBackup, kLogFails, OneLine((run.archive.empty() ? "" : run.archive + "  ") + error + notes));
  if (!result.after_error.empty()) {
    result.message += "\r" + result.after_error;
    result.after_error.clear();
  }
}

std::string BackupRun::UndoArchive(RunState& run) {
  // Nothing of a run that has no archive to show stays: the previous archive comes back (over whatever
  // this run put under its name), or this run's archive goes; the record goes last.
  std::string notes;
  if (!run.set_aside.empty()) {
    if (PutArchiveBack(run.set_aside, run.archive)) {
      run.set_aside.clear();
    } else {
      notes += "\rThe previous archive could not be put back; it is kept as '" + run.set_aside + "'.";
    }
  } else if (run.recorded && platform::FileExists(run.archive) && !platform::DeleteFile(run.archive)) {
    notes += "\rThe archive '" + run.archive + "' could not be removed again.";
  }
  if (!run.recorded) return notes;
  try {
    platform::IniFile projects = app_->ProjectFile();
    ClearPendingBackup(projects, run.section);
    run.recorded = false;
  } catch (const platform::EFileError&) {
    // The next run finds the record with no archive under its name (or the one named above) and drops it.
  }
  return notes;
}

void BackupRun::NoteAfterError(RunState& run, const std::string& text) {
  std::string& errors = run.result.after_error;
  errors += (errors.empty() ? "" : "\r") + text;
}

void BackupRun::Log(RunState& run, const std::string& operation, const std::string& status,
                    const std::string& information) {
  try {
    app_->Log().AddLogEntry(operation, status, run.result.project, information);
  } catch (const platform::EFileError& error) {
    NoteAfterError(run, "The activity log could not be written: " + std::string(error.what()));
  }
}

// --- Window state ------------------------------------------------------------------------------------------

void BackupRun::SetProgress(int percent) {
  if (percent == progress_) return;
  progress_ = percent;
  if (OnProgress) OnProgress(percent);
}

void BackupRun::EndBusyState() {
  running_ = false;
  app_->SetRunControls(true);
  SetProgress(0);
}

}  // namespace kzb::app
