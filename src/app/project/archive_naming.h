// Archive names: destination folder + prefix + suffix + ".zip", the suffix being nothing, a date stamp or
// the running number.
#pragma once

#include <optional>
#include <string>

#include "app/project/project_fields.h"
#include "platform/date_time.h"

namespace kzb::app {

// "mm-dd_HHhMMmSSs" of the moment, e.g. 03-01_18h05m09s (no year).
std::string DateStamp(platform::DateTime moment);
// The number in decimal, with leading zeros up to width when pad is on; never cut.
std::string NumberText(int number, bool pad, int width);
// The number that follows a numbered backup: used + step, held at 1000.
int AdvanceNumber(int used, int step);

// The folder text of a destination: trimmed, with a trailing separator when not empty. The Windows
// default "c:\" (in either letter case) stands for the user's home folder here.
std::string DestinationFolder(const std::string& save_path);

// The destination folder as a full path with a trailing separator: DestinationFolder taken against the
// current directory (the current directory itself when the destination is empty). The backup run and
// retention both use it, so a relative destination names the same folder for both.
std::string ResolvedDestination(const std::string& save_path);

// Why a prefix cannot name archives of the destination folder: it holds a path separator (the archives
// would land in another folder) or a control character; nullopt when it can.
std::optional<std::string> PrefixProblem(const std::string& prefix);

// folder + prefix + suffix + ".zip". Nothing separates prefix and suffix, and the prefix is not checked: a
// separator in it names a subfolder of the destination. An empty folder gives a bare name.
std::string BuildArchiveName(const std::string& save_path, const std::string& prefix, SuffixKind kind, int next_number,
                             bool pad_number, int number_width, platform::DateTime now);

}  // namespace kzb::app
