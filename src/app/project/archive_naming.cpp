#include "app/project/archive_naming.h"

#include <algorithm>
#include <cstdio>

#include "app/common/text_utils.h"
#include "platform/path.h"

namespace kzb::app {

namespace {

// Padding beyond a file name's length limit can only come from a hand-edited width; it is not honoured.
constexpr int kMaxPaddedWidth = 255;

std::string TwoDigits(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

}  // namespace

std::string DateStamp(platform::DateTime moment) {
  platform::DateTimeParts parts = moment.Parts();
  return TwoDigits(parts.month) + "-" + TwoDigits(parts.day) + "_" + TwoDigits(parts.hour) + "h" +
         TwoDigits(parts.minute) + "m" + TwoDigits(parts.second) + "s";
}

std::string NumberText(int number, bool pad, int width) {
  std::string digits = std::to_string(number);
  if (pad) {
    int target = std::min(width, kMaxPaddedWidth);
    if (static_cast<int>(digits.size()) < target) {
      digits.insert(0, static_cast<std::size_t>(target) - digits.size(), '0');
    }
  }
  return digits;
}

int AdvanceNumber(int used, int step) {
  long long next = static_cast<long long>(used) + step;
  return next > kMaxNumber ? kMaxNumber : static_cast<int>(next);
}

std::string DestinationFolder(const std::string& save_path) {
  std::string folder = Trim(save_path);
  // The default folder "c:\\" names no folder on POSIX, where the home folder stands in for it; on Windows
  // it is the root of drive C: itself.
  const bool drives = !platform::ExtractFileDrive("c:\\").empty();
  if (!drives && (folder == "c:\\" || folder == "C:\\")) return platform::HomeDir();
  if (!folder.empty() && !platform::IsPathSeparator(folder.back())) folder += platform::kPathSeparator;
  return folder;
}

std::string ResolvedDestination(const std::string& save_path) {
  const std::string folder = DestinationFolder(save_path);
  return platform::IncludeTrailingSeparator(platform::ExpandFileName(folder.empty() ? platform::CurrentDir() : folder));
}

std::optional<std::string> PrefixProblem(const std::string& prefix) {
  for (char c : prefix) {
    if (platform::IsPathSeparator(c)) {
      return "The prefix '" + prefix + "' holds a '" + std::string(1, c) +
             "': the archives would land in another folder than the destination";
    }
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return std::string("The prefix holds a control character");
  }
  return std::nullopt;
}

std::string BuildArchiveName(const std::string& save_path, const std::string& prefix, SuffixKind kind, int next_number,
                             bool pad_number, int number_width, platform::DateTime now) {
  std::string name = DestinationFolder(save_path) + Trim(prefix);
  switch (kind) {
    case SuffixKind::kDate:
      name += DateStamp(now);
      break;
    case SuffixKind::kNumber:
      name += NumberText(next_number, pad_number, number_width);
      break;
    case SuffixKind::kNone:
      break;
  }
  return name + ".zip";
}

}  // namespace kzb::app
