// kzb backup, archives, entries, restore and schedule, run as the built program.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/mount.h>
#endif
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/common/data_dir.h"
#include "app/runs/run_lock.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/system.h"
#include "support/test_support.h"

namespace kzb::test {
namespace {

#ifdef _WIN32

TEST(RunCliTest, RunsThroughAPosixShell) {
  GTEST_SKIP() << "POSIX only: these tests drive kzb through a POSIX shell with Info-ZIP as the oracle; "
                  "kzb.exe is driven the same way from the host by tests/windows/wine_cli_test.sh";
}

#else

namespace fs = std::filesystem;

class RunCliTest : public ::testing::Test {
 protected:
  RunCliTest() {
    fs::create_directories(Data());
    fs::create_directories(Dest());
    WriteFileText(Source() + "readme.txt", "read me\n");
    WriteFileBytes(Source() + "bin/data.bin", RandomBytes(300000, 11));
    WriteFileText(Source() + "docs/deep/er/note.md", std::string(5000, 'n'));
    WriteFileBytes(Source() + "docs/empty.txt", {});
    EXPECT_TRUE(
        platform::SetFileTime(Source() + "readme.txt", platform::DateTime::ParseDateTime("2023-05-06 07:08:09")));
  }

  std::string Data() const { return dir_ / "data/"; }
  std::string Source() const { return dir_ / "src/"; }
  std::string Dest() const { return dir_ / "dest/"; }

  // Runs kzb with the arguments (already quoted where needed) and the data folder; returns the status.
  // prefix goes in front of the program (a program that runs kzb).
  int Kzb(const std::string& args, std::string* output = nullptr, const std::string& prefix = "") {
    std::string text;
    int status = RunCommand(
        prefix + ShellQuote(CliPath()) + " " + args + " --data-dir " + ShellQuote(Data()) + " </dev/null", &text);
    if (output != nullptr) *output = text;
    return status;
  }
  void AddProject(const std::string& name, const std::string& dest, const std::string& extra = "") {
    std::string out;
    ASSERT_EQ(Kzb("add " + name + " --include " + ShellQuote(Source() + "*") + " --dest " + ShellQuote(dest) +
                      " --prefix " + name + " --level 6 " + extra,
                  &out),
              0)
        << out;
  }
  platform::IniFile Ini(const char* file) const { return platform::IniFile(Data() + file); }
  std::vector<std::string> LogStatuses() const {
    platform::IniFile log = Ini("log.txt");
    std::vector<std::string> statuses;
    for (std::int64_t k = 1; k <= log.ReadInteger("Common", "Log Total", 0); ++k) {
      const std::string section = "Log" + std::to_string(k);
      statuses.push_back(log.ReadString(section, "Operate", "") + " " + log.ReadString(section, "Status", ""));
    }
    return statuses;
  }
  static std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchDir dir_;
};

TEST_F(RunCliTest, BackupThreeTimesKeepTwoListAndRestoreTheTree) {
  AddProject("Docs", Dest(), "--keep 2");
  for (int run = 1; run <= 3; ++run) {
    std::string out;
    ASSERT_EQ(Kzb("backup Docs", &out), 0) << out;
    EXPECT_NE(out.find("Backup Files Succeeds!"), std::string::npos) << out;
    EXPECT_NE(out.find("File Name:    'Docs" + std::to_string(run) + ".zip'"), std::string::npos) << out;
  }
  EXPECT_EQ(FilesIn(Dest()), (std::vector<std::string>{"Docs2.zip", "Docs3.zip"}));
  EXPECT_EQ(Ini("project.ini").ReadInteger("Docs", "Value", 0), 3);
  platform::IniFile store = Ini("StoreNumber.txt");
  EXPECT_EQ(store.ReadInteger("Docs", "Max", 0), 2);
  EXPECT_EQ(store.ReadInteger("Docs", "Head", 0), 1);
  EXPECT_EQ(store.ReadString("Docs", "N1", ""), Dest() + "Docs3.zip");
  EXPECT_EQ(store.ReadString("Docs", "N2", ""), Dest() + "Docs2.zip");
  EXPECT_EQ(LogStatuses(), (std::vector<std::string>{"Backup Succeeds", "Backup Succeeds", "Backup Succeeds"}));
  EXPECT_EQ(Ini("log.txt").ReadString("Log3", "Information", "").rfind(Dest() + "Docs3.zip  ", 0), 0u);

  std::string listing;
  ASSERT_EQ(Kzb("archives " + ShellQuote(Dest()) + " --sort name", &listing), 0) << listing;
  EXPECT_NE(listing.find("Docs2.zip"), std::string::npos);
  EXPECT_NE(listing.find("Docs3.zip"), std::string::npos);
  EXPECT_LT(listing.find("Docs2.zip"), listing.find("Docs3.zip"));
  EXPECT_NE(listing.find("(Total 2 files)"), std::string::npos);
  ASSERT_EQ(Kzb("archives " + ShellQuote(Dest()) + " --sort name --descending", &listing), 0);
  EXPECT_GT(listing.find("Docs2.zip"), listing.find("Docs3.zip"));

  std::string entries;
  ASSERT_EQ(Kzb("entries " + ShellQuote(Dest() + "Docs2.zip"), &entries), 0) << entries;
  EXPECT_NE(entries.find("note.md"), std::string::npos);
  EXPECT_NE(entries.find("(Total 4 files)"), std::string::npos);

  const std::string out_dir = dir_ / "restored";
  std::string out;
  ASSERT_EQ(Kzb("restore " + ShellQuote(Dest() + "Docs3.zip") + " --dest " + ShellQuote(out_dir) + " --yes", &out), 0)
      << out;
  EXPECT_NE(out.find("Restore Files Succeeds!"), std::string::npos);
  // Paths are stored in full (without the root), so the tree lands below the destination under them.
  const std::string restored_src = out_dir + Source();
  int compared = 0;
  for (const auto& entry : fs::recursive_directory_iterator(Source())) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = fs::relative(entry.path(), Source()).string();
    const std::string copy = restored_src + relative;
    ASSERT_TRUE(platform::FileExists(copy)) << copy;
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(entry.path().string())) << relative;
    const double seconds =
        std::fabs(platform::GetFileTime(copy).Value() - platform::GetFileTime(entry.path().string()).Value()) * 86400.0;
    EXPECT_LE(seconds, 2.0) << relative;
    ++compared;
  }
  EXPECT_EQ(compared, 4);
  EXPECT_EQ(LogStatuses().back(), "Restore Succeeds");
}

