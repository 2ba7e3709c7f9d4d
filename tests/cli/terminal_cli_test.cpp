// kzb as a command-line tool: global options in either place, passwords kept off the command line,
// the progress line on a terminal only, Ctrl-C, settings, --json listings and --on-failure. Terminals
// are made with script(1); Ctrl-C is a SIGINT sent to a running backup.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>
#endif

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "support/test_support.h"

namespace kzb::test {
namespace {

#ifdef _WIN32

TEST(TerminalCliTest, RunsThroughAPosixShell) {
  GTEST_SKIP() << "POSIX only: terminals are made with script(1) and Ctrl-C is a POSIX signal";
}

#else

namespace fs = std::filesystem;
using Json = nlohmann::json;

class TerminalCliTest : public ::testing::Test {
 protected:
  TerminalCliTest() {
    fs::create_directories(Data());
    fs::create_directories(Dest());
    WriteFileText(Source() + "readme.txt", "read me\n");
    WriteFileBytes(Source() + "bin/data.bin", RandomBytes(200000, 5));
  }
  std::string Data() const { return dir_ / "data/"; }
  std::string Source() const { return dir_ / "src/"; }
  std::string Dest() const { return dir_ / "dest/"; }
  std::string Kzb() const { return ShellQuote(CliPath()); }
  // kzb with the arguments, no terminal; stdout and stderr together.
  int Run(const std::string& args, std::string* output = nullptr, const std::string& env = "") {
    std::string text;
    const int status = RunCommand(env + " " + Kzb() + " " + args + " </dev/null", &text);
    if (output != nullptr) *output = text;
    return status;
  }
  // kzb on a terminal (script(1)), input typed as given and not echoed by script itself.
  int RunOnTerminal(const std::string& args, const std::string& input, std::string* output) {
    const std::string inner = Kzb() + " " + args;
    return RunCommand("printf " + ShellQuote(input) + " | script -E never -qec " + ShellQuote(inner) + " /dev/null",
                      output);
  }
  void AddProject(const std::string& name, const std::string& extra = "") {
    std::string out;
    ASSERT_EQ(Run("--data-dir " + ShellQuote(Data()) + " add " + name + " --include " + ShellQuote(Source() + "*") +
                      " --dest " + ShellQuote(Dest()) + " --prefix " + name + " " + extra,
                  &out),
              0)
        << out;
  }
  static Json ParseJson(const std::string& text) {
    Json document = Json::parse(text, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << text;
    return document;
  }

  ScratchDir dir_;
};

TEST_F(TerminalCliTest, GlobalOptionsStandBeforeOrAfterTheCommand) {
  AddProject("Docs");
  const std::string data = ShellQuote(Data());
  for (const std::string& args : {"--data-dir " + data + " projects", "projects --data-dir " + data,
                                  "-q --data-dir " + data + " show Docs", "show Docs --quiet --data-dir " + data}) {
    std::string out;
    EXPECT_EQ(Run(args, &out), 0) << args << "\n" << out;
    EXPECT_NE(out.find("Docs"), std::string::npos) << args << "\n" << out;
  }
  std::string help;
  ASSERT_EQ(Run("--help", &help), 0);
  for (const char* text : {"Exit status:", "130", "KZB_PASSWORD", "--password-file"}) {
    EXPECT_NE(help.find(text), std::string::npos) << text;
  }
}

TEST_F(TerminalCliTest, PasswordsFromAFileTheEnvironmentOrAHiddenPrompt) {
  const std::string archive = Dest() + "enc.zip";
  const std::string secret_file = dir_ / "secret";
  WriteFileText(secret_file, "Geheim 7\n");
  std::string out;
  ASSERT_EQ(Run("pack " + ShellQuote(archive) + " " + ShellQuote(Source() + "readme.txt") +
                    " --encryption aes256 --password-file " + ShellQuote(secret_file),
                &out),
            0)
      << out;
  struct Case {
    std::string args;
    std::string env;
    int status;
  };
  const Case cases[] = {
      {"test " + ShellQuote(archive), "KZB_PASSWORD='Geheim 7'", 0},
      {"--password-file " + ShellQuote(secret_file) + " test " + ShellQuote(archive), "", 0},
      {"test " + ShellQuote(archive) + " --password 'Geheim 7'", "KZB_PASSWORD=wrong", 0},  // the option wins
      {"test " + ShellQuote(archive), "KZB_PASSWORD=wrong", 1},
      {"test " + ShellQuote(archive), "", 1},  // no terminal to ask
      {"test " + ShellQuote(archive) + " --password-file /nonexistent/file", "", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.args, &out, c.env), c.status) << c.env << " " << c.args << "\n" << out;
  }

  // On a terminal the password is asked for and not shown.
  ASSERT_EQ(RunOnTerminal("test " + ShellQuote(archive), "Geheim 7\n", &out), 0) << out;
  EXPECT_NE(out.find("Password:"), std::string::npos) << out;
  EXPECT_EQ(out.find("Geheim"), std::string::npos) << out;
  EXPECT_NE(out.find("All 1 entry OK"), std::string::npos) << out;

