#include "app/restore/zip_file_operations.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/common/text_utils.h"
#include "platform/file_system.h"
#include "platform/fs_path.h"
#include "platform/path.h"
#include "platform/system.h"

namespace kzb::app {

namespace {

// Both paths name one file (the same device and inode), so copying one onto the other would destroy it.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(platform::FsPath(a), platform::FsPath(b), error) && !error;
}

}  // namespace

bool OpenZipFile(ArchiveBrowser& browser) {
  std::string name = browser.CurrentName();
  if (name.empty()) return false;
  return platform::OpenWithDefaultProgram(browser.ArchivePath(name));
}

bool CopyZipFile(ArchiveBrowser& browser, UserInterface& ui) {
  std::string name = browser.CurrentName();
  if (name.empty()) return false;
  const std::string source = browser.ArchivePath(name);
  std::string folder = browser.Folder();
  if (!ui.ChooseFolder("Copy '" + name + "' to destination folder", folder)) return false;
  const std::string target = platform::IncludeTrailingSeparator(folder) + name;
  if (platform::FileExists(target)) {
    if (SameFile(source, target)) return false;
    if (!ui.AskYesNo("File already exists! Do you want to overwrite?", MessageKind::kWarning)) return false;
  }
  errno = 0;
  if (!platform::CopyFile(source, target, false)) {
    const int cause = errno;
    ui.ShowError("Cannot copy \"" + source + "\" to \"" + target + "\"" +
                 (cause != 0 ? std::string(". ") + std::strerror(cause) : std::string()));
    return false;
  }
  return true;
}

int DeleteSelectedZipFiles(ArchiveBrowser& browser, UserInterface& ui) {
  const int top = browser.SelectionTop();
  const int bottom = browser.SelectionBottom();
  const int count = top < 0 ? 0 : bottom - top + 1;
  browser.TrimFolderText();
  int deleted = 0;
  if (count > 0 &&
      ui.AskYesNo("Do you want to delete the " + std::to_string(count) + " files ", MessageKind::kWarning)) {
    const std::vector<ArchiveRow>& rows = browser.Rows();
    for (int row = top; row >= 0 && row <= bottom && row < static_cast<int>(rows.size()); ++row) {
      const std::string& name = rows[static_cast<std::size_t>(row)].name;
      if (name.empty()) continue;
      if (platform::DeleteFile(browser.ArchivePath(name))) ++deleted;
    }
  }
  browser.DirectoryViewChange();
  return deleted;
}

}  // namespace kzb::app
