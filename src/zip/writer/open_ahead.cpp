#include "zip/writer/open_ahead.h"

#include <filesystem>
#include <system_error>

#include "platform/fs_path.h"
#include "platform/path.h"

namespace kzb::zip {

TOpenAhead::TOpenAhead(const std::vector<std::string>& files) : files_(files) {
  thread_ = std::thread([this] { Work(); });
}

TOpenAhead::~TOpenAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

std::optional<TOpenAhead::Opened> TOpenAhead::Open(const std::string& path) {
  if (path.empty() || platform::IsPathSeparator(path.back())) return std::nullopt;  // a folder
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(platform::FsPath(path), ec);
  if (ec || !std::filesystem::is_regular_file(status)) return std::nullopt;
  try {
    Opened opened;
    opened.file = std::make_unique<platform::File>(path, platform::File::Mode::kRead);
    opened.file->Status(opened.status);
    return opened;
  } catch (...) {
    // Whatever stands in the way (a file that cannot be opened or looked at, no memory), the writer
    // meets again on its own path and reports.
    return std::nullopt;
  }
}

void TOpenAhead::Work() {
  for (std::size_t index = 0; index < files_.size(); ++index) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || index < wanted_ + kFilesAhead; });
      if (stopping_) return;
      if (index < wanted_) {  // passed by the writer already
        ready_.emplace_back();
        continue;
      }
    }
    std::optional<Opened> opened = Open(files_[index]);
    std::lock_guard lock(mutex_);
    ready_.push_back(std::move(opened));
    changed_.notify_all();
  }
}

std::optional<TOpenAhead::Opened> TOpenAhead::Take(std::size_t index) {
  std::deque<std::optional<Opened>> passed;  // closed outside the lock
  std::optional<Opened> taken;
  {
    std::unique_lock lock(mutex_);
    if (index < first_) return std::nullopt;
    wanted_ = index;
    changed_.notify_all();
    changed_.wait(lock, [&] { return first_ + ready_.size() > index; });
    while (first_ < index) {
      passed.push_back(std::move(ready_.front()));
      ready_.pop_front();
      ++first_;
    }
    taken = std::move(ready_.front());
    ready_.pop_front();
    ++first_;
    wanted_ = index + 1;
  }
  changed_.notify_all();
  return taken;
}

}  // namespace kzb::zip
