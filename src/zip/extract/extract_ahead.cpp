// Extraction with workers: which entries are decoded ahead, and the temporary files the workers write
// them into ahead of the run's thread (inflate_ahead.h), which the run then checks and moves into place.
#include <random>

#include "platform/file_system.h"
#include "platform/path.h"
#include "zip/extract/extract_run.h"
#include "zip/records/zip_format.h"

namespace kzb::zip {

void ExtractRun::StartDecodingAhead(int count) {
  const int threads = TWorkerPool::ResolveThreads(reader_.Threads());
  if (threads <= 1 || archive_.IsMultiVolume() || archive_.ByteSplitSet()) return;
  std::vector<int> candidates;
  std::vector<std::int64_t> sizes;
  std::vector<std::int64_t> compressed;
  for (int i = 0; i < count; ++i) {
    const TZipHeaderInfo& entry = archive_.Entry(i);
    if (!reader_.DoAll() && !entry.ExtractMark()) continue;
    if (entry.FileName().empty() || entry.IsEncrypted() || entry.DataMethod() != kMethodDeflated) continue;
    if (entry.UncompressedSize() <= 0 || entry.UncompressedSize() > kInflateAheadEntryLimit) continue;
    if (entry.CompressedSize() <= 0 || entry.CompressedSize() > kInflateAheadEntryLimit * 2) continue;
    candidates.push_back(i);
    sizes.push_back(entry.UncompressedSize());
    compressed.push_back(entry.CompressedSize());
  }
  if (candidates.size() < 2) return;
  // Extracting, the run's thread is one of the threads: it writes, checks and renames while the workers
  // inflate. Testing, it only waits for them.
  int workers = test_only_ ? threads : threads - 1;
  // Extracting to files that need no flush, the workers also write the entries into temporary files in
  // the destination folder; the run's thread then checks, renames and reports them in order. Its share is
  // then small, so it shares the cores with as many workers as there are threads (measured on two cores:
  // one worker writing ahead was slower than none).
  TInflateAhead::StageFn stage;
  if (!test_only_ && !reader_.OutputDeviceFactory() && !reader_.FlushFilesOnClose() &&
      (reader_.DestDir().empty() || platform::DirectoryExists(reader_.DestDir()))) {
    staging_ = true;
    workers = threads;
    stage_folder_ = reader_.DestDir().empty() ? std::string() : platform::IncludeTrailingSeparator(reader_.DestDir());
    stage = [this](int index, std::span<const std::uint8_t> data, std::uint32_t crc) {
      return StageAhead(index, data, crc);
    };
  }
  ahead_ = std::make_unique<TInflateAhead>(
      std::move(candidates), std::move(sizes), std::move(compressed), workers,
      [this](int index, std::int64_t& position, std::vector<std::uint8_t>& out) {
        const TZipHeaderInfo& entry = archive_.Entry(index);
        position = DataPositionOf(entry);
        if (position < 0) return false;
        out.resize(static_cast<std::size_t>(entry.CompressedSize()));
        archive_.Stream().Seek(position, kSeekBegin);
        std::int64_t got = 0;
        while (got < entry.CompressedSize()) {
          const std::int64_t n = archive_.Stream().Read(out.data() + got, entry.CompressedSize() - got);
          if (n <= 0) return false;
          got += n;
        }
        return true;
      },
      std::move(stage));
}

std::string ExtractRun::StageAhead(int index, std::span<const std::uint8_t> data, std::uint32_t crc) {
  if (staging_off_.load(std::memory_order_relaxed)) return {};
  // The listing is not changed while the run goes on: reading it here is safe.
  const TZipHeaderInfo& entry = archive_.Entry(index);
  if (crc != entry.Crc32()) return {};  // the run's own path reports it
  thread_local std::mt19937 names(std::random_device{}());
  std::string path;
  bool written = false;
  try {
    const std::unique_ptr<TFileStream> file = CreateTemporary(stage_folder_, names, path);
    if (!file) return {};  // every name tried was taken
    try {
      written =
          file->Write(data.data(), static_cast<std::int64_t>(data.size())) == static_cast<std::int64_t>(data.size());
    } catch (const platform::EFileError&) {
      written = false;  // the run's own path meets the device's error and reports it
    }
  } catch (const platform::EFCreateError&) {
    staging_off_.store(true, std::memory_order_relaxed);  // the folder takes no files: stop trying
    return {};
  }
  if (!written) {
    const bool removed = platform::DeleteFile(path);
    static_cast<void>(removed);
    return {};
  }
  RestoreTime(path, entry);
  return path;
}

bool ExtractRun::AdoptStaged(const std::string& fname, bool replaces) {
  ahead_->Wait(*ahead_item_);
  if (!ahead_item_->ok || ahead_item_->staged.empty()) return false;
  std::string staged = std::move(ahead_item_->staged);
  ahead_item_->staged.clear();
  if (replaces) {
    // A file that replaces another is flushed to the device before the rename: written here.
    const bool removed = platform::DeleteFile(staged);
    static_cast<void>(removed);
    return false;
  }
  temp_path_ = std::move(staged);
  temp_is_file_ = true;
  staged_ = true;
  target_ = fname;
  replacing_ = false;
  sync_output_ = false;
  return true;
}

}  // namespace kzb::zip