  // A project's password is asked twice; two different answers change nothing.
  AddProject("Docs");
  const std::string data = ShellQuote(Data());
  EXPECT_EQ(RunOnTerminal("--data-dir " + data + " edit Docs --ask-password", "one\ntwo\n", &out), 1) << out;
  EXPECT_NE(out.find("differ"), std::string::npos) << out;
  ASSERT_EQ(RunOnTerminal("--data-dir " + data + " edit Docs --ask-password", "same pw\nsame pw\n", &out), 0) << out;
  EXPECT_EQ(out.find("same pw"), std::string::npos) << out;
  ASSERT_EQ(Run("--data-dir " + data + " show Docs --json", &out), 0) << out;
  EXPECT_EQ(ParseJson(out)["password_set"], true) << out;
  EXPECT_EQ(Run("--data-dir " + data + " edit Docs --ask-password", &out), 1) << out;  // nothing to ask with
}

TEST_F(TerminalCliTest, ProgressLineOnlyOnATerminalAndErasedAtTheEnd) {
  const std::string archive = ShellQuote(Dest() + "p.zip");
  const std::string source = ShellQuote(Source());
  struct Case {
    std::string args;
    bool terminal;
    bool progress;
  };
  const Case cases[] = {
      {"pack " + archive + " " + source + " --recurse", true, true},
      {"test " + archive, true, true},
      {"extract " + archive + " --dest " + ShellQuote(dir_ / "x1"), true, true},
      {"--quiet test " + archive, true, false},
      {"test " + archive, false, false},
  };
  for (const Case& c : cases) {
    std::string out;
    const int status = c.terminal ? RunOnTerminal(c.args, "", &out) : Run(c.args, &out);
    ASSERT_EQ(status, 0) << c.args << "\n" << out;
    const std::size_t erase = out.rfind("\r\033[K");
    if (c.progress) {
      EXPECT_NE(out.find("%"), std::string::npos) << c.args;
      ASSERT_NE(erase, std::string::npos) << c.args;
      // The erase comes before the closing summary: nothing of the line stays.
      EXPECT_EQ(out.find('%', erase), std::string::npos) << c.args << "\n" << out;
    } else {
      EXPECT_EQ(erase, std::string::npos) << c.args << "\n" << out;
    }
  }
}

// Ctrl-C during a backup that replaces an archive: status 130, the old archive is left byte for byte,
// no temporary file stays, and the running number is not advanced.
TEST_F(TerminalCliTest, CtrlCCancelsABackupAndLeavesThePreviousArchive) {
  WriteFileBytes(Source() + "bin/big.bin", RandomBytes(16 * 1000 * 1000, 9));
  AddProject("Docs", "--level 9 --next 1");
  const std::string data = ShellQuote(Data());
  std::string out;
  ASSERT_EQ(Run("--data-dir " + data + " settings --existing overwrite", &out), 0) << out;
  ASSERT_EQ(Run("--data-dir " + data + " backup Docs", &out), 0) << out;
  ASSERT_EQ(Run("--data-dir " + data + " edit Docs --next 1", &out), 0) << out;
  const std::vector<std::uint8_t> before = ReadFileBytes(Dest() + "Docs1.zip");
  const std::int64_t number = platform::IniFile(Data() + "project.ini").ReadInteger("Docs", "Value", -1);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string data_dir = Data();
    const std::string program = CliPath();
    execl(program.c_str(), program.c_str(), "--data-dir", data_dir.c_str(), "backup", "Docs",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait until the new archive is being written (a temporary file appears beside the set-aside one).
  bool writing = false;
  for (int i = 0; i < 600 && !writing; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (const auto& entry : fs::directory_iterator(Dest())) {
      const std::string name = entry.path().filename().string();
      if (name.size() > 4 && name.substr(name.size() - 4) == ".tmp" && entry.file_size() > 0 &&
          name.find(".old-") == std::string::npos) {
        writing = true;
      }
    }
  }
  ASSERT_TRUE(writing);
  kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Dest())) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"Docs1.zip"});
  EXPECT_EQ(ReadFileBytes(Dest() + "Docs1.zip"), before);
  EXPECT_EQ(platform::IniFile(Data() + "project.ini").ReadInteger("Docs", "Value", -1), number);
}

