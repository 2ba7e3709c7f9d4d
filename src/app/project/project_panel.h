// The project panel: the fields of the project shown in the main window (or in the add-project wizard),
// the reactions that keep the archive name and the choices consistent, and which inputs are enabled.
//
// Enabled states follow from the values, so they always match what is shown: the number fields only for
// the suffix kind number, the password fields only with use password, the comment field only with use
// comment, the "use last backup date" box only with newer-than, the threshold fields only with newer-than
// and not following the last backup, and one schedule input per schedule kind. Whether the groups can be
// edited at all (edit mode) is the window's state, not the panel's.
#pragma once

#include <string>

#include "app/common/clock.h"
#include "app/project/app_settings.h"
#include "app/project/project_fields.h"

namespace kzb::app {

class ProjectPanel {
 public:
  // settings (number padding) and clock (date stamps) must outlive the panel.
  ProjectPanel(const AppSettings& settings, const Clock& clock) : settings_(&settings), clock_(&clock) {}

  const ProjectFields& Fields() const { return fields_; }
  // Direct access for plain fields (lists, flags, passwords, comment, level, keep count, threshold,
  // schedule inputs). After changing a naming input this way, call RebuildArchiveName.
  ProjectFields& MutableFields() { return fields_; }

  // Naming reactions: each sets its field and rebuilds the archive name field.
  void SetPrefix(const std::string& prefix);
  void SetSuffixKind(SuffixKind kind);
  void SetNextNumber(int number);  // held in 1 .. 1000
  void SetNumberStep(int step);    // held in 1 .. 1000
  void SetSavePath(const std::string& folder);
  // The archive name field from the current folder, prefix, suffix kind and number (BuildArchiveName).
  void RebuildArchiveName();

  // Schedule radio buttons: sets the kind; choosing weekly with no weekday selected selects Sunday.
  void SetScheduleKind(ScheduleKind kind);

  // Empties what the window clears after the last project is deleted: prefix, archive name, both lists.
  void ClearForNoProject();

  // Enabled states of the inputs (see the file comment).
  bool NumberFieldsEnabled() const { return fields_.suffix_kind == SuffixKind::kNumber; }
  bool PasswordFieldsEnabled() const { return fields_.use_password; }
  bool CommentFieldEnabled() const { return fields_.use_comment; }
  bool UseLastBackupEnabled() const { return fields_.newer_than; }
  bool ThresholdFieldsEnabled() const { return fields_.newer_than && !fields_.threshold_follows_last_backup; }
  bool ScheduleTimeEnabled() const { return fields_.schedule_kind == ScheduleKind::kDailyOnce; }
  bool ScheduleMinutesEnabled() const { return fields_.schedule_kind == ScheduleKind::kEveryMinutes; }
  bool ScheduleWeekdayEnabled() const { return fields_.schedule_kind == ScheduleKind::kWeekly; }

  const AppSettings& Settings() const { return *settings_; }
  const Clock& GetClock() const { return *clock_; }

 private:
  const AppSettings* settings_;
  const Clock* clock_;
  ProjectFields fields_;
};

// Holds a spin-field value in its range.
int ClampToRange(long long value, int low, int high);

}  // namespace kzb::app
