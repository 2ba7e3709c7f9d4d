// The file finder's search and its hand-over between a worker and the owning thread.
//
// Search order: the targets in order; in each target folder first the matching items, in the listing's
// (byte) order, then, with Subfolders, every subfolder depth first in the same order. Names beginning with
// "." are never reported or entered (they are hidden here, and "." and ".." are no subfolders). A folder
// reached through a link that leads back to a folder on the way down is skipped, so a link loop cannot make
// the search endless; the same folder reached twice by separate links is searched twice, as the user sees
// two folders.
//
// Threaded form: the worker reads only the SearchState copied by Execute and the atomic stop flag. Every
// event goes through Synchronize: the worker queues a request on its own stack and sleeps until the owner
// has run it in ProcessEvents; the owner runs requests in queue order, one at a time. An exception thrown
// by a handler is carried back to the worker, where it ends the search like any other error. When the
// search is over the worker sets worker_finished_ and ends; the owner joins it and runs DoComplete, so
// OnComplete always comes after the last OnFound. The destructor cancels queued requests and joins the
// worker without running any handler.
#include "findfile/find_file.h"

#include <chrono>

#include "findfile/contains_text.h"
#include "platform/path.h"
#include "platform/system.h"

namespace kzb::findfile {

namespace {

// Every item except volume labels.
constexpr std::uint32_t kListingAttributes = 0x37;

TFileAttributes ToFileAttributes(std::uint32_t attr) {
  TFileAttributes result = 0;
  if ((attr & platform::kFaArchive) != 0) result |= ffArchive;
  if ((attr & platform::kFaReadOnly) != 0) result |= ffReadonly;
  if ((attr & platform::kFaHidden) != 0) result |= ffHidden;
  if ((attr & platform::kFaSysFile) != 0) result |= ffSystem;
  if ((attr & platform::kFaDirectory) != 0) result |= ffDirectory;
  return result;
}

// Inclusive comparison of an item's time with a bound, by the bound's form.
bool WithinBound(platform::DateTime item, platform::DateTime bound, bool before) {
  if (bound.Value() == 0.0) return true;
  double a, b;
  if (bound.TimePart().Value() == 0.0) {
    a = item.DatePart().Value();
    b = bound.DatePart().Value();
  } else if (bound.DatePart().Value() == 0.0) {
    a = item.TimePart().Value();
    b = bound.TimePart().Value();
  } else {
    a = item.Value();
    b = bound.Value();
  }
  return before ? a <= b : a >= b;
}

std::string ReportedFolder(const std::string& folder) {
  return folder.size() > 1 ? platform::ExcludeTrailingSeparator(folder) : folder;
}

}  // namespace

struct TFindFile::SearchState {
  std::vector<std::string> targets;
  std::vector<std::string> excludes;
  bool subfolders = true;
  TFileAttributes attributes = kDefaultAttributes;
  bool exact_attribute = false;
  platform::DateTime modified_before, modified_after;
  platform::DateTime created_before, created_after;
  platform::DateTime accessed_before, accessed_after;
  std::int64_t size_min = 0;
  std::int64_t size_max = 0;
  bool ignore_case = true;
  std::string containing;
  bool threaded = false;
};

class TFindFile::Search {
 public:
  Search(TFindFile& owner, const SearchState& state) : owner_(owner), state_(state) {}

  void Run() {
    for (const std::string& target : state_.targets) {
      if (Stopped()) break;
      if (target.empty()) continue;
      const std::string folder_part = platform::ExtractFilePath(target);
      const std::string folder = platform::IncludeTrailingSeparator(
          folder_part.empty() ? platform::CurrentDir() : platform::ExpandFileName(folder_part));
      const std::string mask = platform::ExtractFileName(target);
      open_folders_.clear();
      std::uint64_t device = 0, inode = 0;
      platform::FileFinder self;
      platform::SearchRec rec;
      if (self.FindFirst(folder + ".", platform::kFaDirectory, rec)) {
        device = rec.device;
        inode = rec.inode;
      }
      SearchFolder(folder, mask, device, inode);
    }
  }

 private:
  bool Stopped() const { return owner_.aborted_.load(); }

  void SearchFolder(const std::string& folder, const std::string& mask, std::uint64_t device, std::uint64_t inode) {
    const std::string reported = ReportedFolder(folder);
    bool ignore = false;
    NewFolder(reported, ignore);
    if (ignore || Stopped()) return;
    open_folders_.emplace_back(device, inode);

    platform::FileFinder finder;
    platform::SearchRec rec;
    for (bool ok = finder.FindFirst(folder + mask, kListingAttributes, rec); ok && !Stopped();
         ok = finder.FindNext(rec)) {
      if (rec.name.empty() || rec.name[0] == '.') continue;
      if (Passes(folder, rec)) Found(reported, rec);
    }
    finder.FindClose();

    if (state_.subfolders) {
      for (bool ok = finder.FindFirst(folder + "*.*", kListingAttributes, rec); ok && !Stopped();
           ok = finder.FindNext(rec)) {
        if ((rec.attr & platform::kFaDirectory) == 0 || rec.name.empty() || rec.name[0] == '.') continue;
        if (OnTheWayDown(rec.device, rec.inode)) continue;
        SearchFolder(folder + rec.name + platform::kPathSeparator, mask, rec.device, rec.inode);
      }
    }
    open_folders_.pop_back();
  }

