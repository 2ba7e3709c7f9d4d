// The writer's output: one archive file, or a set of volumes, each written under a temporary name beside
// its final one and renamed into place only when the whole run has succeeded (Commit); a failed run
// discards them all (Discard), so neither a partial archive nor a half-replaced set is ever left. A
// volume holds at most its limit (the device's room for spanned sets, the block size for block sets); the
// writer asks RoomLeft and starts the next volume itself. Position and Rewind work within the current
// volume, which is all the writer needs to patch a local header written on it. A device that takes fewer
// bytes than it is given ends the run with ENotEnoughRoom when the volume is closed.
#include "zip/writer/volume_output.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "platform/file_system.h"
#include "platform/fs_path.h"
#include "platform/path.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

namespace fs = std::filesystem;

namespace {

// RoomLeft without a limit: large, but far from overflowing when sizes are added to it.
constexpr std::int64_t kUnlimitedRoom = std::numeric_limits<std::int64_t>::max() / 4;

// A device that holds only limit bytes: writes beyond it are short, as on a full disk.
class DeviceLimitStream : public TStream {
 public:
  DeviceLimitStream(TStream& inner, std::int64_t limit) : inner_(inner), limit_(limit) {}
  std::int64_t Read(void* buffer, std::int64_t count) override { return inner_.Read(buffer, count); }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    const std::int64_t room = std::max<std::int64_t>(0, limit_ - inner_.Position());
    const std::int64_t n = std::min(count, room);
    return n > 0 ? inner_.Write(buffer, n) : 0;
  }
  std::int64_t Seek(std::int64_t offset, int origin) override { return inner_.Seek(offset, origin); }
  std::int64_t Size() override { return inner_.Size(); }
  void SetSize(std::int64_t size) override { inner_.SetSize(size); }

 private:
  TStream& inner_;
  std::int64_t limit_;
};

std::string FolderOf(const std::string& path) {
  std::string folder = platform::ExtractFilePath(path);
  return folder.empty() ? std::string(".") + platform::kPathSeparator : folder;
}

}  // namespace

TVolumeOutput::TVolumeOutput(Options options) : options_(std::move(options)) {}

TVolumeOutput::~TVolumeOutput() {
  if (!committed_) Discard();
}

std::string TVolumeOutput::NumberedName(const std::string& zip_name, int volume) {
  char ext[16];
  std::snprintf(ext, sizeof ext, ".%03d", volume + 1);
  return platform::ChangeFileExt(zip_name, ext);
}

void TVolumeOutput::CreateVolume(const std::string& final_name, std::int64_t limit) {
  VolumeFile volume;
  volume.final_name = final_name;
  try {
    volume.temp_name = platform::CreateTempFile(FolderOf(final_name), kWriterTempPrefix);
  } catch (const platform::EFCreateError& error) {
    // Report the archive, not the temporary name: "Cannot create file \"NAME\". CAUSE".
    const std::string text = error.what();
    const std::size_t cause = text.find("\". ");
    throw platform::EFCreateError("Cannot create file \"" + final_name + "\"." +
                                  (cause == std::string::npos ? std::string() : text.substr(cause + 2)));
  }
  volumes_.push_back(volume);
  file_ = std::make_unique<TFileStream>(volume.temp_name, platform::File::Mode::kCreate);
  TStream* target = file_.get();
  if (options_.device_limit >= 0) {
    limited_ = std::make_unique<DeviceLimitStream>(*file_, options_.device_limit);
    target = limited_.get();
  }
  buffered_ = std::make_unique<TS_BufferStream>(*target, options_.buffer_size);
  limit_ = limit;
  high_water_ = 0;
}

void TVolumeOutput::Open() {
  std::string final_name = options_.zip_name;
  if (options_.multi_volume) {
    final_name = NumberedName(options_.zip_name, 0);
  } else {
    // Replacing a link replaces the file it points to, not the link.
    std::error_code ec;
    if (fs::is_symlink(platform::FsPath(final_name), ec)) {
      fs::path target = fs::canonical(platform::FsPath(final_name), ec);
      if (!ec) final_name = platform::FromFsPath(target);
    }
  }
  CreateVolume(final_name, options_.multi_volume ? options_.first_limit : -1);
}

