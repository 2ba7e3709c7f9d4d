// The activity log: log.txt and the grid that shows it, newest first.
//
// log.txt holds "Log Total" in section Common and one section per entry, Log1 (oldest) to "Log" + "Log
// Total" (newest), with the keys "Date", "Operate", "Status", "Project" and "Information". Sections above
// the total may remain from earlier and are overwritten when the count reaches them again. The grid has
// one row per possible entry (the log size setting); row 0 here is the newest entry. Once the log holds
// `LogCount` entries it is cut back to its last 5.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/common/clock.h"
#include "platform/ini_file.h"

namespace kzb::app {

// Operation and status words of the entries the system writes.
inline constexpr char kLogBackup[] = "Backup";
inline constexpr char kLogRestore[] = "Restore";
// Keeping the last archives of a project failed after its backup had succeeded (logged on its own).
inline constexpr char kLogRetention[] = "Retention";
inline constexpr char kLogSucceeds[] = "Succeeds";
inline constexpr char kLogInterrupt[] = "Interrupt";
inline constexpr char kLogFails[] = "Fails";

struct LogRow {
  std::string date;
  std::string operation;
  std::string status;
  std::string project;
  std::string information;
};

class ActivityLog {
 public:
  // The entries kept before the log is cut back.
  static constexpr int kKeptAfterCut = 5;

  // log_path: the log file; log_count: the log size setting; clock must outlive the log.
  ActivityLog(std::string log_path, int log_count, const Clock& clock);

  // Fills the grid from the file.
  void LoadLog();
  // Appends an entry dated now to file and grid, and cuts the log back when it is full.
  void AddLogEntry(const std::string& operation, const std::string& status, const std::string& project,
                   const std::string& information);
  // Sets "Log Total" to 0 and empties the grid; the entry sections stay in the file.
  void ClearLog();

  // Gives the grid log_count rows at once (the preferences changed the log size); the file is not read.
  void SetLogCount(int log_count);

  // The grid rows, row 0 = newest; empty rows below the entries.
  const std::vector<LogRow>& Rows() const { return rows_; }
  // The rows that hold entries, newest first.
  std::vector<LogRow> Entries() const;
  // Rows whose status is exactly "Fails" or "Interrupt" are drawn red.
  static bool IsAlertRow(const LogRow& row);
  std::int64_t LogTotal() const { return log_total_; }
  const std::string& Path() const { return path_; }

 private:
  static platform::IniFile::SectionEntries EntrySection(std::int64_t number, const LogRow& row);

  std::string path_;
  const Clock* clock_;
  std::int64_t log_total_ = 0;
  std::vector<LogRow> rows_;
};

// The file's length in bytes divided by 1024, rounded down, through a read-only open of the file. Throws
// platform::EFOpenError when it cannot be opened.
std::int64_t ArchiveSizeKb(const std::string& path);

}  // namespace kzb::app
