// TFindFile: searches folders for files that match a name mask and a set of criteria (attributes, size,
// creation, modification and access times, excluded patterns, contained text), optionally descending into
// subfolders, and reports every match through OnFound.
//
// In-call form (Threaded off, the default): Execute runs the whole search and returns after OnComplete.
//
//   TFindFile finder;
//   finder.SetLocation("/backups");
//   finder.SetFilename("*.zip");
//   finder.SetSubfolders(false);
//   finder.OnFound = [&](TFindFile&, const std::string& folder, TSearchRec& rec) { ... };
//   finder.Execute();
//
// Worker form (Threaded on): Execute starts a worker thread and returns at once. The worker never calls a
// handler itself: each event is queued for the thread that owns the finder, and the worker waits until the
// owner has run it. The owner runs queued events by calling ProcessEvents (does not block), WaitForEvents
// (blocks up to a time) or WaitForCompletion (runs events until OnComplete has run). Handlers therefore
// always run on the owner's thread, one at a time, never concurrently with each other.
//
// The search works on copies of the properties made by Execute, so changing them during a threaded search
// does not affect it. Errors inside the search end it quietly (OnComplete still follows); ErrorMessage()
// tells what ended it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "findfile/exclude_match.h"
#include "platform/date_time.h"
#include "platform/file_system.h"

namespace kzb::findfile {

// Invalid Filename or Location: "VALUE\n\rInvalid filename specified" or
// "VALUE\n\rlocation cannot to be contained wildcards".
class EFindFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Attribute set: bit 0 ffArchive, 1 ffReadonly, 2 ffHidden, 3 ffSystem, 4 ffDirectory.
enum TFileAttribute : std::uint8_t {
  ffArchive = 1 << 0,
  ffReadonly = 1 << 1,
  ffHidden = 1 << 2,
  ffSystem = 1 << 3,
  ffDirectory = 1 << 4,
};
using TFileAttributes = std::uint8_t;
inline constexpr TFileAttributes kDefaultAttributes = ffArchive | ffReadonly | ffHidden | ffSystem;  // 15

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The find record of a reported item: name, 64-bit size, kFa* attribute bits, the three times (local).
using TSearchRec = platform::SearchRec;

class TFindFile;
// Folder is the searched folder without a trailing separator (the root stays "/").
using TFoundEvent = std::function<void(TFindFile& sender, const std::string& folder, TSearchRec& file_info)>;
// IgnoreFolder starts false; true skips the folder and all its subfolders.
using TNewFolderEvent = std::function<void(TFindFile& sender, const std::string& folder, bool& ignore_folder)>;
using TNotifyEvent = std::function<void(TFindFile& sender)>;

class TFindFile {
 public:
  TFindFile();
  // Stops a running worker (without calling any handler) and waits for it to end.
  virtual ~TFindFile();
  TFindFile(const TFindFile&) = delete;
  TFindFile& operator=(const TFindFile&) = delete;

  // --- Properties -----------------------------------------------------------------------------------------
  const std::string& Filename() const { return filename_; }
  // Name mask only; a value with a folder part raises EFindFileError and keeps the old value.
  void SetFilename(const std::string& filename);
  const std::string& Location() const { return location_; }
  // Folders separated by ";"; a value with "*" or "?" raises EFindFileError and keeps the old value.
  void SetLocation(const std::string& location);
  // When not empty, replaces Location and Filename: each line is a folder plus a mask.
  const std::vector<std::string>& IncludeFiles() const { return include_files_; }
  void SetIncludeFiles(const std::vector<std::string>& lines) { include_files_ = lines; }
  const std::vector<std::string>& ExcludeFiles() const { return exclude_files_; }
  void SetExcludeFiles(const std::vector<std::string>& lines) { exclude_files_ = lines; }
  bool Subfolders() const { return subfolders_; }
  void SetSubfolders(bool on) { subfolders_ = on; }
  TFileAttributes Attributes() const { return attributes_; }
  void SetAttributes(TFileAttributes attributes) { attributes_ = attributes; }
  bool ExactAttribute() const { return exact_attribute_; }
  void SetExactAttribute(bool on) { exact_attribute_ = on; }
  // Time bounds (local); 0 is no bound. A bound without time of day compares dates only, a bound without
  // a date compares times of day only, any other compares the full value; all inclusive.
  platform::DateTime ModifiedBefore() const { return modified_before_; }
  void SetModifiedBefore(platform::DateTime t) { modified_before_ = t; }
  platform::DateTime ModifiedAfter() const { return modified_after_; }
  void SetModifiedAfter(platform::DateTime t) { modified_after_ = t; }
  platform::DateTime CreatedBefore() const { return created_before_; }
  void SetCreatedBefore(platform::DateTime t) { created_before_ = t; }
  platform::DateTime CreatedAfter() const { return created_after_; }
  void SetCreatedAfter(platform::DateTime t) { created_after_ = t; }
  platform::DateTime AccessedBefore() const { return accessed_before_; }
  void SetAccessedBefore(platform::DateTime t) { accessed_before_ = t; }
  platform::DateTime AccessedAfter() const { return accessed_after_; }
  void SetAccessedAfter(platform::DateTime t) { accessed_after_ = t; }
  // Size bounds in bytes, inclusive; 0 is no bound. Folders are not size-checked.
  std::int64_t SizeMin() const { return size_min_; }
  void SetSizeMin(std::int64_t size) { size_min_ = size; }
  std::int64_t SizeMax() const { return size_max_; }
  void SetSizeMax(std::int64_t size) { size_max_ = size; }
  // Text a file must contain (bytes; IgnoreCase folds ASCII letters). Folders pass.
  const std::string& Containing() const { return containing_; }
  void SetContaining(const std::string& text) { containing_ = text; }
  bool IgnoreCase() const { return ignore_case_; }
  void SetIgnoreCase(bool on) { ignore_case_ = on; }
  bool Threaded() const { return threaded_; }
  void SetThreaded(bool on) { threaded_ = on; }
  TThreadPriority ThreadPriority() const { return thread_priority_; }
  // Applies at once to a running worker.
  void SetThreadPriority(TThreadPriority priority);