std::int64_t TVolumeOutput::RoomLeft() {
  if (limit_ < 0) return kUnlimitedRoom;
  return limit_ - Position();
}

void TVolumeOutput::Rewind(std::int64_t position) {
  high_water_ = std::max(high_water_, Position());
  buffered_->Seek(position, kSeekBegin);
}

void TVolumeOutput::Close() {
  if (!buffered_) return;
  const std::int64_t end = Position();
  if (!buffered_->Flush()) throw ENotEnoughRoom("Not enough room to write archive");
  if (high_water_ > end) file_->SetSize(end);
  if (options_.flush_to_disk) file_->FlushToDisk();
  buffered_.reset();
  limited_.reset();
  file_.reset();
}

void TVolumeOutput::NextVolume() {
  Close();
  const int next = Volume() + 1;  // 0-based number of the new volume
  std::string name = NumberedName(options_.zip_name, next);
  if (options_.ask_next_name) {
    std::string asked = name;
    options_.ask_next_name(next + 1, asked);
    if (asked.empty()) throw EUserCanceled("User canceled Zip operation");
    bool reused = false;
    for (const VolumeFile& volume : volumes_) {
      reused = reused || platform::ExpandFileName(volume.final_name) == platform::ExpandFileName(asked);
    }
    if (!reused) name = asked;
  }
  if (options_.prepare_next_disk) options_.prepare_next_disk(next + 1);
  const std::int64_t limit = options_.next_limit ? options_.next_limit(name) : -1;
  CreateVolume(name, limit);
}

std::vector<std::string> TVolumeOutput::FinalNames() const {
  std::vector<std::string> names;
  for (const VolumeFile& volume : volumes_) names.push_back(volume.final_name);
  if (options_.multi_volume && names.size() == 1) names[0] = options_.zip_name;
  return names;
}

std::string TVolumeOutput::Commit() {
  Close();
  const std::vector<std::string> finals = FinalNames();
  for (std::size_t i = 0; i < volumes_.size(); ++i) {
    VolumeFile& volume = volumes_[i];
    std::error_code ec;
    fs::perms perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
    const fs::file_status old_status = fs::status(platform::FsPath(finals[i]), ec);
    if (!ec && fs::is_regular_file(old_status)) perms = old_status.permissions() & fs::perms::mask;
    fs::permissions(platform::FsPath(volume.temp_name), perms, ec);
    if (!platform::ReplaceFile(volume.temp_name, finals[i])) {
      throw EZipGeneralError("Could not copy from " + volume.temp_name + " -> " + finals[i]);
    }
    volume.temp_name.clear();
  }
  committed_ = true;
  if (options_.flush_to_disk) {
    // The files were flushed before they were closed; this makes their names last as well.
    std::vector<std::string> folders;
    for (const std::string& name : finals) {
      const std::string folder = FolderOf(name);
      if (std::find(folders.begin(), folders.end(), folder) != folders.end()) continue;
      folders.push_back(folder);
      if (!platform::SyncDirectory(folder)) {
        throw platform::EFileError("Cannot write folder \"" + folder + "\". " + std::strerror(errno));
      }
    }
  }
  return finals.back();
}

void TVolumeOutput::Discard() noexcept {
  buffered_.reset();
  limited_.reset();
  file_.reset();
  for (VolumeFile& volume : volumes_) {
    // A temporary file that cannot be removed now carries this process's id in its name; the next backup
    // run into the folder removes it (see IsAbandonedTempName).
    if (!volume.temp_name.empty()) (void)platform::DeleteFile(volume.temp_name);
    volume.temp_name.clear();
  }
}

std::string WriteZfcFile(const std::string& zip_name, const std::vector<std::uint8_t>& bytes) {
  const std::string zfc_name = platform::ChangeFileExt(zip_name, ".zfc");
  try {
    platform::WriteFileAtomic(zfc_name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  } catch (const platform::EFCreateError&) {
    return "Unable to create Zip Configuration File to disk";
  } catch (const platform::EFileError&) {
    return "Unable to save Zip Configuration File to disk";
  }
  return std::string();
}

}  // namespace kzb::zip
