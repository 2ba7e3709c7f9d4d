// Small helpers shared by the test programs: scratch folders, file bytes, peer tools, fixtures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kzb::test {

// A fresh folder under the temporary folder, removed with everything in it when the object dies.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  // The folder with a trailing "/".
  const std::string& Path() const { return path_; }
  // Path() + relative.
  std::string operator/(const std::string& relative) const { return path_ + relative; }

 private:
  std::string path_;
};

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
// Creates missing parent folders.
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteFileText(const std::string& path, const std::string& text);

// Runs a shell command; returns its exit status and fills output with stdout and stderr combined.
int RunCommand(const std::string& command, std::string* output = nullptr);
// True when the program is on PATH.
bool HaveTool(const std::string& program);
// Quotes a string for the shell.
std::string ShellQuote(const std::string& text);

// The shared fixtures folder with a trailing "/", or "" when it is absent (tests then GTEST_SKIP).
std::string FixturesDir();
// Path of the kzb program built with this tree.
std::string CliPath();

// Deterministic pseudo-random bytes.
std::vector<std::uint8_t> RandomBytes(std::size_t count, std::uint32_t seed);

}  // namespace kzb::test
