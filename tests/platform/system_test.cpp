#include "platform/system.h"

#include <gtest/gtest.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#ifndef _WIN32
#include <sys/stat.h>
#endif
#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <thread>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/file_system.h"
#include "support/test_support.h"

namespace kzb::platform {
namespace {

using kzb::test::ReadFileText;
using kzb::test::ScratchDir;
using kzb::test::WriteFileText;

#ifndef _WIN32
// Runs fn in a child process and returns its exit code.
template <typename Fn>
int InChild(Fn fn) {
  pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};
#endif

TEST(FileLockTest, HeldAcrossProcesses) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: fork (the Windows test starts a second process of its own)";
#else
  ScratchDir dir;
  const std::string path = dir / "run.lock";
  {
    FileLock lock(path);
    ASSERT_TRUE(lock.Held());
    EXPECT_EQ(lock.Path(), path);
    EXPECT_FALSE(IsLockedByOtherProcess(path));  // our own lock
    EXPECT_EQ(InChild([&] {
                FileLock other(path);
                if (other.Held()) return 1;
                if (!IsLockedByOtherProcess(path)) return 2;
                FileLock waited(path, 100);  // times out
                return waited.Held() ? 3 : 0;
              }),
              0);
    // A second lock in the same process is refused as well: one run at a time.
    FileLock second(path);
    EXPECT_FALSE(second.Held());
  }
  EXPECT_EQ(InChild([&] {
              if (IsLockedByOtherProcess(path)) return 1;
              FileLock other(path);
              return other.Held() ? 0 : 2;
            }),
            0);
#endif
}

TEST(FileLockTest, ReleasedWhenTheHolderDies) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: fork (the Windows test starts a second process of its own)";
#else
  ScratchDir dir;
  const std::string path = dir / "instance.lock";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  if (pid == 0) {
    FileLock lock(path);
    char c = lock.Held() ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_TRUE(IsLockedByOtherProcess(path));
  EXPECT_FALSE(FileLock(path).Held());
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_FALSE(IsLockedByOtherProcess(path));
  EXPECT_TRUE(FileLock(path).Held());
  close(ready[0]);
  close(ready[1]);
#endif
}

TEST(FileLockTest, WaitsForARelease) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: fork (the Windows test starts a second process of its own)";
#else
  ScratchDir dir;
  const std::string path = dir / "wait.lock";
  pid_t pid = fork();
  if (pid == 0) {
    FileLock lock(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    _exit(0);
  }
  // Give the child time to take it.
  for (int i = 0; i < 200 && !IsLockedByOtherProcess(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  FileLock lock(path, 5000);
  EXPECT_TRUE(lock.Held());
  waitpid(pid, nullptr, 0);
#endif
}

TEST(FileLockTest, MissingFolderAndMissingFile) {
  ScratchDir dir;
  FileLock missing(dir / "no/such/dir.lock");
  EXPECT_FALSE(missing.Held());
  // Not another holder: the cause is said.
  const std::string expected = "Cannot open file \"" + dir / "no/such/dir.lock" + "\". ";
#ifdef _WIN32
  // The system's own words follow; they differ between Windows versions.
  EXPECT_EQ(missing.Failure().rfind(expected, 0), 0u) << missing.Failure();
#else
  EXPECT_EQ(missing.Failure(), expected + "No such file or directory");
#endif
  EXPECT_FALSE(IsLockedByOtherProcess(dir / "never.lock"));
  EXPECT_FALSE(FileExists(dir / "never.lock"));  // probing does not create it
}

TEST(OpenWithDefaultProgramTest, StartsTheLauncherWithoutAShell) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: xdg-open";
#else
  ScratchDir dir;
  const std::string out = dir / "args.txt";
  const std::string script = dir / "bin/xdg-open";
  WriteFileText(script, "#!/bin/sh\nprintf '%s' \"$1\" > '" + out + ".part' && mv '" + out + ".part' '" + out + "'\n");
  chmod(script.c_str(), 0755);
  ScopedEnv path("PATH", dir / "bin" + ":/usr/bin:/bin");
  const std::string odd = dir / "a file; $(touch pwned) 'q'.zip";
  ASSERT_TRUE(OpenWithDefaultProgram(odd));
  for (int i = 0; i < 500 && !FileExists(out); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(FileExists(out));
  EXPECT_EQ(ReadFileText(out), odd);
  EXPECT_FALSE(FileExists(dir / "pwned"));
  EXPECT_FALSE(FileExists("pwned"));
#endif
}

TEST(OpenWithDefaultProgramTest, NoLauncherIsReported) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: xdg-open";
#else
  ScratchDir dir;
  ScopedEnv path("PATH", dir.Path());
  EXPECT_FALSE(OpenWithDefaultProgram("/tmp/x.zip"));
  EXPECT_FALSE(OpenWithDefaultProgram(""));
#endif
}

TEST(ThreadPriorityTest, LowersTheCallingThreadOnly) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: nice values";
#else
  int before = getpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()));
  int seen = -100;
  bool ok = false;
  std::thread worker([&] {
    ok = SetThreadPriority(CurrentThreadId(), 0);  // idle
    seen = getpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()));
  });
  worker.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(seen, 19);
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId())), before);
#endif
}

TEST(AutostartTest, WriteAndRemoveEntry) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: XDG autostart entries (Windows uses the Run key of the registry, tested there)";
#else
  ScratchDir dir;
  ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
  const std::string name = "Kestrova Veririvi Backup";
  EXPECT_FALSE(IsAutostartEnabled(name));
  ASSERT_TRUE(SetAutostart(name, "/opt/kzb/kzb-gui --minimized", true));
  const std::string file = dir / "config/autostart/Kestrova Veririvi Backup.desktop";
  ASSERT_TRUE(FileExists(file));
  const std::string text = ReadFileText(file);
  EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(text.find("Type=Application\n"), std::string::npos);
  EXPECT_NE(text.find("Exec=/opt/kzb/kzb-gui --minimized\n"), std::string::npos);
  EXPECT_TRUE(IsAutostartEnabled(name));
  // An entry the desktop has switched off counts as off.
  WriteFileText(file, "[Desktop Entry]\nExec=x\nHidden=true\n");
  EXPECT_FALSE(IsAutostartEnabled(name));
  ASSERT_TRUE(SetAutostart(name, "", false));
  EXPECT_FALSE(FileExists(file));
  EXPECT_TRUE(SetAutostart(name, "", false));  // already off
#endif
}

}  // namespace
}  // namespace kzb::platform
