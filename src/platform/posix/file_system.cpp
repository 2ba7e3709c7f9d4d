// Files and folders on POSIX: stat, readdir, rename and fsync.
#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/path.h"

namespace kzb::platform {

namespace {

std::string Cause(int err) {
  return std::strerror(err);
}

std::string OpenMessage(const std::string& path, int err) {
  return "Cannot open file \"" + path + "\". " + Cause(err);
}

std::string CreateMessage(const std::string& path, int err) {
  return "Cannot create file \"" + path + "\". " + Cause(err);
}

DateTime FromTimespec(const timespec& ts) {
  return DateTime::FromUnixTime(ts.tv_sec).AddDays(static_cast<double>(ts.tv_nsec / 1'000'000) / 86'400'000.0);
}

timespec FromStatx(const statx_timestamp& t) {
  timespec ts{};
  ts.tv_sec = static_cast<std::time_t>(t.tv_sec);
  ts.tv_nsec = static_cast<long>(t.tv_nsec);
  return ts;
}

// Attribute bits of a stat result; name is the entry's own name (decides hidden).
std::uint32_t AttributesOf(const struct stat& st, const std::string& name) {
  std::uint32_t attr = 0;
  if (S_ISDIR(st.st_mode)) {
    attr |= kFaDirectory;
  } else {
    attr |= kFaArchive;
  }
  if ((st.st_mode & S_IWUSR) == 0) attr |= kFaReadOnly;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") attr |= kFaHidden;
  return attr;
}

bool StatFollow(const std::string& path, struct stat& st) {
  return ::stat(path.c_str(), &st) == 0;
}

// The part of a temporary name that names this process: "<pid>-".
std::string ProcessTag() {
  return std::to_string(::getpid()) + "-";
}

// Flushes the folder holding path; false when it cannot be opened or flushed.
bool SyncFolderOf(const std::string& path) {
  const std::string folder = ExtractFilePath(path);
  return SyncDirectory(folder.empty() ? std::string(".") : folder);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// FileFinder

struct FileFinder::State {
  std::string folder;  // with trailing separator, or "" for the current folder
  std::string mask;
  std::uint32_t attr_mask = 0;
  std::vector<std::string> names;
  std::size_t next = 0;
};

FileFinder::FileFinder() = default;
FileFinder::~FileFinder() = default;

bool FileFinder::FindFirst(const std::string& pattern, std::uint32_t attr_mask, SearchRec& rec) {
  FindClose();
  auto state = std::make_unique<State>();
  state->folder = ExtractFilePath(pattern);
  state->mask = ExtractFileName(pattern);
  state->attr_mask = attr_mask;
  if (state->mask.empty()) return false;
  DIR* dir = ::opendir(state->folder.empty() ? "." : state->folder.c_str());
  if (dir == nullptr) return false;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (MatchesFindMask(name, state->mask)) state->names.push_back(std::move(name));
  }
  ::closedir(dir);
  std::sort(state->names.begin(), state->names.end());
  state_ = std::move(state);
  return FindNext(rec);
}

bool FileFinder::FindNext(SearchRec& rec) {
  if (!state_) return false;
  // Bits that make an entry visible only when the caller asks for them.
  constexpr std::uint32_t kSpecial = kFaHidden | kFaSysFile | kFaDirectory;
  while (state_->next < state_->names.size()) {
    const std::string& name = state_->names[state_->next++];
    struct statx stx {};
    if (::statx(AT_FDCWD, (state_->folder + name).c_str(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME,
                &stx) != 0) {
      continue;  // vanished or dangling link
    }
    if (!S_ISDIR(stx.stx_mode) && !S_ISREG(stx.stx_mode)) continue;
    struct stat st {};
    st.st_mode = stx.stx_mode;
    const std::uint32_t attr = AttributesOf(st, name);
    if ((attr & kSpecial & ~state_->attr_mask) != 0) continue;
    rec.name = name;
    rec.attr = attr;
    rec.size = S_ISDIR(stx.stx_mode) ? 0 : static_cast<std::int64_t>(stx.stx_size);
    const timespec mtime = FromStatx(stx.stx_mtime);
    rec.unix_time = mtime.tv_sec;
    rec.time = FromTimespec(mtime);
    rec.access_time = FromTimespec(FromStatx(stx.stx_atime));
    rec.creation_time = FromTimespec(FromStatx((stx.stx_mask & STATX_BTIME) != 0 ? stx.stx_btime : stx.stx_ctime));
    rec.device = (static_cast<std::uint64_t>(stx.stx_dev_major) << 32) | stx.stx_dev_minor;
    rec.inode = stx.stx_ino;
    return true;
  }
  return false;
}

void FileFinder::FindClose() {
  state_.reset();
}

// ---------------------------------------------------------------------------------------------------------
// Single-file services

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && StatFollow(path, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && StatFollow(path, st) && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool RemoveDirectory(const std::string& path) {
  return ::rmdir(path.c_str()) == 0;
}

bool RenameFile(const std::string& old_path, const std::string& new_path) {
  if (::renameat2(AT_FDCWD, old_path.c_str(), AT_FDCWD, new_path.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // The file system cannot refuse to replace by itself; check first (not atomic, but the best available).
  struct stat st {};
  if (::lstat(new_path.c_str(), &st) == 0) return false;
  return ::rename(old_path.c_str(), new_path.c_str()) == 0;
}

bool ReplaceFile(const std::string& source, const std::string& target) {
  return ::rename(source.c_str(), target.c_str()) == 0;
}

bool CopyFile(const std::string& source, const std::string& target, bool fail_if_exists) {
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  if (::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(in);
    return false;
  }
  struct stat target_st {};
  if (StatFollow(target, target_st) && (fail_if_exists || S_ISDIR(target_st.st_mode))) {
    ::close(in);
    return false;
  }
  // Copy into a hidden temporary file beside the target and rename it into place, so that a failed copy
  // (disk full, read error) never leaves a truncated target or destroys the file it was to replace.
  std::string temp_template = ExtractFilePath(target) + ".kzb-copy-XXXXXX";
  int out = ::mkostemp(temp_template.data(), O_CLOEXEC);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    ssize_t done = 0;
    while (done < n) {
      ssize_t w = ::write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  if (ok) {
    // Permissions and times follow the bytes where the target's file system keeps them; one without
    // POSIX permissions refuses them, and the copy is still whole.
    (void)::fchmod(out, st.st_mode & 07777);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    (void)::futimens(out, times);
  }
  if (::close(out) != 0) ok = false;
  ::close(in);
  bool temp_renamed = false;
  if (ok) {
    if (fail_if_exists) {
      ok = temp_renamed = ::renameat2(AT_FDCWD, temp_template.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0;
      if (!ok && (errno == EINVAL || errno == ENOSYS)) {
        // No atomic no-replace rename here: a hard link fails when the target exists.
        ok = ::link(temp_template.c_str(), target.c_str()) == 0;
      }
    } else {
      ok = temp_renamed = ::rename(temp_template.c_str(), target.c_str()) == 0;
    }
  }
  if (!temp_renamed) ::unlink(temp_template.c_str());
  return ok;
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string full = ExcludeTrailingSeparator(path);
  if (DirectoryExists(full)) return true;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = full.find(kPathSeparator, pos + 1);
    std::string part = full.substr(0, pos);
    if (part.empty()) continue;
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return DirectoryExists(full);
}

bool SyncDirectory(const std::string& dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // A folder this process may write but not read cannot be opened for the flush; that is no fault of
  // the device, and nothing better can be done about it.
  if (fd < 0) return errno == EACCES || errno == EPERM;
  // Some file systems cannot flush a folder (EINVAL): their folder updates need no flush to last.
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
  ::close(fd);
  return ok;
}

std::int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (!StatFollow(path, st) || S_ISDIR(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t GetFileAttributes(const std::string& path) {
  struct stat st {};
  if (path.empty() || !StatFollow(path, st)) return -1;
  return AttributesOf(st, ExtractFileName(ExcludeTrailingSeparator(path)));
}

bool SetFileAttributes(const std::string& path, std::uint32_t attr) {
  struct stat st {};
  if (!StatFollow(path, st)) return false;
  mode_t mode = st.st_mode & 07777;
  if ((attr & kFaReadOnly) != 0) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  if (mode == (st.st_mode & 07777)) return true;
  return ::chmod(path.c_str(), mode) == 0;
}

bool ClearArchiveAttribute(const std::string& path) {
  return !path.empty() && GetFileAttributes(path) >= 0;
}

namespace {

void StatusOf(const struct stat& st, const std::string& path, FileStatus& status) {
  status.attr = AttributesOf(st, ExtractFileName(ExcludeTrailingSeparator(path)));
  status.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
  status.time = FromTimespec(st.st_mtim);
  status.unix_time = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  status.unix_mode = static_cast<std::uint32_t>(st.st_mode);
}

}  // namespace

bool GetFileStatus(const std::string& path, FileStatus& status) {
  struct stat st {};
  if (path.empty() || !StatFollow(path, st)) return false;
  StatusOf(st, path, status);
  return true;
}

std::uint32_t ArchiveAttributes(const FileStatus& status) {
  return (status.unix_mode << 16) | (status.attr & 0xFF);
}

std::uint32_t FileCreationMask() {
  // Linux reports the mask in the process status; changing it to read it would race with other threads
  // creating files.
  std::string text;
  if (ReadFileContent("/proc/self/status", text)) {
    const auto at = text.find("\nUmask:");
    if (at != std::string::npos) {
      return static_cast<std::uint32_t>(std::strtoul(text.c_str() + at + 8, nullptr, 8)) & 0777;
    }
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return static_cast<std::uint32_t>(mask) & 0777;
}

bool SetFileMode(const std::string& path, std::uint32_t mode) {
  return !path.empty() && ::chmod(path.c_str(), static_cast<mode_t>(mode & 07777)) == 0;
}

std::string ToShortPath(const std::string& path) {
  return path;
}

DateTime GetFileTime(const std::string& path) {
  struct stat st {};
  if (!StatFollow(path, st)) throw EFileError(OpenMessage(path, errno));
  return FromTimespec(st.st_mtim);
}

bool SetFileTime(const std::string& path, DateTime local_time) {
  const DateTimeParts parts = local_time.Parts();
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = local_time.ToUnixTime();
  if (times[1].tv_sec == static_cast<std::time_t>(-1) && parts.year != 1969) return false;
  times[1].tv_nsec = static_cast<long>(parts.millisecond) * 1'000'000L;
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool SetFileUnixTime(const std::string& path, std::int64_t unix_time) {
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<std::time_t>(unix_time);
  times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::int64_t DiskFreeSpace(const std::string& path) {
  struct statvfs vfs {};
  if (::statvfs(path.c_str(), &vfs) != 0) return -1;
  return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

bool IsDirectoryWritable(const std::string& dir) {
  if (!DirectoryExists(dir)) return false;
  std::string probe = IncludeTrailingSeparator(dir) + ".kzb-probe-XXXXXX";
  int fd = ::mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());  // an empty probe that cannot be removed again harms nothing
  return true;
}

std::string CreateTempFile(const std::string& dir, const std::string& prefix) {
  const std::string folder = dir.empty() ? TempDir() : IncludeTrailingSeparator(dir);
  // mkostemps puts six random characters in place of the X's, as many as IsAbandonedTempName expects.
  std::string name = folder + prefix + ProcessTag() + "XXXXXX" + std::string(kCreateTempFileSuffix);
  int fd = ::mkostemps(name.data(), static_cast<int>(kCreateTempFileSuffix.size()), O_CLOEXEC);
  if (fd < 0) throw EFCreateError(CreateMessage(folder + prefix + "*.tmp", errno));
  ::close(fd);  // mkostemps made it with mode 0600
  return name;
}

bool ReadFileContent(const std::string& path, std::string& content) {
  content.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  char buffer[1 << 15];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      content.clear();
      return false;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

void WriteFileAtomic(const std::string& path, std::string_view content, std::uint32_t new_file_mode) {
  // Replace what a link points to, not the link itself.
  std::string target = path;
  struct stat lst {};
  if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  struct stat st {};
  const bool existed = ::stat(target.c_str(), &st) == 0;
  const mode_t mode = existed ? (st.st_mode & 07777) : static_cast<mode_t>(new_file_mode & 07777);

  const std::string folder = ExtractFilePath(target);
  std::string temp = folder + AtomicWriteTempPrefix(ExtractFileName(target)) + ProcessTag() + "XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) throw EFCreateError(CreateMessage(path, errno));
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw EFCreateError(CreateMessage(path, err));
  };
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(n < 0 ? errno : ENOSPC);
    done += static_cast<std::size_t>(n);
  }
  if (::fchmod(fd, mode) != 0) fail(errno);
  if (::fsync(fd) != 0) fail(errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    throw EFCreateError(CreateMessage(path, err));
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    throw EFCreateError(CreateMessage(path, err));
  }
  // Make the rename itself durable: a device that fails here may lose the new content after all.
  if (!SyncFolderOf(target)) throw EFCreateError(CreateMessage(path, errno != 0 ? errno : EIO));
}

// ---------------------------------------------------------------------------------------------------------
// File

File::File(const std::string& path, Mode mode, std::uint32_t create_permissions) : path_(path) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kRead:
      flags |= O_RDONLY;
      break;
    case Mode::kReadWrite:
      flags |= O_RDWR;
      break;
    case Mode::kCreate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case Mode::kCreateNew:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      break;
  }
  int fd = ::open(path.c_str(), flags, static_cast<mode_t>(create_permissions & 07777));
  int err = errno;
  if (fd >= 0 && mode != Mode::kCreateNew) {  // a file just made is no folder
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      fd = -1;
      err = EISDIR;
    }
  }
  handle_ = fd;
  if (fd < 0) {
    if (mode == Mode::kCreate || mode == Mode::kCreateNew) throw EFCreateError(CreateMessage(path, err));
    throw EFOpenError(OpenMessage(path, err));
  }
}

File::~File() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::int64_t File::Read(void* buffer, std::int64_t count) {
  auto* out = static_cast<char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(count - done, 1 << 30));
    ssize_t n = ::read(static_cast<int>(handle_), out + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EFileError("Cannot read file \"" + path_ + "\". " + Cause(errno));
    if (n == 0) break;
    done += n;
  }
  return done;
}

std::int64_t File::Write(const void* buffer, std::int64_t count) {
  const auto* in = static_cast<const char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(count - done, 1 << 30));
    ssize_t n = ::write(static_cast<int>(handle_), in + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG) break;
      throw EFileError("Cannot write file \"" + path_ + "\". " + Cause(errno));
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

std::int64_t File::Seek(std::int64_t offset, int origin) {
  const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  off_t pos = ::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), whence);
  if (pos < 0) throw EFileError("Cannot seek in file \"" + path_ + "\". " + Cause(errno));
  return static_cast<std::int64_t>(pos);
}

std::int64_t File::Size() const {
  struct stat st {};
  if (::fstat(static_cast<int>(handle_), &st) != 0)
    throw EFileError("Cannot read file \"" + path_ + "\". " + Cause(errno));
  return static_cast<std::int64_t>(st.st_size);
}

void File::Status(FileStatus& status) const {
  struct stat st {};
  if (::fstat(static_cast<int>(handle_), &st) != 0)
    throw EFileError("Cannot read file \"" + path_ + "\". " + Cause(errno));
  StatusOf(st, path_, status);
}

void File::Truncate(std::int64_t size) {
  if (::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) != 0) {
    throw EFileError("Cannot write file \"" + path_ + "\". " + Cause(errno));
  }
}

void File::FlushToDisk() {
  if (::fsync(static_cast<int>(handle_)) != 0 && errno != EINVAL) {
    throw EFileError("Cannot write file \"" + path_ + "\". " + Cause(errno));
  }
}

}  // namespace kzb::platform
