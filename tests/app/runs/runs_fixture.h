// Shared set-up of the run tests: a data folder, a source tree, a destination folder, a scripted user
// interface, a clock the test moves by hand, and the application with its runs.
#pragma once

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif
#ifndef _WIN32
#include <unistd.h>
#endif

#include <memory>
#include <string>
#include <vector>

#include "app/common/scripted_user_interface.h"
#include "app/project/project_password.h"
#include "app/runs/main_runs.h"
#include "app/session/application.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/path.h"
#include "platform/system.h"
#include "support/test_support.h"
#include "zip/reader/vcl_unzip.h"

namespace kzb::app::runs_test {

using platform::DateTime;

inline DateTime At(const char* text) {
  return DateTime::ParseDateTime(text);
}

// A scripted interface whose questions can run an action while they are open (a timer tick arriving
// during a modal question).
class ProbingUserInterface : public ScriptedUserInterface {
 public:
  bool AskYesNo(const std::string& text, MessageKind kind) override {
    if (during_question) during_question();
    return ScriptedUserInterface::AskYesNo(text, kind);
  }
  std::function<void()> during_question;
};

#ifdef _WIN32
using test::OtherProcessLock;
#else
// Holds a file lock from a child process until the object dies, so the lock belongs to another process.
class OtherProcessLock {
 public:
  explicit OtherProcessLock(const std::string& path) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      platform::FileLock lock(path);
      char c = lock.Held() ? 'y' : 'n';
      (void)!write(ready[1], &c, 1);
      (void)!read(release[0], &c, 1);  // returns when the parent closes its end
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_fd_ = release[1];
    char c = 'n';
    held_ = read(ready[0], &c, 1) == 1 && c == 'y';
    close(ready[0]);
  }
  ~OtherProcessLock() {
    if (release_fd_ >= 0) close(release_fd_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  bool Held() const { return held_; }

 private:
  pid_t pid_ = -1;
  int release_fd_ = -1;
  bool held_ = false;
};
#endif

// One project section's keys, written as the project save writes them.
struct ProjectSetup {
  std::string name = "Docs";
  std::string prefix = "Docs";
  int suffix = 2;  // 0 none, 1 date, 2 number
  int value = 1;   // last number used
  int step = 1;
  std::string save_path;             // default: the fixture's destination folder
  std::vector<std::string> include;  // default: the fixture's source tree, recursively
  std::vector<std::string> exclude;
  bool recurse = true;
  std::string password;  // empty: no password
  std::string comment;
  int mode = 3;  // BackupMode
  std::string schedule_value;
  int keep = 50;
  bool newer_than = false;
  bool follow_last = false;
  std::string threshold = "2024-01-01 00:00:00";
  int level = 6;
};

class RunsTest : public ::testing::Test {
 protected:
  RunsTest() : clock_(At("2024-03-04 10:00:00")) {
    EXPECT_TRUE(platform::ForceDirectories(DataDir()));
    EXPECT_TRUE(platform::ForceDirectories(DestDir()));
    test::WriteFileText(SourceDir() + "a.txt", "alpha\n");
    test::WriteFileText(SourceDir() + "sub/b.txt", "bravo bravo bravo\n");
  }

  std::string DataDir() const { return dir_ / "data/"; }
  std::string SourceDir() const { return dir_ / "src/"; }
  std::string DestDir() const { return dir_ / "dest/"; }
  std::string IniPath() const { return DataDir() + "project.ini"; }
  platform::IniFile Ini() const { return platform::IniFile(IniPath()); }
  platform::IniFile LogIni() const { return platform::IniFile(DataDir() + "log.txt"); }

  // Writes the projects (the first is the last project) and common settings, then starts the application.
  Application& Start(const std::vector<ProjectSetup>& projects, const std::string& common_extra = "") {
    std::string text = "[Common]\nProject Count=" + std::to_string(projects.size()) + "\n";
    for (std::size_t i = 0; i < projects.size(); ++i) {
      text += "Count" + std::to_string(i) + "=" + projects[i].name + "\n";
    }
    if (!projects.empty()) text += "Last Project=" + projects[0].name + "\n";
    text += common_extra;
    for (const ProjectSetup& p : projects) text += Section(p);
    test::WriteFileText(IniPath(), text);
    app_ = std::make_unique<Application>(DataDir(), ui_, clock_);
    runs_ = std::make_unique<MainRuns>(*app_);
    app_->Start();
    return *app_;
  }

  std::string Section(const ProjectSetup& p) const {
    std::string s = "[" + p.name + "]\n";
    s += "Filename prefix=" + p.prefix + "\n";
    s += "Suffix=" + std::to_string(p.suffix) + "\n";
    s += "Increase Value=" + std::to_string(p.step) + "\n";
    s += "Value=" + std::to_string(p.value) + "\n";
    s += "Save Path=" + (p.save_path.empty() ? DestDir() : p.save_path) + "\n";
    std::vector<std::string> include = p.include;
    if (include.empty()) include.push_back(SourceDir() + "*");
    s += "Backup Directory Count=" + std::to_string(include.size()) + "\n";
    for (std::size_t i = 0; i < include.size(); ++i) s += "Backup" + std::to_string(i) + "=" + include[i] + "\n";
    s += "No Backup Directory Count=" + std::to_string(p.exclude.size()) + "\n";
    for (std::size_t i = 0; i < p.exclude.size(); ++i) s += "NoBackup" + std::to_string(i) + "=" + p.exclude[i] + "\n";
    s += std::string("Whether include Subdirectory=") + (p.recurse ? "1" : "0") + "\n";
    s += std::string("Whether password Project=") + (p.password.empty() ? "0" : "1") + "\n";
    if (!p.password.empty()) s += "Password=" + EncodeProjectPassword(p.password, p.name) + "\n";
    s += "Whether store path in Zip=1\n";
    s += std::string("Whether store comment in Zip=") + (p.comment.empty() ? "0" : "1") + "\n";
    if (!p.comment.empty()) s += "Comment=" + p.comment + "\n";
    s += "BackupMode=" + std::to_string(p.mode) + "\n";
    if (!p.schedule_value.empty()) s += "StartTime_or_Increase=" + p.schedule_value + "\n";
    s += "PackLevel=" + std::to_string(p.level) + "\n";
    s += "Store Number=" + std::to_string(p.keep) + "\n";
    s += std::string("isUseNew=") + (p.newer_than ? "1" : "0") + "\n";
    s += std::string("isUseToday=") + (p.follow_last ? "1" : "0") + "\n";
    s += "NewDateTime=" + p.threshold + "\n";
    return s;
  }

  BackupRun& Backup() { return runs_->Backup(); }

  // The names of the entries of an archive, folder part included.
  static std::vector<std::string> EntryNames(const std::string& archive) {
    zip::TVCLUnZip reader;
    reader.SetZipName(archive);
    reader.ReadZip();
    std::vector<std::string> names;
    for (int i = 0; i < reader.Count(); ++i) names.push_back(reader.EntryPath(i) + reader.EntryName(i));
    return names;
  }

  // The log entries in file order: "Operate|Status|Project|Information".
  std::vector<std::string> LogLines() const {
    platform::IniFile log = LogIni();
    std::vector<std::string> lines;
    const std::int64_t total = log.ReadInteger("Common", "Log Total", 0);
    for (std::int64_t k = 1; k <= total; ++k) {
      const std::string section = "Log" + std::to_string(k);
      lines.push_back(log.ReadString(section, "Operate", "") + "|" + log.ReadString(section, "Status", "") + "|" +
                      log.ReadString(section, "Project", "") + "|" + log.ReadString(section, "Information", ""));
    }
    return lines;
  }

  test::ScratchDir dir_;
  ProbingUserInterface ui_;
  ManualClock clock_;
  std::unique_ptr<Application> app_;
  std::unique_ptr<MainRuns> runs_;
};

}  // namespace kzb::app::runs_test
