#include "app/backup/activity_log.h"

#include <algorithm>

#include "platform/file_system.h"
#include "platform/ini_file.h"

namespace kzb::app {

namespace {

constexpr char kCommon[] = "Common";
constexpr char kLogTotalKey[] = "Log Total";

// The log size in force: a hand-edited size below 6 could never grow past the 5 entries a cut keeps, and
// a huge one would size the grid by it, so both ends are held at workable values.
constexpr int kMinEffectiveLogCount = ActivityLog::kKeptAfterCut + 1;
constexpr int kMaxEffectiveLogCount = 100000;

int EffectiveLogCount(int log_count) {
  return std::clamp(log_count, kMinEffectiveLogCount, kMaxEffectiveLogCount);
}

std::string SectionName(std::int64_t number) {
  return "Log" + std::to_string(number);
}

}  // namespace

ActivityLog::ActivityLog(std::string log_path, int log_count, const Clock& clock)
    : path_(std::move(log_path)), clock_(&clock), rows_(static_cast<std::size_t>(EffectiveLogCount(log_count))) {}

void ActivityLog::SetLogCount(int log_count) {
  rows_.resize(static_cast<std::size_t>(EffectiveLogCount(log_count)));
}

void ActivityLog::LoadLog() {
  // One snapshot for the whole grid: thousands of entries are read from one look at the file.
  const platform::IniFile::Snapshot ini = platform::IniFile(path_).Read();
  std::fill(rows_.begin(), rows_.end(), LogRow{});
  log_total_ = std::max<std::int64_t>(0, ini.ReadInteger(kCommon, kLogTotalKey, 0));
  auto grid_size = static_cast<std::int64_t>(rows_.size());
  if (grid_size < log_total_) log_total_ = grid_size - 1;
  for (std::int64_t k = log_total_; k >= 1; --k) {
    std::string section = SectionName(k);
    LogRow& row = rows_[static_cast<std::size_t>(log_total_ - k)];
    row.date = ini.ReadString(section, "Date", "");
    row.operation = ini.ReadString(section, "Operate", "");
    row.status = ini.ReadString(section, "Status", "");
    row.project = ini.ReadString(section, "Project", "");
    row.information = ini.ReadString(section, "Information", "");
  }
}

platform::IniFile::SectionEntries ActivityLog::EntrySection(std::int64_t number, const LogRow& row) {
  return {SectionName(number),
          {{"Date", row.date},
           {"Operate", row.operation},
           {"Status", row.status},
           {"Project", row.project},
           {"Information", row.information}}};
}

void ActivityLog::AddLogEntry(const std::string& operation, const std::string& status, const std::string& project,
                              const std::string& information) {
  platform::IniFile ini(path_);
  LogRow entry{clock_->Now().FormatDateTime(), operation, status, project, information};
  // The entry and the count that makes it visible are one write: a crash leaves the log as it was or with
  // the entry, never a count that points at a missing or an older entry.
  ini.WriteSections({{kCommon, {{kLogTotalKey, std::to_string(log_total_ + 1)}}}, EntrySection(log_total_ + 1, entry)});
  ++log_total_;

  auto grid_size = static_cast<std::int64_t>(rows_.size());
  for (std::int64_t r = std::min(log_total_, grid_size); r >= 2; --r) {
    rows_[static_cast<std::size_t>(r - 1)] = rows_[static_cast<std::size_t>(r - 2)];
  }
  rows_[0] = entry;

  if (log_total_ < grid_size) return;

  // Cut back: the five newest rows become Log1 (fifth newest) to Log5 (newest), with the new count, in one
  // write.
  std::vector<platform::IniFile::SectionEntries> cut = {{kCommon, {{kLogTotalKey, std::to_string(kKeptAfterCut)}}}};
  for (int r = 1; r <= kKeptAfterCut; ++r) {
    cut.push_back(EntrySection(kKeptAfterCut + 1 - r, rows_[static_cast<std::size_t>(r - 1)]));
  }
  ini.WriteSections(cut);
  log_total_ = kKeptAfterCut;
  LoadLog();
}

void ActivityLog::ClearLog() {
  platform::IniFile ini(path_);
  ini.WriteInteger(kCommon, kLogTotalKey, 0);
  log_total_ = 0;
  std::fill(rows_.begin(), rows_.end(), LogRow{});
}

std::vector<LogRow> ActivityLog::Entries() const {
  auto count = std::min(log_total_, static_cast<std::int64_t>(rows_.size()));
  return std::vector<LogRow>(rows_.begin(), rows_.begin() + count);
}

bool ActivityLog::IsAlertRow(const LogRow& row) {
  return row.status == kLogFails || row.status == kLogInterrupt;
}

std::int64_t ArchiveSizeKb(const std::string& path) {
  platform::File file(path, platform::File::Mode::kRead);
  return file.Size() / 1024;
}

}  // namespace kzb::app