  // --- Operations -----------------------------------------------------------------------------------------
  // Starts a search; ignored while one is running.
  void Execute();
  // Asks the running search to stop after the item at hand (callable from a handler or any thread).
  void Abort();
  bool Busy() const { return busy_.load(); }
  // True when the last search was stopped (Abort, destruction, or an error).
  bool Aborted() const { return aborted_.load(); }
  // The message of the error that ended the last search, or "".
  std::string ErrorMessage() const;

  // Worker form: run the events the worker has queued, on the calling (owning) thread. ProcessEvents
  // runs what is pending on entry (the worker waits on each event, so that is one event, plus OnComplete
  // when the worker has just ended) and returns; WaitForEvents first waits up to timeout_ms (-1 without
  // limit) for something to run. Both return the number of events run (OnComplete counts).
  int ProcessEvents();
  int WaitForEvents(int timeout_ms);
  // Runs events until the running search has completed; returns at once when none runs.
  void WaitForCompletion();

  // --- Events ---------------------------------------------------------------------------------------------
  TFoundEvent OnFound;
  TNewFolderEvent OnNewFolder;
  TNotifyEvent OnComplete;

 protected:
  // Raise the three events; none calls its handler while the finder is being destroyed.
  virtual void DoFound(const std::string& folder, TSearchRec& file_info);
  virtual void DoNewFolder(const std::string& folder, bool& ignore_folder);
  virtual void DoComplete();

 private:
  struct SearchState;
  class Search;
  friend class Search;

  // Runs fn on the owner's thread and waits for it (worker side); false when it was not run because the
  // finder is being destroyed. An exception thrown by fn is rethrown here.
  bool Synchronize(const std::function<void()>& fn);
  void WorkerMain();
  void ReleaseSearchState();
  int RunPending();

  std::string filename_ = "*.*";
  std::string location_;
  std::vector<std::string> include_files_;
  std::vector<std::string> exclude_files_;
  bool subfolders_ = true;
  TFileAttributes attributes_ = kDefaultAttributes;
  bool exact_attribute_ = false;
  platform::DateTime modified_before_, modified_after_;
  platform::DateTime created_before_, created_after_;
  platform::DateTime accessed_before_, accessed_after_;
  std::int64_t size_min_ = 0;
  std::int64_t size_max_ = 0;
  std::string containing_;
  bool ignore_case_ = true;
  bool threaded_ = false;
  TThreadPriority thread_priority_ = TThreadPriority::tpNormal;

  // Search state: set up by Execute, released by DoComplete.
  std::atomic<bool> busy_{false};
  std::atomic<bool> aborted_{false};
  std::atomic<bool> destroying_{false};
  std::uint64_t completions_ = 0;  // searches completed (owner thread only)
  std::unique_ptr<SearchState> state_;

  // Worker and its hand-over queue.
  struct Request {
    std::function<void()> fn;
    bool done = false;
    bool cancelled = false;
    std::exception_ptr error;
  };
  std::thread worker_;
  std::atomic<int> worker_tid_{0};
  mutable std::mutex mutex_;
  std::condition_variable owner_cv_;   // something queued for the owner
  std::condition_variable worker_cv_;  // a request was run or cancelled
  std::deque<Request*> queue_;
  bool worker_finished_ = false;
  std::string error_message_;
};

}  // namespace kzb::findfile
