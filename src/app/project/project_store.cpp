#include "app/project/project_store.h"

#include "app/common/ini_lists.h"
#include "app/common/text_utils.h"
#include "app/project/project_password.h"
#include "platform/path.h"

namespace kzb::app {

namespace {

// A value far outside every spin range, so sums of clamped file values cannot overflow.
constexpr std::int64_t kWideLimit = 1'000'000'000;

std::int64_t Saturate(std::int64_t value) {
  if (value > kWideLimit) return kWideLimit;
  if (value < -kWideLimit) return -kWideLimit;
  return value;
}

const char* Flag(bool value) {
  return value ? "1" : "0";
}

}  // namespace

void LoadProject(const platform::IniFile& ini, const std::string& project_name, ProjectPanel& panel) {
  const std::string section = Trim(project_name);
  ProjectFields& f = panel.MutableFields();

  f.prefix = ini.ReadString(section, "Filename prefix", "");

  switch (ini.ReadInteger(section, "Suffix", 2)) {
    case 0:
      f.suffix_kind = SuffixKind::kNone;
      break;
    case 1:
      f.suffix_kind = SuffixKind::kDate;
      break;
    case 2:
      f.suffix_kind = SuffixKind::kNumber;
      break;
    default:
      break;
  }
  if (f.suffix_kind == SuffixKind::kNumber) {
    f.number_step = ClampToRange(Saturate(ini.ReadInteger(section, "Increase Value", 1)), kMinNumber, kMaxNumber);
    std::int64_t last = Saturate(ini.ReadInteger(section, "Value", 1));
    f.next_number = ClampToRange(last + f.number_step, kMinNumber, kMaxNumber);
  }

  f.save_path = ini.ReadString(section, "Save Path", std::string(kDefaultSavePath));
  panel.RebuildArchiveName();

  f.include_entries = ReadNumberedList(ini, section, ini.ReadInteger(section, "Backup Directory Count", 0), "Backup");
  f.exclude_entries =
      ReadNumberedList(ini, section, ini.ReadInteger(section, "No Backup Directory Count", 0), "NoBackup");

  f.recurse = ini.ReadBool(section, "Whether include Subdirectory", true);

  f.use_password = ini.ReadBool(section, "Whether password Project", true);
  std::string stored_password = ini.ReadString(section, "Password", "");
  if (f.use_password && !stored_password.empty()) {
    f.password = DecodeProjectPassword(stored_password, section);
    f.confirm_password = f.password;
  } else {
    f.password.clear();
    f.confirm_password.clear();
  }
  // A code this version does not know (a later version's cipher) reads as the strongest one known, never
  // as the traditional cipher.
  f.encryption = ini.ReadInteger(section, "Encryption", 0) == 0 ? EncryptionKind::kZipCrypto : EncryptionKind::kAes256;

  f.store_paths = ini.ReadBool(section, "Whether store path in Zip", true);
  f.use_comment = ini.ReadBool(section, "Whether store comment in Zip", true);
  f.comment = ini.ReadString(section, "Comment", "");

  std::string value = ini.ReadString(section, "StartTime_or_Increase", "");
  switch (ini.ReadInteger(section, "BackupMode", 3)) {
    case 0:
      panel.SetScheduleKind(ScheduleKind::kDailyOnce);
      try {
        f.schedule_time = platform::DateTime::ParseTime(Trim(value)).TimePart();
      } catch (const platform::EConvertError&) {
        f.schedule_time = platform::DateTime::FromTime(12, 0, 0);
      }
      break;
    case 1: {
      panel.SetScheduleKind(ScheduleKind::kEveryMinutes);
      auto minutes = ParseDecimal(Trim(value));
      f.schedule_minutes = minutes ? static_cast<int>(Saturate(*minutes)) : 5;
      break;
    }
    case 2:
      panel.SetScheduleKind(ScheduleKind::kWeekly);
      f.schedule_weekday = WeekdayIndexNoCase(value);
      break;
    case 3:
      panel.SetScheduleKind(ScheduleKind::kNone);
      break;
    default:
      break;
  }

  f.pack_level = ClampToRange(Saturate(ini.ReadInteger(section, "PackLevel", 6)), kMinPackLevel, kMaxPackLevel);
  f.keep_count = ClampToRange(Saturate(ini.ReadInteger(section, "Store Number", 50)), kMinKeepCount, kMaxKeepCount);

  f.newer_than = ini.ReadBool(section, "isUseNew", false);
  f.threshold_follows_last_backup = ini.ReadBool(section, "isUseToday", false);

  std::string threshold = ini.ReadString(section, "NewDateTime", panel.GetClock().Now().FormatDateTime());
  f.SetThreshold(platform::DateTime::ParseDateTime(threshold));
}

std::optional<std::string> CheckProject(const ProjectFields& fields) {
  if (IsBlank(fields.archive_name)) return "Please enter the backup filename";
  if (IsBlank(fields.prefix)) return "Please enter the prefix of backup filename";
  if (fields.use_password && Trim(fields.password) != Trim(fields.confirm_password)) {
    return "Confirm password is not matching";
  }
  if (fields.include_entries.empty()) return "Please select files to backup";
  return std::nullopt;
}

void WriteProjectSection(platform::IniFile& ini, const std::string& project_name, ProjectFields& fields) {
  const std::string section = Trim(project_name);
  std::vector<platform::IniFile::Entry> entries;
  entries.push_back({"Filename prefix", Trim(fields.prefix)});
  entries.push_back({"Suffix", std::to_string(static_cast<int>(fields.suffix_kind))});
  entries.push_back({"Increase Value", std::to_string(fields.number_step)});
  entries.push_back({"Value", std::to_string(fields.next_number - fields.number_step)});
  fields.save_path = platform::ExtractFilePath(Trim(fields.archive_name));
  entries.push_back({"Save Path", fields.save_path});
  AppendNumberedList(entries, "Backup Directory Count", "Backup", fields.include_entries);
  AppendNumberedList(entries, "No Backup Directory Count", "NoBackup", fields.exclude_entries);
  entries.push_back({"Whether include Subdirectory", Flag(fields.recurse)});
  entries.push_back({"Whether password Project", Flag(fields.use_password)});
  std::string password = Trim(fields.password);
  if (fields.use_password && !password.empty()) {
    entries.push_back({"Password", EncodeProjectPassword(password, section)});
  } else {
    fields.password.clear();
    fields.confirm_password.clear();
  }
  entries.push_back({"Encryption", std::to_string(static_cast<int>(fields.encryption))});
  entries.push_back({"Whether store path in Zip", Flag(fields.store_paths)});
  entries.push_back({"Whether store comment in Zip", Flag(fields.use_comment)});
  if (fields.use_comment && !IsBlank(fields.comment)) {
    entries.push_back({"Comment", fields.comment});
  } else {
    fields.comment.clear();
  }
  entries.push_back({"BackupMode", std::to_string(static_cast<int>(fields.schedule_kind))});
  if (fields.schedule_kind != ScheduleKind::kNone) {
    entries.push_back({"StartTime_or_Increase", fields.ScheduleValueText()});
  }
  entries.push_back({"PackLevel", std::to_string(fields.pack_level)});
  entries.push_back({"Store Number", std::to_string(fields.keep_count)});
  entries.push_back({"isUseNew", Flag(fields.newer_than)});
  entries.push_back({"isUseToday", Flag(fields.threshold_follows_last_backup)});
  entries.push_back({"NewDateTime", fields.threshold_date.FormatDate() + " " + fields.threshold_time.FormatTime()});
  ini.WriteSection(section, entries);
}

}  // namespace kzb::app
