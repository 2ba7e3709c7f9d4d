// The data path of a writer run: the bytes of one file from its input to the archive.
//
// ReadInput reads the file (never past the size it had when it was opened), keeps the CRC and reports
// progress; WriteOutput encrypts a copy when a password is set and hands the bytes to the sink. The sink
// stages an entry's data in memory while it is small, so the local header can be written once with its
// final values and no seek is needed; a large entry spills into the archive behind a provisional local
// header that is patched when the sizes are known (or, for volumes, into a temporary entry file, because a
// header must be final before its data starts on a volume, and is then copied onto the volumes). An entry
// that is given up (a read error, data that changed between the passes) is cut off again by SinkAbort.
#include <algorithm>
#include <cmath>

#include "platform/path.h"
#include "zip/records/crc32.h"
#include "zip/writer/vcl_zip.h"
#include "zip/writer/zip_run.h"

namespace kzb::zip {

int ZipRun::Percent(std::int64_t done, std::int64_t total) {
  if (total <= 0) return 0;
  const double value = std::round(static_cast<double>(done) * 100.0 / static_cast<double>(total));
  return static_cast<int>(std::clamp(value, 0.0, 100.0));
}

std::int64_t ZipRun::ReadInput(std::uint8_t* buffer, std::int64_t max) {
  const std::int64_t room = input_limit_ - file_bytes_;
  if (room <= 0 || max <= 0) return 0;
  std::int64_t n;
  try {
    n = input_->Read(buffer, std::min(max, room));
  } catch (const platform::EFileError& error) {
    throw InputReadError{error.what()};
  }
  if (n <= 0) return 0;
  file_bytes_ += n;
  crc_register_ = UpdateCrcRegister(crc_register_, buffer, static_cast<std::size_t>(n));
  bytes_done_ += n;
  if (zip_.OnFilePercentDone) {
    int percent = Percent(file_bytes_, file_size_);
    if (multi_volume_) percent /= 2;
    FireFilePercent(percent);
  }
  FireTotalPercent();
  return n;
}

void ZipRun::WriteOutput(const std::uint8_t* data, std::int64_t count) {
  if (count <= 0) return;
  if (encrypting_) {
    if (encrypt_buffer_.size() < static_cast<std::size_t>(count))
      encrypt_buffer_.resize(static_cast<std::size_t>(count));
    if (aes_encrypting_) {
      aes_->Encrypt(data, encrypt_buffer_.data(), static_cast<std::size_t>(count));
    } else {
      crypt_.EncryptBuffer(data, encrypt_buffer_.data(), static_cast<std::size_t>(count));
    }
    SinkWrite(encrypt_buffer_.data(), count);
  } else {
    SinkWrite(data, count);
  }
  zip_.ProcessMessages();
}

void ZipRun::FireFilePercent(std::int64_t percent) {
  if (!zip_.OnFilePercentDone || percent == last_file_percent_) return;
  last_file_percent_ = static_cast<int>(percent);
  zip_.OnFilePercentDone(zip_, static_cast<int>(percent));
}

void ZipRun::FireTotalPercent() {
  if (!zip_.OnTotalPercentDone) return;
  const int percent = Percent(bytes_done_, byte_total_);
  if (percent == last_total_percent_) return;
  last_total_percent_ = percent;
  zip_.OnTotalPercentDone(zip_, percent);
}

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
      RemoveSinkTempFile();
      break;
    }
  }
}

void ZipRun::SinkAbort() {
  sink_memory_.clear();
  if (sink_mode_ == SinkMode::kArchive) output_->Rewind(sink_start_);
  if (sink_temp_) RemoveSinkTempFile();
  sink_mode_ = SinkMode::kMemory;
}

void ZipRun::RemoveSinkTempFile() {
  sink_temp_.reset();
  // The entry's data is on the volumes (or given up); a copy that cannot be removed is only a leftover in
  // the temporary folder, named with this process's id.
  (void)platform::DeleteFile(sink_temp_name_);
  sink_temp_name_.clear();
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
