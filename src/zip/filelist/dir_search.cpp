// Folder walk for pattern entries of a file list.
//
// The walk keeps one open listing per folder on the path from the start folder to the folder being
// listed. A subfolder is reported (as its path with a trailing separator) the moment it is met and then
// listed before the rest of its parent, so results come in pre-order in the platform's listing order. The
// stack is a growable vector: the depth of the tree is only bounded by memory, never by a fixed table.
//
// Listings are read with the standard library's directory iterator (on Windows with the platform's finder,
// which has no path length limit), which takes the kind of an entry from the folder listing itself, so a
// folder costs no system call per entry beyond one status query (size and attributes) per matching file.
// Links to folders are followed, which is what a user who links a folder into a backed-up tree expects,
// but a link that resolves to a folder already open on the stack would make the walk endless, so such a
// folder is skipped. Resolving paths costs system calls, so it is only done for folders that are links.
#include "zip/filelist/dir_search.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/fs_path.h"
#include "platform/path.h"
#include "zip/filelist/match_pattern.h"

namespace kzb::zip {

namespace fs = std::filesystem;

TSearchData::TSearchData(std::string folder, std::string mask) : folder_(std::move(folder)), mask_(std::move(mask)) {
#ifdef _WIN32
  // The standard library's listing goes through the C runtime's opendir on Windows, which stops at the
  // classic path limit (MAX_PATH): a deep tree would lose its bottom folders without a word. The
  // platform's finder takes paths of any length and gives the kind of every entry from the listing.
  platform::FileFinder finder;
  platform::SearchRec rec;
  constexpr std::uint32_t kEverything = platform::kFaHidden | platform::kFaSysFile | platform::kFaDirectory;
  if (!finder.FindFirst(folder_ + "*", kEverything, rec)) return;  // unreadable folder: an empty listing
  opened_ = true;
  do {
    if (rec.name == "." || rec.name == "..") continue;
    entries_.push_back({rec.name, (rec.attr & platform::kFaDirectory) != 0});
  } while (finder.FindNext(rec));
#else
  std::error_code ec;
  fs::directory_iterator it(platform::FsPath(folder_), ec);
  if (ec) {
    unreadable_.push_back(folder_);  // an empty listing
    return;
  }
  opened_ = true;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) {
      unreadable_.push_back(folder_);
      break;
    }
    const fs::directory_entry& entry = *it;
    std::error_code kind_ec;
    // Follows links; for plain entries the kind comes from the listing itself, without a system call
    // (the entry's own kind queries use it; status() would always ask the system).
    const bool is_folder = entry.is_directory(kind_ec);
    const bool is_file = !kind_ec && !is_folder && entry.is_regular_file(kind_ec);
    if (kind_ec) {
      // A dangling link, a loop of links or an entry deleted meanwhile is not a file to back up; anything
      // else (no permission to look at it) is.
      if (kind_ec != std::errc::no_such_file_or_directory && kind_ec != std::errc::too_many_symbolic_link_levels) {
        unreadable_.push_back(folder_ + platform::FromFsPath(entry.path().filename()));
      }
      continue;
    }
    if (is_folder) {
      entries_.push_back({platform::FromFsPath(entry.path().filename()), true});
    } else if (is_file) {
      entries_.push_back({platform::FromFsPath(entry.path().filename()), false});
    }
  }
#endif
  std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
}

platform::SearchRec TSearchData::Current() const {
  platform::SearchRec rec;
  const Entry& entry = entries_[next_];
  rec.name = entry.name;
  if (entry.is_folder) {
    rec.attr = platform::kFaDirectory;
  } else {
    // One status query gives the size and the attributes (the archive bit on Windows).
    platform::FileStatus status;
    if (platform::GetFileStatus(folder_ + entry.name, status)) {
      rec.size = status.size;
      rec.attr = status.attr;
      rec.time = status.time;
    } else {
      rec.attr = platform::kFaArchive;
    }
  }
  if (!entry.name.empty() && entry.name[0] == '.') rec.attr |= platform::kFaHidden;
  return rec;
}

void TSearchData::Close() {
  entries_.clear();
  entries_.shrink_to_fit();
  next_ = 0;
  opened_ = false;
}

const std::string& TSearchData::CanonicalFolder() {
  if (!canonical_known_) {
    std::error_code ec;
    fs::path resolved = fs::canonical(platform::FsPath(folder_), ec);
    canonical_ = ec ? std::string() : platform::FromFsPath(resolved);
    canonical_known_ = true;
  }
  return canonical_;
}

TDirSearch::TDirSearch(const std::string& start_folder, bool recurse, const std::string& mask)
    : mask_(mask), recurse_(recurse) {
  Open(platform::IncludeTrailingSeparator(start_folder));
}

void TDirSearch::Open(const std::string& folder) {
  stack_.push_back(std::make_unique<TSearchData>(folder, mask_));
  const std::vector<std::string>& unreadable = stack_.back()->Unreadable();
  unreadable_.insert(unreadable_.end(), unreadable.begin(), unreadable.end());
}

std::vector<std::string> TDirSearch::TakeUnreadable() {
  std::vector<std::string> taken;
  taken.swap(unreadable_);
  return taken;
}

bool TDirSearch::LeadsBackIntoWalk(const std::string& folder) {
  std::error_code ec;
  if (!fs::is_symlink(platform::FsPath(platform::ExcludeTrailingSeparator(folder)), ec)) return false;
  fs::path resolved = fs::canonical(platform::FsPath(folder), ec);
  if (ec) return true;  // a link that cannot be resolved is not worth entering
  const std::string target = platform::FromFsPath(resolved);
  for (auto& slot : stack_) {
    if (slot->CanonicalFolder() == target) return true;
  }
  return false;
}

std::string TDirSearch::NextFile(platform::SearchRec& rec) {
  while (!stack_.empty()) {
    TSearchData& top = *stack_.back();
    if (top.Exhausted()) {
      top.Close();
      stack_.pop_back();
      if (stack_.empty()) return "";
      stack_.back()->Advance();
      continue;
    }
    const std::string& name = top.CurrentName();
    if (top.CurrentIsFolder()) {
      if (!recurse_ || name.empty() || name[0] == '.') {
        top.Advance();
        continue;
      }
      std::string folder = top.Folder() + name + platform::kPathSeparator;
      if (LeadsBackIntoWalk(folder)) {
        top.Advance();
        continue;
      }
      Open(folder);
      return folder;
    }
    bool matches;
    if (name.find('.') == std::string::npos) {
      matches = MatchPattern(mask_, name + '.');
    } else {
      matches = MatchPattern(mask_, name);
    }
    if (matches) {
      rec = top.Current();
      std::string path = top.Folder() + name;
      top.Advance();
      return path;
    }
    top.Advance();
  }
  return "";
}

}  // namespace kzb::zip
