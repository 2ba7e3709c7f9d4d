#include "zip/reader/split_set_stream.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/file_system.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

TSplitSetStream::TSplitSetStream(std::vector<std::string> parts) : parts_(std::move(parts)) {
  for (const std::string& part : parts_) {
    starts_.push_back(total_size_);
    TFileStream probe(part, platform::File::Mode::kRead);
    total_size_ += probe.Size();
  }
}

std::int64_t TSplitSetStream::Read(void* buffer, std::int64_t count) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int64_t total = 0;
  while (count > 0 && position_ < total_size_) {
    // The part holding the position: the last one starting at or before it.
    auto it = std::upper_bound(starts_.begin(), starts_.end(), position_);
    const int index = static_cast<int>(it - starts_.begin()) - 1;
    const std::int64_t part_end =
        static_cast<std::size_t>(index) + 1 < starts_.size() ? starts_[index + 1] : total_size_;
    if (index != open_index_) {
      open_part_.reset();
      open_index_ = -1;
      open_part_ = std::make_unique<TFileStream>(parts_[index], platform::File::Mode::kRead);
      open_index_ = index;
    }
    open_part_->Seek(position_ - starts_[index], kSeekBegin);
    const std::int64_t want = std::min(count, part_end - position_);
    const std::int64_t got = open_part_->Read(out, want);
    if (got <= 0) break;  // a part shrank since the set was opened
    out += got;
    total += got;
    count -= got;
    position_ += got;
  }
  return total;
}

std::int64_t TSplitSetStream::Write(const void* /*buffer*/, std::int64_t /*count*/) {
  return 0;
}

std::int64_t TSplitSetStream::Seek(std::int64_t offset, int origin) {
  std::int64_t target = 0;
  switch (origin) {
    case kSeekBegin:
      target = offset;
      break;
    case kSeekCurrent:
      target = position_ + offset;
      break;
    case kSeekEnd:
      target = total_size_ + offset;
      break;
    default: {
      char message[64];
      std::snprintf(message, sizeof message, "Invalid seek origin (%d)", origin);
      throw EZipGeneralError(message);
    }
  }
  if (target < 0) throw EZipGeneralError("Seek error");
  position_ = target;
  return position_;
}

std::vector<std::string> TSplitSetStream::FindParts(const std::string& any_part) {
  std::vector<std::string> parts;
  const std::size_t n = any_part.size();
  if (n < 5 || any_part[n - 4] != '.') return parts;
  for (std::size_t i = n - 3; i < n; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(any_part[i]))) return parts;
  }
  const std::string base = any_part.substr(0, n - 4);
  for (int number = 1; number <= 999; ++number) {
    char ext[8];
    std::snprintf(ext, sizeof ext, ".%03d", number);
    std::string part = base + ext;
    if (!platform::FileExists(part)) break;
    parts.push_back(std::move(part));
  }
  return parts;
}

}  // namespace kzb::zip
