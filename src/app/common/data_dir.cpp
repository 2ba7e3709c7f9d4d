#include "app/common/data_dir.h"

#include <cstdlib>

#include "platform/file_system.h"
#include "platform/path.h"

namespace kzb::app {

namespace {

std::string AsFolder(const std::string& dir) {
  return platform::IncludeTrailingSeparator(platform::ExpandFileName(dir));
}

}  // namespace

std::string ProgramDir() { return platform::ExecutableDir(); }

std::string ResolveDataDir(const std::string& override_dir) {
  if (!override_dir.empty()) return AsFolder(override_dir);
  const char* from_environment = std::getenv(kDataDirEnvironmentVariable);
  if (from_environment != nullptr && *from_environment != '\0') return AsFolder(from_environment);
  std::string program_dir = ProgramDir();
  if (platform::IsDirectoryWritable(program_dir)) return program_dir;
  std::string config_dir = platform::UserConfigDir();
  platform::ForceDirectories(config_dir);
  return config_dir;
}

std::string WindowLockPath(const std::string& data_dir) {
  return platform::IncludeTrailingSeparator(data_dir) + ".kzb-window.lock";
}

std::string BackupRunLockPath(const std::string& data_dir) {
  return platform::IncludeTrailingSeparator(data_dir) + ".kzb-run.lock";
}

}  // namespace kzb::app