  bool OnTheWayDown(std::uint64_t device, std::uint64_t inode) const {
    if (device == 0 && inode == 0) return false;
    for (const auto& [d, i] : open_folders_) {
      if (d == device && i == inode) return true;
    }
    return false;
  }

  bool Passes(const std::string& folder, const TSearchRec& rec) const {
    const TFileAttributes attributes = ToFileAttributes(rec.attr);
    if (state_.exact_attribute) {
      if (attributes != state_.attributes) return false;
    } else if (attributes != 0 && (attributes & state_.attributes) == 0) {
      return false;
    }
    const bool is_folder = (rec.attr & platform::kFaDirectory) != 0;
    if (!is_folder) {
      if (state_.size_min != 0 && rec.size < state_.size_min) return false;
      if (state_.size_max != 0 && rec.size > state_.size_max) return false;
    }
    if (!WithinBound(rec.creation_time, state_.created_before, true) ||
        !WithinBound(rec.creation_time, state_.created_after, false) ||
        !WithinBound(rec.time, state_.modified_before, true) || !WithinBound(rec.time, state_.modified_after, false) ||
        !WithinBound(rec.access_time, state_.accessed_before, true) ||
        !WithinBound(rec.access_time, state_.accessed_after, false)) {
      return false;
    }
    const std::string path = folder + rec.name;
    for (const std::string& pattern : state_.excludes) {
      if (ExcludeMatches(path, pattern)) return false;
    }
    if (!state_.containing.empty() && !is_folder) {
      return FileContainsText(path, state_.containing, state_.ignore_case);
    }
    return true;
  }

  void NewFolder(const std::string& folder, bool& ignore) {
    if (!state_.threaded) {
      owner_.DoNewFolder(folder, ignore);
      return;
    }
    // The answer travels back through the worker's own variable; the owner writes it while the worker waits.
    bool answer = false;
    if (!owner_.Synchronize([&] { owner_.DoNewFolder(folder, answer); })) {
      owner_.aborted_ = true;
      return;
    }
    ignore = answer;
  }

  void Found(const std::string& folder, TSearchRec& rec) {
    if (!state_.threaded) {
      owner_.DoFound(folder, rec);
      return;
    }
    TSearchRec copy = rec;
    if (!owner_.Synchronize([&] { owner_.DoFound(folder, copy); })) owner_.aborted_ = true;
  }

  TFindFile& owner_;
  const SearchState& state_;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> open_folders_;
};

TFindFile::TFindFile() = default;

TFindFile::~TFindFile() {
  destroying_ = true;
  aborted_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Request* request : queue_) request->cancelled = true;
    queue_.clear();
  }
  worker_cv_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void TFindFile::SetFilename(const std::string& filename) {
  if (platform::ExtractFileName(filename) != filename) {
    throw EFindFileError(filename + "\n\r" + "Invalid filename specified");
  }
  filename_ = filename;
}

void TFindFile::SetLocation(const std::string& location) {
  if (location.find_first_of("*?") != std::string::npos) {
    throw EFindFileError(location + "\n\r" + "location cannot to be contained wildcards");
  }
  location_ = location;
}

void TFindFile::SetThreadPriority(TThreadPriority priority) {
  std::lock_guard<std::mutex> lock(mutex_);
  thread_priority_ = priority;
  if (worker_tid_ != 0) platform::SetThreadPriority(worker_tid_, static_cast<int>(priority));
}

std::string TFindFile::ErrorMessage() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_message_;
}

void TFindFile::Abort() {
  aborted_ = true;
}

