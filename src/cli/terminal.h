// What kzb does with the terminal: Ctrl-C turned into a cancel request that the engine's progress hooks
// act on, passwords read without echo, and the one-line progress display.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace kzb::cli {

// ---- Ctrl-C -------------------------------------------------------------------------------------------

// From here on, SIGINT and SIGTERM only set the cancel request; the engine notices it at its next progress
// hook (ThrowIfInterrupted), ends the run through its error path (temporary files removed, a replaced
// archive put back) and the command ends with kExitCancelled. A second Ctrl-C ends the program at once.
void CatchInterrupts();
bool Interrupted();
// Throws the engine's EUserCanceled once a cancel was requested.
void ThrowIfInterrupted();

// ---- Passwords ----------------------------------------------------------------------------------------

bool StdinIsTerminal();
// Prints prompt on standard error and reads one line from the terminal without echo; false at end of
// input.
bool ReadHiddenLine(const std::string& prompt, std::string& line);

// ---- Progress -----------------------------------------------------------------------------------------

// One line on standard error, redrawn a few times a second while work goes on and erased by Finish():
// percent, bytes done of the total, rate, time left and the current file. Draws nothing unless enabled
// (standard error is a terminal and --quiet was not given).
class ProgressLine {
 public:
  explicit ProgressLine(bool enabled);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  bool Enabled() const { return enabled_; }
  void SetTotal(std::int64_t bytes) { total_ = bytes; }
  void SetFile(const std::string& name);
  void SetPercent(int percent);
  // Erases the line (nothing is left of it on the terminal).
  void Finish();

 private:
  void Draw(bool force);

  bool enabled_;
  bool drawn_ = false;
  std::int64_t total_ = 0;
  int percent_ = 0;
  std::string file_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
};

// "12.3 MiB", "512 B": a byte count for people.
std::string HumanBytes(std::int64_t bytes);

}  // namespace kzb::cli
