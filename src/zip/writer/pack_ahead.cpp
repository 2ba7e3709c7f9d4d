#include "zip/writer/pack_ahead.h"

#include <algorithm>
#include <cstring>

#include "platform/file_system.h"
#include "zip/records/crc32.h"
#include "zip/records/zip_format.h"

namespace kzb::zip {

namespace {

// Input bytes planned ahead of the writer per worker, and at least in all. More keeps the workers busy
// through runs of small files and slow writes; less holds less memory.
constexpr std::int64_t kBytesAheadPerWorker = 4 << 20;
constexpr std::int64_t kMinBytesAhead = 12 << 20;
// Files planned ahead of the writer at most: bounds the bookkeeping for trees of tiny files.
constexpr std::size_t kMaxFilesAhead = 1024;

// Reads through a memory buffer, as DeflateFile's input callback.
struct BufferReader {
  const std::uint8_t* data;
  std::int64_t size;
  std::int64_t pos = 0;
  std::int64_t operator()(std::uint8_t* buffer, std::int64_t max) {
    const std::int64_t n = std::min(max, size - pos);
    if (n <= 0) return 0;
    std::memcpy(buffer, data + pos, static_cast<std::size_t>(n));
    pos += n;
    return n;
  }
};

}  // namespace

std::int64_t PieceCount(std::int64_t size) {
  if (size <= kWholeFileLimit) return 1;
  return (size + kPieceSize - 1) / kPieceSize;
}

DeflateResult DeflatePieces(TDeflater& deflater, int level, std::int64_t size, const ReadInputFn& read_input,
                            const WriteOutputFn& write_output) {
  if (PieceCount(size) == 1) return deflater.DeflateFile(level, read_input, write_output);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kPieceDictionary + kPieceSize));
  DeflateResult first;
  std::int64_t total = 0;
  std::int64_t offset = 0;
  std::int64_t dictionary = 0;
  for (std::int64_t k = 0;; ++k) {
    const std::int64_t length = std::min(kPieceSize, size - offset);
    std::int64_t got = 0;
    while (got < length) {
      const std::int64_t n = read_input(buffer.data() + dictionary + got, length - got);
      if (n <= 0) break;
      got += n;
    }
    const bool last = offset + length >= size || got < length;
    const ReadInputFn piece_input = BufferReader{buffer.data() + dictionary, got};
    const DeflateResult result =
        deflater.DeflateChunk(level, buffer.data(), dictionary, last, piece_input, write_output);
    if (k == 0) first = result;
    total += result.compressed_size;
    if (last) break;
    std::memmove(buffer.data(), buffer.data() + dictionary + got - kPieceDictionary,
                 static_cast<std::size_t>(kPieceDictionary));
    dictionary = kPieceDictionary;
    offset += length;
  }
  first.compressed_size = total;
  first.stored = false;
  return first;
}

TPackAhead::TPackAhead(const std::vector<std::string>& files, int threads,
                       std::function<int(const std::string&)> level_for)
    : files_(files), level_for_(std::move(level_for)) {
  pool_ = std::make_unique<TWorkerPool>(threads);
  deflaters_.emplace(*pool_);
  limit_bytes_ = std::max(kMinBytesAhead, kBytesAheadPerWorker * pool_->Workers());
}

TPackAhead::~TPackAhead() {
  {
    std::lock_guard lock(mutex_);
    for (const auto& file : ahead_) file->dropped = true;
  }
  pool_.reset();
}

std::shared_ptr<TPackAhead::File> TPackAhead::Claim(std::size_t index) {
  while (!ahead_.empty() && ahead_.front()->index < index) DropFront();
  if (next_file_ < index) next_file_ = index;
  TopUp(false);
  if (!ahead_.empty() && ahead_.front()->index == index) return ahead_.front();
  return nullptr;
}

const TPackAhead::Piece& TPackAhead::Wait(File& file, std::int64_t k) {
  while (static_cast<std::int64_t>(file.planned.size()) <= k) {
    if (!PlanNextPiece(false)) break;
  }
  Piece& piece = *file.planned.at(static_cast<std::size_t>(k));
  std::unique_lock lock(mutex_);
  done_.wait(lock, [&] { return piece.done; });
  return piece;
}

void TPackAhead::Release(File& file, std::int64_t k) {
  Piece& piece = *file.planned.at(static_cast<std::size_t>(k));
  bytes_in_flight_ -= piece.length;
  std::vector<std::uint8_t>().swap(piece.data);
  file.released = k + 1;
  TopUp(false);
}

void TPackAhead::Finish(File& file) {
  if (!ahead_.empty() && ahead_.front().get() == &file) DropFront();
  TopUp(false);
}