TEST_F(RunCliTest, ExistingArchiveInterruptsWithStatusThree) {
  AddProject("Docs", Dest());
  WriteFileText(Dest() + "Docs1.zip", "in the way");
  std::string out;
  EXPECT_EQ(Kzb("backup Docs", &out), 3);
  EXPECT_NE(out.find(Dest() + "Docs1.zip exists,backup will be interrupted!"), std::string::npos) << out;
  EXPECT_EQ(LogStatuses(), std::vector<std::string>{"Backup Interrupt"});
  EXPECT_EQ(ReadFileText(Dest() + "Docs1.zip"), "in the way");
}

TEST_F(RunCliTest, MissingDestinationFailsCleanly) {
  AddProject("Docs", dir_ / "gone/");
  std::string out;
  EXPECT_EQ(Kzb("backup Docs", &out), 1);
  EXPECT_NE(out.find("does not exist"), std::string::npos) << out;
  EXPECT_NE(out.find(dir_ / "gone/"), std::string::npos) << out;
  EXPECT_EQ(LogStatuses(), std::vector<std::string>{"Backup Fails"});
  EXPECT_EQ(Ini("project.ini").ReadInteger("Docs", "Value", 0), 0);
  EXPECT_FALSE(platform::DirectoryExists(dir_ / "gone"));
}

// A destination on a small file system that fills up during the run.
TEST_F(RunCliTest, FullDiskFailsCleanly) {
  const std::string small = dir_ / "small";
  fs::create_directories(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=128k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount rights); disk-full path covered by "
                    "BackupRunTest.FailedRunLeavesNothingBehind";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount(path.c_str()); }
  } unmount{small};
  AddProject("Docs", small);
  std::string out;
  EXPECT_EQ(Kzb("backup Docs", &out), 1);
  EXPECT_NE(out.find("Not enough room"), std::string::npos) << out;
  EXPECT_NE(out.find("Archive: '" + small + "/Docs1.zip'"), std::string::npos) << out;
  EXPECT_TRUE(FilesIn(small).empty());
  EXPECT_EQ(LogStatuses(), std::vector<std::string>{"Backup Fails"});
  EXPECT_EQ(Ini("project.ini").ReadInteger("Docs", "Value", 0), 0);
}

