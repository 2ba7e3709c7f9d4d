// Where the data files live. Every data file is the data folder + its name; the current directory plays no
// part. The data folder is the program's own folder (`ProgramDir`) when that is writable and not a system
// program folder such as /usr/bin, otherwise the user's configuration folder; --data-dir or the
// KZB_DATA_DIR environment variable override both.
#pragma once

#include <string>

namespace kzb::app {

inline constexpr char kProjectFileName[] = "project.ini";
inline constexpr char kLogFileName[] = "log.txt";
inline constexpr char kStoreNumberFileName[] = "StoreNumber.txt";
inline constexpr char kHelpFileName[] = "help.chm";
inline constexpr char kDataDirEnvironmentVariable[] = "KZB_DATA_DIR";

// The data folder, absolute and with a trailing separator. override_dir (from --data-dir) wins when not
// empty, then KZB_DATA_DIR when set and not empty; neither is created here. Otherwise the program's folder
// when a file can be created in it, else the user's configuration folder, created when missing. A given
// folder that names an existing file raises platform::EFileError.
std::string ResolveDataDir(const std::string& override_dir = "");

// The program's own folder with a trailing separator.
std::string ProgramDir();
// A folder that holds the system's programs (/usr/bin and the like). It is never the data folder, even
// where it is writable (for root, after the package installed the programs there).
bool IsSystemProgramDir(const std::string& dir);

// The lock the window holds for its whole life on a data folder. Commands that change projects refuse
// while another process holds it, because the window writes the project list back when it closes.
std::string WindowLockPath(const std::string& data_dir);
// The lock a backup run holds, so that one data folder runs one backup at a time.
std::string BackupRunLockPath(const std::string& data_dir);

}  // namespace kzb::app