TEST_F(TerminalCliTest, SettingsShowAndChangeSectionCommonAndTheAutostartEntry) {
  AddProject("Docs");
  const std::string data = ShellQuote(Data());
  const std::string env = "XDG_CONFIG_HOME=" + ShellQuote(dir_ / "config");
  std::string out;
  ASSERT_EQ(Run("--data-dir " + data + " settings --json", &out, env), 0) << out;
  Json shown = ParseJson(out);
  EXPECT_EQ(shown["existing_archive"], "skip");
  EXPECT_EQ(shown["scheduling"], true);
  EXPECT_EQ(shown["threads"], 0);

  EXPECT_EQ(Run("--data-dir " + data + " settings --start-minimized on", &out, env), 1) << out;
  EXPECT_EQ(Run("--data-dir " + data + " settings --log-count 5", &out, env), 2) << out;
  ASSERT_EQ(Run("--data-dir " + data +
                    " settings --start-with-system on --start-minimized on --scheduling off --pad-number on"
                    " --number-width 4 --existing overwrite --log-count 20 --sort size --descending on"
                    " --prompt-before-backup on --threads 3",
                &out, env),
            0)
      << out;
  platform::IniFile ini(Data() + "project.ini");
  const std::pair<const char*, const char*> keys[] = {
      {"Auto Run", "1"}, {"Is Minimized", "1"},       {"Enable schedule", "0"}, {"Is Append 0", "1"},
      {"Width", "4"},    {"IsOverWrite", "1"},        {"Log Count", "20"},      {"By Field", "1"},
      {"Sort", "1"},     {"PromptBeforeBackup", "1"}, {"Count0", "Docs"},       {"Threads", "3"},
  };
  for (const auto& [key, value] : keys) EXPECT_EQ(ini.ReadString("Common", key, "?"), value) << key;
  const std::string entry = dir_ / "config/autostart/kestrova-zip-backup.desktop";
  ASSERT_TRUE(platform::FileExists(entry));
  EXPECT_NE(ReadFileText(entry).find("Exec="), std::string::npos);

  ASSERT_EQ(Run("--data-dir " + data + " settings --start-with-system off", &out, env), 0) << out;
  EXPECT_FALSE(platform::FileExists(entry));
  EXPECT_EQ(ini.ReadString("Common", "Is Minimized", "?"), "0");
}

TEST_F(TerminalCliTest, JsonDocumentsOfTheListings) {
  AddProject("Docs", "--daily 08:00:00");
  const std::string data = "--data-dir " + ShellQuote(Data()) + " ";
  std::string out;
  ASSERT_EQ(Run(data + "backup Docs", &out), 0) << out;
  const std::string archive = ShellQuote(Dest() + "Docs1.zip");
  struct Case {
    std::string args;
    std::vector<std::string> fields;
  };
  const Case cases[] = {
      {"projects --json", {"projects"}},
      {"show Docs --json", {"name", "include", "schedule", "password_set", "level"}},
      {"log --json", {"entries"}},
      {"archives " + ShellQuote(Dest()) + " --json", {"folder", "archives", "count"}},
      {"entries " + archive + " --json", {"archive", "entries", "count", "damaged"}},
      {"list " + archive + " --json", {"archive", "entries", "count", "size", "damaged", "problems"}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Run(data + c.args, &out), 0) << c.args << "\n" << out;
    const Json document = ParseJson(out);
    for (const std::string& field : c.fields) EXPECT_TRUE(document.contains(field)) << c.args << ": " << field;
  }
  ASSERT_EQ(Run(data + "projects --json", &out), 0);
  const Json projects = ParseJson(out)["projects"];
  ASSERT_EQ(projects.size(), 1u);
  EXPECT_EQ(projects[0]["name"], "Docs");
  EXPECT_EQ(projects[0]["schedule"], "daily at 08:00:00");
  ASSERT_EQ(Run(data + "list " + archive + " --json", &out), 0);
  const Json listing = ParseJson(out);
  EXPECT_EQ(listing["count"], 2);
  EXPECT_EQ(listing["damaged"], false);
  ASSERT_EQ(Run(data + "log --json", &out), 0);
  EXPECT_EQ(ParseJson(out)["entries"][0]["status"], "Succeeds");
}

// --on-failure runs its command with the project name and the message; a successful run calls nothing.
TEST_F(TerminalCliTest, OnFailureCommandGetsTheProjectAndTheMessage) {
  const std::string data = "--data-dir " + ShellQuote(Data()) + " ";
  const std::string record = dir_ / "failures.txt";
  const std::string hook = ShellQuote("printf '%s|%s\\n' >>" + ShellQuote(record));
  AddProject("Good");
  std::string out;
  ASSERT_EQ(Run(data + "add Bad --include " + ShellQuote(Source() + "*") + " --dest " +
                    ShellQuote(dir_ / "missing-folder") + " --prefix Bad --daily 00:00:01",
                &out),
            0)
      << out;
  struct Case {
    std::string args;
    int status;
  };
  const Case cases[] = {
      {"backup Good --on-failure " + hook, 0},
      {"backup Bad --on-failure " + hook, 1},
      {"backup Nobody --on-failure " + hook, 1},
      {"schedule --once --on-failure " + hook, 1},  // Bad is due since midnight
  };
  for (const Case& c : cases) EXPECT_EQ(Run(data + c.args, &out), c.status) << c.args << "\n" << out;
  const std::string lines = ReadFileText(record);
  EXPECT_EQ(lines.find("Good|"), std::string::npos) << lines;
  const std::size_t first = lines.find("Bad|Cannot create the archive");
  EXPECT_NE(first, std::string::npos) << lines;
  EXPECT_NE(lines.find("Bad|Cannot create the archive", first + 1), std::string::npos) << lines;  // schedule
  EXPECT_NE(lines.find("Nobody|Project 'Nobody' not found"), std::string::npos) << lines;
}

#endif

}  // namespace
}  // namespace kzb::test
