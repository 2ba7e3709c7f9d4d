#include "app/common/data_dir.h"

#include <cstdlib>

#include "platform/file_system.h"
#include "platform/path.h"

namespace kzb::app {

namespace {

// A data folder named by the user; a file of that name cannot be one (its "project.ini" would never be
// found or written, and every command would quietly see no projects).
std::string AsFolder(const std::string& dir) {
  const std::string expanded = platform::ExpandFileName(dir);
  if (platform::FileExists(platform::ExcludeTrailingSeparator(expanded))) {
    throw platform::EFileError("The data folder \"" + dir + "\" is a file, not a folder");
  }
  return platform::IncludeTrailingSeparator(expanded);
}

}  // namespace

std::string ProgramDir() {
  return platform::ExecutableDir();
}

bool IsSystemProgramDir(const std::string& dir) {
#ifdef _WIN32
  static_cast<void>(dir);
  return false;
#else
  static const char* const kSystemDirs[] = {"/bin/",       "/sbin/",          "/usr/bin/",       "/usr/sbin/",
                                            "/usr/games/", "/usr/local/bin/", "/usr/local/sbin/"};
  const std::string folder = platform::IncludeTrailingSeparator(dir);
  for (const char* system_dir : kSystemDirs) {
    if (folder == system_dir) return true;
  }
  return false;
#endif
}

std::string ResolveDataDir(const std::string& override_dir) {
  if (!override_dir.empty()) return AsFolder(override_dir);
  const char* from_environment = std::getenv(kDataDirEnvironmentVariable);
  if (from_environment != nullptr && *from_environment != '\0') return AsFolder(from_environment);
  std::string program_dir = ProgramDir();
  if (!IsSystemProgramDir(program_dir) && platform::IsDirectoryWritable(program_dir)) return program_dir;
  std::string config_dir = platform::UserConfigDir();
  // A folder that cannot be made here shows as the data file that cannot be written, with its cause, at
  // the first write; reading finds defaults meanwhile.
  (void)platform::ForceDirectories(config_dir);
  return config_dir;
}

std::string WindowLockPath(const std::string& data_dir) {
  return platform::IncludeTrailingSeparator(data_dir) + ".kzb-window.lock";
}

std::string BackupRunLockPath(const std::string& data_dir) {
  return platform::IncludeTrailingSeparator(data_dir) + ".kzb-run.lock";
}

}  // namespace kzb::app