// The new archive and its folder reach the disk before anything older is deleted: the archive is flushed
// before it gets its name, its folder after, and only then does the archive that left the ring go.
TEST_F(RunCliTest, ArchiveReachesTheDiskBeforeOlderOnesAreDeleted) {
  if (RunCommand("command -v strace >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
  AddProject("Docs", Dest(), "--keep 2");
  std::string out;
  for (int run = 1; run <= 2; ++run) ASSERT_EQ(Kzb("backup Docs", &out), 0) << out;
  const std::string trace = dir_ / "trace.txt";
  // The leak checker of a sanitizer build cannot run under ptrace; the other runs keep it.
  ASSERT_EQ(Kzb("backup Docs", &out,
                "ASAN_OPTIONS=detect_leaks=0 strace -f -y -qq -e signal=none -e "
                "trace=fsync,fdatasync,unlink,unlinkat -o " +
                    ShellQuote(trace) + " "),
            0)
      << out;
  ASSERT_FALSE(platform::FileExists(Dest() + "Docs1.zip")) << "the third run of two kept deletes the first";
  // strace names each descriptor by its real path.
  const std::string folder = fs::canonical(Dest()).string();
  std::size_t line_no = 0, archive_flushed = 0, folder_flushed = 0, deleted = 0;
  std::istringstream lines(ReadFileText(trace));
  for (std::string line; std::getline(lines, line);) {
    ++line_no;
    const bool flush = line.find("fsync(") != std::string::npos || line.find("fdatasync(") != std::string::npos;
    if (flush && line.find("<" + folder + "/kzb") != std::string::npos && archive_flushed == 0) {
      archive_flushed = line_no;
    }
    if (flush && line.find("<" + folder + ">") != std::string::npos && folder_flushed == 0) folder_flushed = line_no;
    if (line.find("unlink") != std::string::npos && line.find("Docs1.zip") != std::string::npos) deleted = line_no;
  }
  ASSERT_NE(deleted, 0u) << ReadFileText(trace);
  EXPECT_NE(archive_flushed, 0u) << ReadFileText(trace);
  EXPECT_LT(archive_flushed, deleted) << ReadFileText(trace);
  EXPECT_NE(folder_flushed, 0u) << ReadFileText(trace);
  EXPECT_LT(folder_flushed, deleted) << ReadFileText(trace);
}

// kzb backup tells by its status what became of the archive, and kzb --help lists the statuses.
TEST_F(RunCliTest, BackupStatusSaysWhatBecameOfTheArchive) {
  std::string out;
  ASSERT_EQ(Kzb("--help", &out), 0);
  EXPECT_NE(out.find("5    backup: the archive was written but files or folders"), std::string::npos) << out;

  ASSERT_EQ(Kzb("add Empty --include " + ShellQuote(Source() + "*.nothing") + " --dest " + ShellQuote(Dest()), &out), 0)
      << out;
  EXPECT_EQ(Kzb("backup Empty", &out), 7) << out;
  EXPECT_NE(out.find("Nothing to back up: the selection matched no file."), std::string::npos) << out;

  AddProject("Docs", Dest());
  fs::create_directories(Data() + "StoreNumber.txt");  // retention cannot write its file
  EXPECT_EQ(Kzb("backup Docs", &out), 6) << out;
  EXPECT_NE(out.find("Backup Files Succeeds!"), std::string::npos) << out;
  EXPECT_NE(out.find("keeping the last 50 archives of project 'Docs' failed"), std::string::npos) << out;
  EXPECT_TRUE(platform::FileExists(Dest() + "Docs1.zip"));
  fs::remove(Data() + "StoreNumber.txt");

  const std::string prefix = WithoutPermissionOverridePrefix();
  if (prefix == "-") GTEST_SKIP() << "cannot drop root's file permission override (no setpriv)";
  WriteFileText(Source() + "locked.txt", "locked");
  ASSERT_EQ(::chmod((Source() + "locked.txt").c_str(), 0), 0);
  EXPECT_EQ(Kzb("backup Docs", &out, prefix), 5) << out;
  EXPECT_NE(out.find("Not backed up (1):\n  " + Source() + "locked.txt (cannot be read)"), std::string::npos) << out;
  EXPECT_TRUE(platform::FileExists(Dest() + "Docs2.zip"));
  EXPECT_EQ(LogStatuses(),
            (std::vector<std::string>{"Backup Interrupt", "Backup Succeeds", "Retention Fails", "Backup Succeeds"}));
}

TEST_F(RunCliTest, ABackupWaitsForAnotherRunAndIsThenRefused) {
  AddProject("Docs", Dest());
  platform::FileLock other(app::BackupRunLockPath(Data()));
  ASSERT_TRUE(other.Held());
  std::string out;
  EXPECT_EQ(Kzb("backup Docs", &out), 1);
  EXPECT_NE(out.find("Another backup or restore is running"), std::string::npos) << out;
  EXPECT_TRUE(FilesIn(Dest()).empty());
}

TEST_F(RunCliTest, ScheduleOnceRunsWhatIsDueAndRefusesBesideTheWindow) {
  AddProject("Daily", Dest(), "--daily 00:00:00");
  AddProject("Never", Dest());
  std::string out;
  ASSERT_EQ(Kzb("schedule --once", &out), 0) << out;
  EXPECT_NE(out.find("Starting backup of project 'Daily'"), std::string::npos) << out;
  EXPECT_NE(out.find("Backup of project 'Daily' succeeded"), std::string::npos) << out;
  EXPECT_EQ(out.find("'Never'"), std::string::npos) << out;
  EXPECT_TRUE(platform::FileExists(Dest() + "Daily1.zip"));

  {
    platform::FileLock window(app::WindowLockPath(Data()));
    EXPECT_EQ(Kzb("schedule --once", &out), 1);
    EXPECT_NE(out.find("window"), std::string::npos) << out;
  }
  {
    platform::FileLock scheduler(app::SchedulerLockPath(Data()));
    EXPECT_EQ(Kzb("schedule --once", &out), 1);
    EXPECT_NE(out.find("Another kzb schedule"), std::string::npos) << out;
  }
  EXPECT_FALSE(platform::FileExists(Dest() + "Daily2.zip"));
}

TEST_F(RunCliTest, ScheduleRunsUntilItIsAskedToStop) {
  AddProject("Daily", Dest(), "--daily 00:00:00");
  std::string out;
  // Stopped as soon as it has said that it started (its signal handlers are in place by then), however
  // slowly it starts on this machine.
  const std::string log = dir_ / "schedule.out";
  const std::string command = ShellQuote(CliPath()) + " schedule --data-dir " + ShellQuote(Data()) + " >" +
                              ShellQuote(log) + " 2>&1 & pid=$!; i=0; until grep -q 'Scheduler started' " +
                              ShellQuote(log) + " || [ $i -ge 600 ]; do sleep 0.1; i=$((i+1)); done; " +
                              "kill -TERM $pid; wait $pid; status=$?; cat " + ShellQuote(log) + "; exit $status";
  ASSERT_EQ(RunCommand(command, &out), 0) << out;
  EXPECT_NE(out.find("Scheduler started"), std::string::npos) << out;
  EXPECT_NE(out.find("Daily: next run"), std::string::npos) << out;
  EXPECT_NE(out.find("Scheduler stopped"), std::string::npos) << out;
  // The first tick comes a full period after the start, so nothing ran.
  EXPECT_TRUE(FilesIn(Dest()).empty());
}

TEST_F(RunCliTest, RestoreWithAWrongPasswordFails) {
  AddProject("Secret", Dest(), "--password right");
  ASSERT_EQ(Kzb("backup Secret"), 0);
  std::string out;
  EXPECT_EQ(Kzb("restore " + ShellQuote(Dest() + "Secret1.zip") + " --dest " + ShellQuote(dir_ / "out") +
                    " --password wrong --yes",
                &out),
            1);
  EXPECT_NE(out.find("The password is incorrect"), std::string::npos) << out;
  EXPECT_NE(out.find("Restore files fails!"), std::string::npos) << out;
  EXPECT_EQ(LogStatuses().back(), "Restore Fails");
}

TEST_F(RunCliTest, UsageAndLookupErrors) {
  EXPECT_EQ(Kzb("archives"), 2);
  EXPECT_EQ(Kzb("archives " + ShellQuote(Dest()) + " --sort colour"), 2);
  EXPECT_EQ(Kzb("restore " + ShellQuote(Dest() + "x.zip")), 2);  // --dest missing
  std::string out;
  EXPECT_EQ(Kzb("backup Nobody", &out), 1);
  EXPECT_NE(out.find("Project 'Nobody' not found"), std::string::npos) << out;
  EXPECT_EQ(Kzb("archives " + ShellQuote(dir_ / "missing"), &out), 1);
  EXPECT_EQ(Kzb("entries " + ShellQuote(dir_ / "missing.zip"), &out), 1);
  ASSERT_EQ(Kzb("archives " + ShellQuote(Dest()), &out), 0);
  EXPECT_NE(out.find("(Total 0 files)"), std::string::npos);
}

#endif  // _WIN32

}  // namespace
}  // namespace kzb::test
