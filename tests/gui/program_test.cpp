#include "gui/program.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <filesystem>
#include <QTest>
#include <QTimer>

#include "gui/single_instance.h"
#include "support/test_support.h"

namespace kzb::gui {
namespace {

TEST(ProgramTest, OptionsAreParsedWithoutADisplay) {
  struct Case {
    std::vector<std::string> args;
    bool help, version;
    const char* data_dir;
    bool error;
  } cases[] = {
      {{}, false, false, "", false},
      {{"--help"}, true, false, "", false},
      {{"--version"}, false, true, "", false},
      {{"--data-dir", "/srv/kzb"}, false, false, "/srv/kzb", false},
      {{"--data-dir=/srv/kzb"}, false, false, "/srv/kzb", false},
      {{"--data-dir"}, false, false, "", true},
      {{"--frobnicate"}, false, false, "", true},
  };
  for (const Case& c : cases) {
    ProgramOptions o = ParseProgramOptions(c.args);
    EXPECT_EQ(o.help, c.help);
    EXPECT_EQ(o.version, c.version);
    EXPECT_EQ(o.data_dir, c.data_dir);
    EXPECT_EQ(!o.error.empty(), c.error);
  }
}

TEST(ProgramTest, HelpVersionAndTheNoDisplayHintWorkWithoutADisplay) {
  const std::string program = test::ShellQuote(KZB_WINDOW_PATH);
  const std::string no_display = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
  std::string out;
  EXPECT_EQ(test::RunCommand(no_display + program + " --version", &out), 0);
  EXPECT_EQ(out, "Kestrova ZIP Backup 1.08\n");
  EXPECT_EQ(test::RunCommand(no_display + program + " --help", &out), 0);
  EXPECT_NE(out.find("--data-dir DIR"), std::string::npos);
  test::ScratchDir dir;
  EXPECT_NE(test::RunCommand(no_display + program + " --data-dir " + test::ShellQuote(dir.Path()), &out), 0);
  EXPECT_NE(out.find("no display"), std::string::npos);
  EXPECT_NE(out.find("kzb"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "project.ini"));
}

TEST(SingleInstanceTest, ALaterStartReachesTheRunningWindow) {
  test::ScratchDir dir;
  SingleInstance first(QString::fromStdString(dir.Path()));
  SingleInstance later(QString::fromStdString(dir.Path()));
  EXPECT_FALSE(later.ActivateRunning(200));  // nobody listens yet
  ASSERT_TRUE(first.Listen());
  QSignalSpy requests(&first, &SingleInstance::ActivationRequested);
  bool answered = false;
  // The later start blocks while it waits for the answer; let the first one run meanwhile.
  QTimer::singleShot(0, [&] { answered = later.ActivateRunning(300); });
  QTRY_COMPARE(requests.count(), 1);
  QTRY_VERIFY(answered);
  EXPECT_NE(SingleInstance::ServerName("/a/"), SingleInstance::ServerName("/b/"));
}

}  // namespace
}  // namespace kzb::gui
