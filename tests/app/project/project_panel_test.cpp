#include "app/project/project_panel.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kzb::app {
namespace {

using platform::DateTime;
using test::Native;

class ProjectPanelTest : public ::testing::Test {
 protected:
  ProjectPanelTest() : clock_(DateTime::ParseDateTime("2024-03-01 18:05:09")), panel_(settings_, clock_) {
    panel_.SetSavePath(Native("/b/"));
    panel_.SetPrefix("Docs");
  }
  AppSettings settings_;
  ManualClock clock_;
  ProjectPanel panel_;
};

TEST_F(ProjectPanelTest, NamingInputsRebuildTheArchiveName) {
  EXPECT_EQ(panel_.Fields().archive_name, Native("/b/Docs1.zip"));
  panel_.SetNextNumber(7);
  EXPECT_EQ(panel_.Fields().archive_name, Native("/b/Docs7.zip"));
  settings_.pad_number = true;
  settings_.number_width = 3;
  panel_.SetNumberStep(2);
  EXPECT_EQ(panel_.Fields().archive_name, Native("/b/Docs007.zip"));
  panel_.SetSuffixKind(SuffixKind::kDate);
  EXPECT_EQ(panel_.Fields().archive_name, Native("/b/Docs03-01_18h05m09s.zip"));
  EXPECT_FALSE(panel_.NumberFieldsEnabled());
  panel_.SetSuffixKind(SuffixKind::kNone);
  EXPECT_EQ(panel_.Fields().archive_name, Native("/b/Docs.zip"));
  panel_.SetSavePath(Native("/c"));
  EXPECT_EQ(panel_.Fields().archive_name, Native("/c/Docs.zip"));
}

TEST_F(ProjectPanelTest, NumberFieldsAreHeldInTheirRange) {
  panel_.SetNextNumber(0);
  EXPECT_EQ(panel_.Fields().next_number, 1);
  panel_.SetNextNumber(5000);
  EXPECT_EQ(panel_.Fields().next_number, 1000);
  panel_.SetNumberStep(-3);
  EXPECT_EQ(panel_.Fields().number_step, 1);
}

TEST_F(ProjectPanelTest, OptionFieldsFollowTheirBoxes) {
  ProjectFields& f = panel_.MutableFields();
  f.use_password = false;
  f.use_comment = false;
  EXPECT_FALSE(panel_.PasswordFieldsEnabled());
  EXPECT_FALSE(panel_.CommentFieldEnabled());
  f.use_password = true;
  f.use_comment = true;
  EXPECT_TRUE(panel_.PasswordFieldsEnabled());
  EXPECT_TRUE(panel_.CommentFieldEnabled());
}

TEST_F(ProjectPanelTest, ThresholdFieldsFollowTheNewerThanBoxes) {
  struct Case {
    bool newer, follows, use_last_enabled, threshold_enabled;
  } cases[] = {
      {false, false, false, false}, {false, true, false, false}, {true, false, true, true}, {true, true, true, false}};
  for (const auto& c : cases) {
    panel_.MutableFields().newer_than = c.newer;
    panel_.MutableFields().threshold_follows_last_backup = c.follows;
    EXPECT_EQ(panel_.UseLastBackupEnabled(), c.use_last_enabled);
    EXPECT_EQ(panel_.ThresholdFieldsEnabled(), c.threshold_enabled);
  }
}

TEST_F(ProjectPanelTest, ThresholdJoinsDateAndTime) {
  ProjectFields& f = panel_.MutableFields();
  f.threshold_date = DateTime::ParseDateTime("2024-03-01 23:59:59");  // its time of day is dropped
  f.threshold_time = DateTime::ParseDateTime("1999-01-01 12:00:00");  // its date is dropped
  EXPECT_EQ(f.Threshold().FormatDateTime(), "2024-03-01 12:00:00");
}

}  // namespace
}  // namespace kzb::app
