#include "zip/stream/stream.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "zip/zip_errors.h"

namespace kzb::zip {

namespace {
void ThrowBadOrigin(int origin) {
  throw EZipGeneralError("Invalid seek origin (" + std::to_string(origin) + ")");
}
}  // namespace

std::int64_t TStream::Size() {
  const std::int64_t position = Seek(0, kSeekCurrent);
  const std::int64_t size = Seek(0, kSeekEnd);
  Seek(position, kSeekBegin);
  return size;
}

void TStream::SetSize(std::int64_t) {
  throw EStreamError("Stream does not support SetSize");
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EFatalUnzipError();
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw ENotEnoughRoom();
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  constexpr std::int64_t kPiece = 65536;
  std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min(std::max<std::int64_t>(count, 0), kPiece)));
  std::int64_t copied = 0;
  while (copied < count) {
    const std::int64_t want = std::min(kPiece, count - copied);
    const std::int64_t got = source.Read(piece.data(), want);
    if (got <= 0) break;
    WriteBuffer(piece.data(), got);
    copied += got;
    if (got < want) break;
  }
  return copied;
}

// --- TMemoryStream -------------------------------------------------------------------------------------

TMemoryStream::TMemoryStream(const void* data, std::size_t count)
    : data_(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + count) {}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  const std::int64_t size = Size();
  if (count <= 0 || position_ >= size) return 0;
  const std::int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  const std::int64_t n = std::min(count, std::max<std::int64_t>(0, write_limit_ - position_));
  if (n <= 0) return 0;
  if (position_ + n > Size()) data_.resize(static_cast<std::size_t>(position_ + n));
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, int origin) {
  std::int64_t target = 0;
  switch (origin) {
    case kSeekBegin:
      target = offset;
      break;
    case kSeekCurrent:
      target = position_ + offset;
      break;
    case kSeekEnd:
      target = Size() + offset;
      break;
    default:
      ThrowBadOrigin(origin);
  }
  if (target < 0) throw EZipGeneralError("Seek error");
  position_ = target;
  return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  data_.resize(static_cast<std::size_t>(size));
  position_ = std::min(position_, size);
}

// --- TFileStream ---------------------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& path, platform::File::Mode mode) : file_(path, mode) {}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  const std::int64_t position = std::exchange(position_, -1);
  const std::int64_t got = file_.Read(buffer, count);
  if (position >= 0) position_ = position + std::max<std::int64_t>(got, 0);
  return got;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  const std::int64_t position = std::exchange(position_, -1);
  const std::int64_t done = file_.Write(buffer, count);
  if (position >= 0) position_ = position + std::max<std::int64_t>(done, 0);
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, int origin) {
  if (origin < kSeekBegin || origin > kSeekEnd) ThrowBadOrigin(origin);
  if (origin == kSeekCurrent && offset == 0 && position_ >= 0) return position_;  // Position()
  std::int64_t target = offset;
  if (origin == kSeekCurrent) target += position_ >= 0 ? position_ : file_.Seek(0, kSeekCurrent);
  if (origin == kSeekEnd) target += file_.Size();
  if (target < 0) throw EZipGeneralError("Seek error");
  position_ = -1;
  position_ = file_.Seek(target, kSeekBegin);
  return position_;
}

std::int64_t TFileStream::Size() {
  return file_.Size();
}

void TFileStream::SetSize(std::int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  file_.Truncate(size);
}

void TFileStream::FlushToDisk() {
  file_.FlushToDisk();
}

}  // namespace kzb::zip
