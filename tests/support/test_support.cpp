#include "support/test_support.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/fs_path.h"
#include "platform/path.h"

#ifdef _WIN32
#include "platform/system.h"
#include "platform/windows/win_util.h"
#else
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kzb::test {

namespace fs = std::filesystem;

#ifndef _WIN32
namespace {

// The capabilities that let root read, write and search past permission bits (bits of the first word).
constexpr std::uint32_t kOverrideCapabilities = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

bool GetCapabilities(__user_cap_data_struct (&data)[2]) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(SYS_capget, &header, data) == 0;
}

bool SetCapabilities(__user_cap_data_struct (&data)[2]) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

WithoutPermissionOverride::WithoutPermissionOverride() {
  __user_cap_data_struct data[2] = {};
  if (!GetCapabilities(data)) return;
  saved_effective_ = data[0].effective;
  if ((saved_effective_ & kOverrideCapabilities) == 0) {
    active_ = true;
    return;
  }
  data[0].effective &= ~kOverrideCapabilities;
  active_ = restore_ = SetCapabilities(data);
}

WithoutPermissionOverride::~WithoutPermissionOverride() {
  if (!restore_) return;
  __user_cap_data_struct data[2] = {};
  if (!GetCapabilities(data)) return;
  data[0].effective = saved_effective_;
  (void)SetCapabilities(data);  // still in the permitted set: taking them back cannot fail
}

std::string WithoutPermissionOverridePrefix() {
  if (geteuid() != 0) return "";
  if (!HaveTool("setpriv")) return "-";
  return "setpriv --bounding-set=-dac_override,-dac_read_search -- ";
}

int EndedProcessId() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  int status = 0;
  waitpid(pid, &status, 0);
  return static_cast<int>(pid);
}
#else
// Windows permission tests are not written in mode bits; those tests skip.
WithoutPermissionOverride::WithoutPermissionOverride() = default;
WithoutPermissionOverride::~WithoutPermissionOverride() = default;

std::string WithoutPermissionOverridePrefix() {
  return "-";
}

int EndedProcessId() {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  wchar_t command[] = L"cmd.exe /c exit 0";
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &process)) {
    throw std::runtime_error("cannot start a process");
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(process.dwProcessId);
}
#endif

