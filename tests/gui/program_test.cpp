#include "gui/program.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/runs/run_lock.h"
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

// The real program: a second start ends at once without touching the data files, and kzb refuses to change
// projects while the window holds its lock.
TEST(SingleInstanceTest, SecondStartEndsAndKzbRefusesWhileTheWindowRuns) {
  test::ScratchDir dir;
  const std::string data = dir / "data/";
  test::WriteFileText(data + "project.ini", "[Common]\nProject Count=1\nCount0=Docs\n[Docs]\nFilename prefix=D\n");
  QProcess first;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.Path()));
  first.setProcessEnvironment(env);
  first.start(KZB_WINDOW_PATH, {"--data-dir", QString::fromStdString(data)});
  ASSERT_TRUE(first.waitForStarted(5000));
  QTRY_VERIFY_WITH_TIMEOUT(app::WindowRunning(data), 10000);

  const std::string before = test::ReadFileText(data + "project.ini");
  QProcess second;
  second.setProcessEnvironment(env);
  second.start(KZB_WINDOW_PATH, {"--data-dir", QString::fromStdString(data)});
  ASSERT_TRUE(second.waitForFinished(10000));
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(first.state(), QProcess::Running);

  std::string out;
  EXPECT_NE(test::RunCommand(test::ShellQuote(KZB_CLI_PATH) + " delete Docs --yes --data-dir " + test::ShellQuote(data),
                             &out),
            0);
  EXPECT_NE(out.find("window is running"), std::string::npos) << out;
  EXPECT_EQ(test::ReadFileText(data + "project.ini"), before);

  first.terminate();  // its own process, started above
  EXPECT_TRUE(first.waitForFinished(10000));
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