void TPackAhead::DropFront() {
  const std::shared_ptr<File> file = ahead_.front();
  ahead_.pop_front();
  {
    std::lock_guard lock(mutex_);
    file->dropped = true;
  }
  for (std::size_t k = static_cast<std::size_t>(file->released); k < file->planned.size(); ++k) {
    bytes_in_flight_ -= file->planned[k]->length;
  }
  file->released = static_cast<std::int64_t>(file->planned.size());
}

void TPackAhead::TopUp(bool force_one) {
  while (force_one || bytes_in_flight_ < limit_bytes_) {
    if (!PlanNextPiece(ahead_.size() < kMaxFilesAhead)) break;
    force_one = false;
  }
}

bool TPackAhead::PlanNextPiece(bool may_start_file) {
  std::shared_ptr<File> file;
  if (!ahead_.empty() && static_cast<std::int64_t>(ahead_.back()->planned.size()) < ahead_.back()->pieces) {
    file = ahead_.back();
  } else {
    if (!may_start_file) return false;
    while (!file && next_file_ < files_.size()) {
      const std::size_t index = next_file_++;
      const std::string& path = files_[index];
      const int level = level_for_(path);
      if (level <= 0) continue;
      // Regular files only (a worker must never open a pipe or a device), looked at once.
      platform::FileStatus status;
      bool known = false;
      try {
        known = platform::GetFileStatus(path, status);
      } catch (const std::exception&) {
        known = false;  // the writer finds out what is wrong with it
      }
      if (!known || (status.attr & platform::kFaDirectory) != 0) continue;
      if (status.unix_mode != 0 && (status.unix_mode & kUnixTypeMask) != kUnixRegular) continue;
      const std::int64_t size = status.size;
      if (size <= 0) continue;
      file = std::make_shared<File>();
      file->index = index;
      file->path = path;
      file->level = level;
      file->size = static_cast<std::int64_t>(size);
      file->pieces = PieceCount(file->size);
      ahead_.push_back(file);
    }
    if (!file) return false;
  }
  auto piece = std::make_shared<Piece>();
  const std::int64_t k = static_cast<std::int64_t>(file->planned.size());
  piece->offset = k * kPieceSize;
  piece->length = file->pieces == 1 ? file->size : std::min(kPieceSize, file->size - piece->offset);
  file->planned.push_back(piece);
  bytes_in_flight_ += piece->length;
  pool_->Submit([this, file, piece] { RunPiece(file, piece); });
  return true;
}

void TPackAhead::RunPiece(std::shared_ptr<File> file, std::shared_ptr<Piece> piece) {
  {
    std::lock_guard lock(mutex_);
    if (file->dropped) {
      piece->failed = true;
      piece->done = true;
      done_.notify_all();
      return;
    }
  }
  bool failed = false;
  std::int64_t got = 0;
  std::uint32_t crc = 0;
  std::uint32_t head_crc = 0;
  std::uint32_t tail_crc = 0;
  DeflateResult result;
  std::vector<std::uint8_t> data;
  try {
    TDeflater& deflater = deflaters_->Get();
    platform::File input(file->path, platform::File::Mode::kRead);
    const std::int64_t dictionary = std::min(kPieceDictionary, piece->offset);
    input.Seek(piece->offset - dictionary, 0);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(dictionary + piece->length));
    std::int64_t have = 0;
    while (have < static_cast<std::int64_t>(buffer.size())) {
      const std::int64_t n = input.Read(buffer.data() + have, static_cast<std::int64_t>(buffer.size()) - have);
      if (n <= 0) break;
      have += n;
    }
    if (have < dictionary) {
      failed = true;
    } else {
      got = have - dictionary;
      const std::uint8_t* own = buffer.data() + dictionary;
      crc = Crc32Of(own, static_cast<std::size_t>(got));
      head_crc = Crc32Of(buffer.data(), static_cast<std::size_t>(dictionary));
      const std::int64_t tail = std::min(kPieceDictionary, got);
      tail_crc = Crc32Of(own + got - tail, static_cast<std::size_t>(tail));
      data.reserve(static_cast<std::size_t>(got / 2 + 1024));
      const WriteOutputFn output = [&data](const std::uint8_t* bytes, std::int64_t count) {
        data.insert(data.end(), bytes, bytes + count);
      };
      const ReadInputFn reader = BufferReader{own, got};
      if (file->pieces == 1) {
        result = deflater.DeflateFile(file->level, reader, output);
      } else {
        const bool last = piece->offset + piece->length >= file->size;
        result = deflater.DeflateChunk(file->level, buffer.data(), dictionary, last, reader, output);
      }
    }
  } catch (...) {
    failed = true;  // the writer compresses the file itself and meets the error there
  }
  std::lock_guard lock(mutex_);
  piece->failed = failed;
  piece->got = got;
  piece->crc = crc;
  piece->head_crc = head_crc;
  piece->tail_crc = tail_crc;
  piece->result = result;
  piece->data = std::move(data);
  piece->done = true;
  done_.notify_all();
}

}  // namespace kzb::zip
