// A depth-first walk over a folder tree that yields the files matching a mask.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace kzb::zip {

// One open folder listing of a walk. It lists the folders and regular files of the folder, hidden ones
// included, in byte order of their names so that runs are repeatable. Links are followed; dangling links,
// devices, pipes and sockets are left out (reading a pipe would never end). Only the kind of each entry is
// known up front; Current() fills in the size of a file when the walk reports it. A folder that cannot be
// listed (or stops listing part-way) and an entry whose kind cannot be read for another reason than its
// being gone are noted in Unreadable(), so that nothing is left out without a word.
class TSearchData {
 public:
  TSearchData(std::string folder, std::string mask);
  TSearchData(const TSearchData&) = delete;
  TSearchData& operator=(const TSearchData&) = delete;

  const std::string& Folder() const { return folder_; }  // always ends in the separator
  const std::string& Mask() const { return mask_; }
  bool Opened() const { return opened_; }
  bool Exhausted() const { return next_ >= entries_.size(); }
  const std::string& CurrentName() const { return entries_[next_].name; }
  bool CurrentIsFolder() const { return entries_[next_].is_folder; }
  // The current entry as a search record: name, attributes and (for a file) size.
  platform::SearchRec Current() const;
  void Advance() { ++next_; }
  void Close();

  // Resolved path of the folder (links followed), computed on first use; "" when it cannot be resolved.
  const std::string& CanonicalFolder();

  // Paths that could not be read: the folder itself (with its trailing separator) or entries of it.
  const std::vector<std::string>& Unreadable() const { return unreadable_; }

 private:
  struct Entry {
    std::string name;
    bool is_folder = false;
  };
  std::string folder_;
  std::string mask_;
  std::vector<Entry> entries_;
  std::size_t next_ = 0;
  bool opened_ = false;
  bool canonical_known_ = false;
  std::string canonical_;
  std::vector<std::string> unreadable_;
};

// One walk: the start folder and, when recursing, every subfolder below it. Folders whose names begin with
// "." are never entered. The stack of open listings grows with the depth of the tree; a folder reached
// through a link that leads back to a folder already open on the stack is not entered again.
class TDirSearch {
 public:
  TDirSearch(const std::string& start_folder, bool recurse, const std::string& mask);
  TDirSearch(const TDirSearch&) = delete;
  TDirSearch& operator=(const TDirSearch&) = delete;

  // The next matching file as a full path (rec then describes it), a folder being entered as a full path
  // ending in the separator, or "" when the walk is over. A file without an extension is tested against the
  // mask with a "." appended, so "*." selects exactly the files without one.
  std::string NextFile(platform::SearchRec& rec);

  bool Recurse() const { return recurse_; }
  const std::string& Mask() const { return mask_; }
  std::size_t Depth() const { return stack_.size(); }

  // The folders and entries met since the last call that could not be read (see TSearchData); the walk
  // goes on past them.
  std::vector<std::string> TakeUnreadable();

 private:
  bool LeadsBackIntoWalk(const std::string& folder);
  void Open(const std::string& folder);

  std::vector<std::unique_ptr<TSearchData>> stack_;
  std::vector<std::string> unreadable_;
  std::string mask_;
  bool recurse_;
};

}  // namespace kzb::zip
