// Opening ahead of the writer: a thread of its own looks at the next files of a run's list and opens them
// (a look at the path, the open, and a look at the open file), so that the writer thread, which must take
// the files one after the other, only reads, writes and closes them. The system calls of looking and
// opening cost about as much as reading a small file.
//
// Only what went well is handed over: a path that is not a regular file, or that cannot be looked at or
// opened, gives nothing, and the writer then takes the file its own way, with the events and retries that
// go with a failure. A file opened ahead is described by the open file, as the writer's own path describes
// it; what is read is what was opened, at most kFilesAhead files before the writer reaches it.
//
// Memory and handles: at most kFilesAhead files are held open ahead; those the writer passes by are closed.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"

namespace kzb::zip {

class TOpenAhead {
 public:
  static constexpr std::size_t kFilesAhead = 64;

  struct Opened {
    std::unique_ptr<platform::File> file;
    platform::FileStatus status;  // of the open file
  };

  // files: the run's list, in the order the writer takes it; it must outlive this object.
  explicit TOpenAhead(const std::vector<std::string>& files);
  // Stops the thread and closes what the writer did not take.
  ~TOpenAhead();
  TOpenAhead(const TOpenAhead&) = delete;
  TOpenAhead& operator=(const TOpenAhead&) = delete;

  // The file at index of the list, opened; nothing when it was not opened ahead. Files before index are
  // closed; indices must rise from call to call.
  std::optional<Opened> Take(std::size_t index);

 private:
  void Work();
  static std::optional<Opened> Open(const std::string& path);

  const std::vector<std::string>& files_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::optional<Opened>> ready_;  // for the indices from first_ on
  std::size_t first_ = 0;
  std::size_t wanted_ = 0;  // the writer's index: the thread works up to kFilesAhead past it
  bool stopping_ = false;
  std::thread thread_;  // last: started when everything else is ready
};

}  // namespace kzb::zip