void TFindFile::Execute() {
  if (busy_) return;
  busy_ = true;
  aborted_ = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    error_message_.clear();
    worker_finished_ = false;
  }

  auto state = std::make_unique<SearchState>();
  if (!include_files_.empty()) {
    state->targets = include_files_;
  } else {
    std::string mask = filename_;
    if (mask.empty()) {
      mask = "*.*";
    } else if (mask.find('.') == std::string::npos) {
      mask += ".*";
    }
    auto add = [&](const std::string& piece) {
      const std::string folder = piece.empty() ? platform::CurrentDir() : platform::ExpandFileName(piece);
      const std::string target = platform::IncludeTrailingSeparator(folder) + mask;
      // Folder names differ by letter case on this platform, so only equal texts are the same target.
      for (const std::string& existing : state->targets) {
        if (existing == target) return;
      }
      state->targets.push_back(target);
    };
    std::string rest = location_;
    if (rest.empty()) {
      add("");
    } else {
      for (;;) {
        const std::size_t semicolon = rest.find(';');
        add(rest.substr(0, semicolon));
        rest = semicolon == std::string::npos ? std::string() : rest.substr(semicolon + 1);
        if (rest.empty() || rest == ";") break;
      }
    }
  }
  state->excludes = exclude_files_;
  state->subfolders = subfolders_;
  state->attributes = attributes_;
  state->exact_attribute = exact_attribute_;
  state->modified_before = modified_before_;
  state->modified_after = modified_after_;
  state->created_before = created_before_;
  state->created_after = created_after_;
  state->accessed_before = accessed_before_;
  state->accessed_after = accessed_after_;
  state->size_min = size_min_;
  state->size_max = size_max_;
  state->ignore_case = ignore_case_;
  state->containing = containing_;
  state->threaded = threaded_;
  state_ = std::move(state);

  if (!threaded_) {
    try {
      Search(*this, *state_).Run();
    } catch (const std::exception& e) {
      aborted_ = true;
      std::lock_guard<std::mutex> lock(mutex_);
      error_message_ = e.what();
    } catch (...) {
      aborted_ = true;
      std::lock_guard<std::mutex> lock(mutex_);
      error_message_ = "Unknown error";
    }
    DoComplete();
    return;
  }
  worker_ = std::thread(&TFindFile::WorkerMain, this);
}

void TFindFile::WorkerMain() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    worker_tid_ = platform::CurrentThreadId();
    if (thread_priority_ != TThreadPriority::tpNormal) {
      platform::SetThreadPriority(worker_tid_, static_cast<int>(thread_priority_));
    }
  }
  std::string error;
  try {
    Search(*this, *state_).Run();
  } catch (const std::exception& e) {
    error = e.what();
    aborted_ = true;
  } catch (...) {
    error = "Unknown error";
    aborted_ = true;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!error.empty()) error_message_ = error;
    worker_tid_ = 0;
    worker_finished_ = true;
  }
  owner_cv_.notify_all();
}

bool TFindFile::Synchronize(const std::function<void()>& fn) {
  Request request;
  request.fn = fn;
  std::unique_lock<std::mutex> lock(mutex_);
  if (destroying_) return false;
  queue_.push_back(&request);
  owner_cv_.notify_all();
  worker_cv_.wait(lock, [&] { return request.done || request.cancelled; });
  if (request.cancelled) return false;
  lock.unlock();
  if (request.error) std::rethrow_exception(request.error);
  return true;
}

int TFindFile::RunPending() {
  // Only what is queued on entry runs: a fast worker refilling the queue cannot keep the owner here.
  std::size_t budget;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    budget = queue_.size();
  }
  int count = 0;
  for (; budget > 0; --budget) {
    Request* request = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty()) break;
      request = queue_.front();
      queue_.pop_front();
    }
    try {
      request->fn();
    } catch (...) {
      request->error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      request->done = true;
    }
    worker_cv_.notify_all();
    ++count;
  }
  bool finished = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty() && worker_finished_) {
      worker_finished_ = false;
      finished = true;
    }
  }
  if (finished) {
    if (worker_.joinable()) worker_.join();
    ++count;
    DoComplete();
  }
  return count;
}

int TFindFile::ProcessEvents() {
  return RunPending();
}

int TFindFile::WaitForEvents(int timeout_ms) {
  if (worker_.joinable()) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [&] { return !queue_.empty() || worker_finished_; };
    if (timeout_ms < 0) {
      owner_cv_.wait(lock, ready);
    } else {
      owner_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
    }
  }
  return RunPending();
}

void TFindFile::WaitForCompletion() {
  const std::uint64_t target = completions_ + 1;
  while (busy_ && worker_.joinable() && completions_ < target) WaitForEvents(-1);
}

void TFindFile::DoFound(const std::string& folder, TSearchRec& file_info) {
  if (!destroying_ && OnFound) OnFound(*this, folder, file_info);
}

void TFindFile::DoNewFolder(const std::string& folder, bool& ignore_folder) {
  if (!destroying_ && OnNewFolder) OnNewFolder(*this, folder, ignore_folder);
}

void TFindFile::DoComplete() {
  ReleaseSearchState();
  busy_ = false;
  ++completions_;
  if (!destroying_ && OnComplete) OnComplete(*this);
}

void TFindFile::ReleaseSearchState() {
  state_.reset();
}

}  // namespace kzb::findfile
