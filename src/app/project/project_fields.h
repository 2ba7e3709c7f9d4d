// The fields of one backup project as the project panel (and the add-project wizard) holds them, with the
// stored codes of its choices. The stored form of a project is a section of project.ini (project_store.h).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/date_time.h"

namespace kzb::app {

// "Suffix": what follows the prefix in an archive name.
enum class SuffixKind { kNone = 0, kDate = 1, kNumber = 2 };

// "BackupMode": when the project runs unattended.
enum class ScheduleKind { kDailyOnce = 0, kEveryMinutes = 1, kWeekly = 2, kNone = 3 };

// "Encryption": the cipher of a password-protected project's archives. Absent means traditional, the only
// cipher of projects saved before the choice existed.
enum class EncryptionKind { kZipCrypto = 0, kAes256 = 1 };

// The weekday list of the schedule editor, in its order; index 0 is Sunday.
inline constexpr std::array<std::string_view, 7> kWeekdayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                                  "Thursday", "Friday", "Saturday"};
// Index into kWeekdayNames of an exactly spelled name, or nullopt.
std::optional<int> WeekdayIndexExact(std::string_view name);
// Index into kWeekdayNames of a name in any letter case (the editor's lookup), or nullopt.
std::optional<int> WeekdayIndexNoCase(std::string_view name);

// Limits of the editing controls.
inline constexpr int kMinNumber = 1;  // next number and number step
inline constexpr int kMaxNumber = 1000;
inline constexpr int kMinMinutes = 2;  // every-N-minutes schedule
inline constexpr int kMaxMinutes = 1000;
inline constexpr int kMinKeepCount = 2;  // archives kept
inline constexpr int kMaxKeepCount = 50000;
inline constexpr int kMinPackLevel = 0;
inline constexpr int kMaxPackLevel = 9;

// The default destination folder of a project: the three characters c, colon, backslash.
inline constexpr std::string_view kDefaultSavePath = "c:\\";

struct ProjectFields {
  // Destination.
  std::string prefix;                            // "Filename prefix"
  SuffixKind suffix_kind = SuffixKind::kNumber;  // "Suffix"
  int next_number = 1;                           // shown next number; "Value" = next_number - number_step
  int number_step = 1;                           // "Increase Value"
  std::string save_path{kDefaultSavePath};       // `SavePath`, "Save Path"
  std::string archive_name;                      // the editable archive name field
  // Source.
  std::vector<std::string> include_entries;    // "Backup Directory Count", Backup0 ...
  std::vector<std::string> exclude_entries;    // "No Backup Directory Count", NoBackup0 ...
  bool recurse = true;                         // "Whether include Subdirectory"
  bool newer_than = false;                     // "isUseNew"
  bool threshold_follows_last_backup = false;  // "isUseToday"
  platform::DateTime threshold_date;           // date part of "NewDateTime" (a whole day count)
  platform::DateTime threshold_time;           // time-of-day part of "NewDateTime" (a fraction)
  // Options.
  bool use_password = true;  // "Whether password Project"
  std::string password;      // "Password", encoded with the project name
  std::string confirm_password;
  EncryptionKind encryption = EncryptionKind::kZipCrypto;  // "Encryption"
  bool store_paths = true;                                 // "Whether store path in Zip"
  bool use_comment = true;                                 // "Whether store comment in Zip"
  std::string comment;                                     // "Comment", as typed
  int pack_level = 7;                                      // "PackLevel" (the panel's design value; a load sets it)
  int keep_count = 50;                                     // "Store Number"
  // Schedule.
  ScheduleKind schedule_kind = ScheduleKind::kNone;            // "BackupMode"
  platform::DateTime schedule_time = platform::DateTime(0.5);  // kind 0: time of day, 12:00:00
  int schedule_minutes = 2;                                    // kind 1
  std::optional<int> schedule_weekday;                         // kind 2: index into kWeekdayNames

  // The threshold as one date-time value (the date joined with the time of day).
  platform::DateTime Threshold() const;
  void SetThreshold(platform::DateTime value);
  // "StartTime_or_Increase" as the panel would save it (empty for kind none).
  std::string ScheduleValueText() const;
};

}  // namespace kzb::app
