#include "cli/terminal.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "zip/zip_errors.h"

namespace kzb::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int signal) {
  if (g_interrupted != 0) {
    // The second request: the user does not want to wait for the run to wind down.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  g_interrupted = 1;
  std::signal(signal, OnInterrupt);
}

bool IsTerminal(int fd) {
#ifdef _WIN32
  return _isatty(fd) != 0;
#else
  return isatty(fd) != 0;
#endif
}

int TerminalColumns() {
#ifndef _WIN32
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
#endif
  return 80;
}

std::string Clock(std::int64_t seconds) {
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

// How often the line is redrawn: often enough to look alive, seldom enough to cost nothing.
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);

}  // namespace

void CatchInterrupts() {
  g_interrupted = 0;
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

bool Interrupted() {
  return g_interrupted != 0;
}

void ThrowIfInterrupted() {
  if (Interrupted()) throw zip::EUserCanceled("User canceled Zip operation");
}

bool StdinIsTerminal() {
  return IsTerminal(0);
}

bool ReadHiddenLine(const std::string& prompt, std::string& line) {
  std::cerr << prompt << std::flush;
#ifdef _WIN32
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  const bool console = GetConsoleMode(input, &mode) != 0;
  if (console) SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (console) SetConsoleMode(input, mode);
#else
  termios saved{};
  const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (terminal) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
#endif
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return read;
}

std::string HumanBytes(std::int64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024.0;
  int unit = 0;
  while (value >= 1024.0 && unit < 3) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, value < 10 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
  return text;
}

ProgressLine::ProgressLine(bool enabled)
    : enabled_(enabled && IsTerminal(2)), start_(std::chrono::steady_clock::now()) {}

ProgressLine::~ProgressLine() {
  Finish();
}

void ProgressLine::SetFile(const std::string& name) {
  if (!enabled_) return;
  file_ = name;
  Draw(false);
}

void ProgressLine::SetPercent(int percent) {
  if (!enabled_) return;
  percent_ = percent < 0 ? 0 : percent > 100 ? 100 : percent;
  Draw(false);
}

void ProgressLine::Draw(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && drawn_ && now - last_draw_ < kRedrawInterval) return;
  last_draw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const std::int64_t done = total_ * percent_ / 100;
  char head[128];
  std::snprintf(head, sizeof head, "%3d%%", percent_);
  std::string line = head;
  if (total_ > 0) line += "  " + HumanBytes(done) + " of " + HumanBytes(total_);
  if (seconds >= 1.0 && done > 0) {
    const double rate = static_cast<double>(done) / seconds;
    line += "  " + HumanBytes(static_cast<std::int64_t>(rate)) + "/s";
    line += "  " + Clock(static_cast<std::int64_t>(static_cast<double>(total_ - done) / rate)) + " left";
  }
  line += "  ";
  const std::size_t columns = static_cast<std::size_t>(TerminalColumns()) - 1;
  std::string name = file_;
  if (line.size() < columns) {
    const std::size_t room = columns - line.size();
    if (name.size() > room) {
      std::size_t from = room > 3 ? name.size() - (room - 3) : name.size();
      while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80)
        ++from;  // whole UTF-8 characters
      name = room > 3 ? "..." + name.substr(from) : "";
    }
    line += name;
  } else {
    line.resize(columns);
  }
  std::cerr << "\r\033[K" << line << std::flush;
  drawn_ = true;
}

void ProgressLine::Finish() {
  if (!enabled_ || !drawn_) return;
  std::cerr << "\r\033[K" << std::flush;
  drawn_ = false;
}

}  // namespace kzb::cli