ScratchDir::ScratchDir() {
#ifdef _WIN32
  std::mt19937 gen(std::random_device{}() ^ GetCurrentProcessId());
  for (int attempt = 0;; ++attempt) {
    const std::string dir = platform::TempDir() + "kzb-test-" + std::to_string(gen() % 1000000000u);
    if (CreateDirectoryW(platform::win::WinPath(dir).c_str(), nullptr)) {
      path_ = dir + platform::kPathSeparator;
      break;
    }
    if (attempt > 100) throw std::runtime_error("cannot create a scratch folder");
  }
#else
  std::string templ = (fs::temp_directory_path() / "kzb-test-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ + "/";
#endif
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Restore write permission on anything a test made read-only so that removal works.
  for (auto it = fs::recursive_directory_iterator(platform::FsPath(path_), ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
#ifdef _WIN32
    SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
  }
  fs::remove_all(platform::FsPath(path_), ec);
}

std::string ScratchDir::operator/(const std::string& relative) const {
  return path_ + platform::ToNativeSeparators(relative);
}

std::string Native(const std::string& slash_path) {
  return platform::ToNativeSeparators(slash_path);
}

std::vector<std::string> Native(std::vector<std::string> slash_paths) {
  for (std::string& path : slash_paths) path = Native(path);
  return slash_paths;
}

std::map<std::string, std::vector<std::uint8_t>> ReadTree(const std::string& folder) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  const fs::path root = platform::FsPath(folder);
  if (!fs::exists(root)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::u8string relative = fs::relative(entry.path(), root).generic_u8string();
    files[std::string(relative.begin(), relative.end())] = ReadFileBytes(platform::FromFsPath(entry.path()));
  }
  return files;
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(platform::FsPath(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadFileText(const std::string& path) {
  auto bytes = ReadFileBytes(path);
  return {bytes.begin(), bytes.end()};
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const fs::path p = platform::FsPath(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFileText(const std::string& path, const std::string& text) {
  WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

#ifdef _WIN32

// The peer tools and the shell are programs of the host; a Windows test program has neither, so the tests
// that need them skip (HaveTool) and the Windows programs are checked against them from the host side.
int RunCommand(const std::string& /*command*/, std::string* output) {
  if (output != nullptr) *output = "no POSIX shell for a Windows test program";
  return -1;
}

bool HaveTool(const std::string& /*program*/) {
  return false;
}

std::string MissingTools(const std::string& programs) {
  return programs +
         ": host programs, which a Windows test program cannot start (tests/windows/wine_cli_test.sh "
         "checks kzb.exe's archives with them from the host)";
}

#else

int RunCommand(const std::string& command, std::string* output) {
  std::string full = command + " 2>&1";
  FILE* pipe = popen(full.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::array<char, 4096> buffer{};
  std::string text;
  std::size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) text.append(buffer.data(), n);
  int status = pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& program) {
  return RunCommand("command -v " + ShellQuote(program) + " >/dev/null") == 0;
}

std::string MissingTools(const std::string& programs) {
  return programs + " not installed";
}

#endif

std::string Numbered(const std::string& prefix, long long number) {
  std::string text = prefix;
  text += std::to_string(number);
  return text;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

void SetEnv(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

void UnsetEnv(const std::string& name) {
#ifdef _WIN32
  _putenv_s(name.c_str(), "");
#else
  unsetenv(name.c_str());
#endif
}

std::string DefaultArchiveFolder() {
#ifdef _WIN32
  return "c:\\";
#else
  return platform::HomeDir();
#endif
}

std::string FixturesDir() {
  fs::path dir = platform::FsPath(KZB_SHARED_DIR) / "fixtures";
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return "";
  return platform::IncludeTrailingSeparator(platform::FromFsPath(fs::canonical(dir)));
}

std::string CliPath() {
  return KZB_CLI_PATH;
}

#ifdef _WIN32

namespace {

constexpr char kHoldLockVariable[] = "KZB_TEST_HOLD_LOCK";

// A test program started with KZB_TEST_HOLD_LOCK set is the lock holder of OtherProcessLock: it takes the
// lock before any test runs, says "y" or "n" on its standard output, and ends when its input closes.
struct LockHolderMode {
  LockHolderMode() {
    const char* path = std::getenv(kHoldLockVariable);
    if (path == nullptr || *path == '\0') return;
    {
      platform::FileLock lock(path);
      std::fputc(lock.Held() ? 'y' : 'n', stdout);
      std::fflush(stdout);
      char c;
      while (std::fread(&c, 1, 1, stdin) == 1) {
      }
    }
    ExitProcess(0);
  }
} lock_holder_mode;

}  // namespace

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

OtherProcessLock::OtherProcessLock(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out_read = nullptr, out_write = nullptr, in_read = nullptr, in_write = nullptr;
  if (!CreatePipe(&out_read, &out_write, &inherit, 0)) return;
  if (!CreatePipe(&in_read, &in_write, &inherit, 0)) {
    CloseHandle(out_read);
    CloseHandle(out_write);
    return;
  }
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in_read;
  startup.hStdOutput = out_write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  std::wstring command = L"\"" + platform::win::Widen(platform::ExecutablePath()) + L"\" --gtest_list_tests";
  SetEnv(kHoldLockVariable, path);
  const BOOL started =
      CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
  UnsetEnv(kHoldLockVariable);
  CloseHandle(out_write);
  CloseHandle(in_read);
  if (!started) {
    CloseHandle(out_read);
    CloseHandle(in_write);
    return;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  release_ = in_write;
  char c = 'n';
  DWORD got = 0;
  held_ = ReadFile(out_read, &c, 1, &got, nullptr) && got == 1 && c == 'y';
  CloseHandle(out_read);
}

OtherProcessLock::~OtherProcessLock() {
  if (release_ != nullptr) CloseHandle(static_cast<HANDLE>(release_));
  if (process_ != nullptr) {
    WaitForSingleObject(static_cast<HANDLE>(process_), 30000);
    CloseHandle(static_cast<HANDLE>(process_));
  }
}

#endif

std::vector<std::uint8_t> RandomBytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
  return bytes;
}

}  // namespace kzb::test
