// Where the data of the entry being written goes (ZipRun's sink): staged in memory while small, then
// streamed into the archive behind a provisional local header, or, for volumes, into a temporary entry
// file that is copied onto the volumes once its header is final.
#include <algorithm>

#include "platform/file_system.h"
#include "platform/path.h"
#include "zip/writer/vcl_zip.h"
#include "zip/writer/zip_run.h"

namespace kzb::zip {

void ZipRun::SinkBegin(TZipHeaderInfo& header, bool reserve_zip64) {
  sink_header_ = &header;
  sink_reserve_zip64_ = reserve_zip64;
  sink_memory_.clear();
  sink_size_ = 0;
  sink_mode_ = SinkMode::kMemory;
  sink_start_ = output_->Position();
  if (reserve_zip64 && !multi_volume_) {
    header.WriteLocal(output_->Stream(), true);
    sink_mode_ = SinkMode::kArchive;
  }
}

void ZipRun::SinkWrite(const std::uint8_t* data, std::int64_t count) {
  sink_size_ += count;
  if (sink_mode_ == SinkMode::kMemory) {
    if (sink_memory_.size() + static_cast<std::size_t>(count) <= kEntryMemoryLimit) {
      sink_memory_.insert(sink_memory_.end(), data, data + count);
      return;
    }
    if (!multi_volume_) {
      sink_header_->WriteLocal(output_->Stream(), sink_reserve_zip64_);
      output_->Stream().WriteBuffer(sink_memory_.data(), static_cast<std::int64_t>(sink_memory_.size()));
      sink_mode_ = SinkMode::kArchive;
    } else {
      std::string folder = zip_.temp_path_;
      if (folder.empty() || !platform::DirectoryExists(folder)) folder = platform::TempDir();
      sink_temp_name_ = platform::CreateTempFile(folder, "kzb");
      sink_temp_ = std::make_unique<TFileStream>(sink_temp_name_, platform::File::Mode::kCreate);
      sink_temp_->WriteBuffer(sink_memory_.data(), static_cast<std::int64_t>(sink_memory_.size()));
      sink_mode_ = SinkMode::kTempFile;
    }
    sink_memory_.clear();
  }
  if (sink_mode_ == SinkMode::kArchive) {
    output_->Stream().WriteBuffer(data, count);
  } else {
    sink_temp_->WriteBuffer(data, count);
  }
}

void ZipRun::SinkFinish() {
  TZipHeaderInfo& header = *sink_header_;
  switch (sink_mode_) {
    case SinkMode::kMemory:
      if (!multi_volume_) {
        header.WriteLocal(output_->Stream());
        output_->Stream().WriteBuffer(sink_memory_.data(), static_cast<std::int64_t>(sink_memory_.size()));
      } else {
        PlaceLocalHeader(header);
        CopyToVolumes(nullptr, sink_memory_.data(), static_cast<std::int64_t>(sink_memory_.size()),
                      header.UncompressedSize());
      }
      sink_memory_.clear();
      break;
    case SinkMode::kArchive:
      header.PatchLocal(output_->Stream());
      break;
    case SinkMode::kTempFile: {
      sink_temp_->Seek(0, kSeekBegin);
      PlaceLocalHeader(header);
      CopyToVolumes(sink_temp_.get(), nullptr, sink_size_, header.UncompressedSize());
      sink_temp_.reset();
      platform::DeleteFile(sink_temp_name_);
      sink_temp_name_.clear();
      break;
    }
  }
}

void ZipRun::SinkAbort() {
  sink_memory_.clear();
  if (sink_mode_ == SinkMode::kArchive) output_->Rewind(sink_start_);
  if (sink_temp_) {
    sink_temp_.reset();
    platform::DeleteFile(sink_temp_name_);
    sink_temp_name_.clear();
  }
  sink_mode_ = SinkMode::kMemory;
}

void ZipRun::PlaceLocalHeader(TZipHeaderInfo& header) {
  if (output_->RoomLeft() <= header.LocalSize() && !output_->VolumeEmpty()) {
    output_->NextVolume();
    central_entries_this_disk_ = 0;
  }
  header.SetDiskNumberStart(static_cast<std::uint32_t>(output_->Volume()));
  header.WriteLocal(output_->Stream());
}

void ZipRun::CopyToVolumes(TStream* source, const std::uint8_t* memory, std::int64_t count, std::int64_t uncompressed) {
  byte_total_ -= uncompressed - count;
  if (output_->RoomLeft() <= 0) output_->NextVolume();
  std::int64_t remaining = count;
  std::int64_t copied = 0;
  while (remaining > 0) {
    std::int64_t span = std::min(remaining, output_->RoomLeft());
    while (span > 0) {
      const std::int64_t piece = std::min(span, kCopyBlockSize);
      const std::uint8_t* bytes = memory != nullptr ? memory + copied : copy_buffer_.data();
      if (memory == nullptr) source->ReadBuffer(copy_buffer_.data(), piece);
      output_->Stream().WriteBuffer(bytes, piece);
      span -= piece;
      remaining -= piece;
      copied += piece;
      bytes_done_ += piece;
      if (zip_.OnFilePercentDone) FireFilePercent(Percent(uncompressed + copied, uncompressed + count));
      FireTotalPercent();
    }
    if (remaining > 0 || output_->RoomLeft() <= 0) output_->NextVolume();
  }
}

}  // namespace kzb::zip
