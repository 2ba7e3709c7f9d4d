#include "support/test_support.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace kzb::test {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::string templ = (fs::temp_directory_path() / "kzb-test-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ + "/";
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Restore write permission on anything a test made read-only so that removal works.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadFileText(const std::string& path) {
  auto bytes = ReadFileBytes(path);
  return {bytes.begin(), bytes.end()};
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFileText(const std::string& path, const std::string& text) {
  WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

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

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

std::string FixturesDir() {
  fs::path dir = fs::path(KZB_SHARED_DIR) / "fixtures";
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return "";
  return fs::canonical(dir).string() + "/";
}

std::string CliPath() { return KZB_CLI_PATH; }

std::vector<std::uint8_t> RandomBytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
  return bytes;
}

}  // namespace kzb::test
