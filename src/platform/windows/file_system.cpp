// Files and folders on Windows through the wide-character services.
//
// Every name goes through win::WinPath (UTF-8 to UTF-16, "/" to "\", the "\\?\" form for long paths).
// Files are opened with every share mode (read, write, delete) so that the engine may hold an archive open
// for reading while it is renamed or replaced, as it may on POSIX. Replacing a file is a rename over it
// (MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, or ReplaceFileW where the old
// file's attributes and permissions are to stay), never a copy over it.
#include <algorithm>
#include <random>

#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system.h"
#include "platform/windows/win_util.h"

namespace kzb::platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The attribute bits SetFileAttributesW accepts that this program sets.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

HANDLE ToHandle(std::intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h) : h_(h) {}
  ~ScopedHandle() {
    if (Valid()) CloseHandle(h_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE Get() const { return h_; }
  // Closes now; false when the close failed.
  bool Close() {
    if (!Valid()) return true;
    const bool ok = CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

bool Attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
  return !path.empty() && GetFileAttributesExW(win::WinPath(path).c_str(), GetFileExInfoStandard, &data) != 0;
}

std::int64_t SizeOf(DWORD high, DWORD low) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

// Identity of a folder (volume serial, file index) for loop checks; 0, 0 when it cannot be opened.
void FolderIdentity(const std::string& path, std::uint64_t& device, std::uint64_t& inode) {
  device = 0;
  inode = 0;
  ScopedHandle h(CreateFileW(win::WinPath(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!h.Valid() || !GetFileInformationByHandle(h.Get(), &info)) return;
  device = info.dwVolumeSerialNumber;
  inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// Six characters, as many as the random part IsAbandonedTempName expects.
std::string RandomPart() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 gen(std::random_device{}() ^ GetCurrentProcessId() ^ GetTickCount());
  std::string part;
  for (int i = 0; i < 6; ++i) part += kChars[gen() % (sizeof kChars - 1)];
  return part;
}

// The part of a temporary name that names this process: "<pid>-".
std::string ProcessTag() {
  return std::to_string(CurrentProcessId()) + "-";
}

// Creates a new file named prefix + random part + suffix (never an existing one); returns the handle,
// fills name, or INVALID_HANDLE_VALUE with the last error set.
HANDLE CreateUnique(const std::string& prefix, const std::string& suffix, DWORD flags, std::string& name) {
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = prefix + RandomPart() + suffix;
    HANDLE h = CreateFileW(win::WinPath(name).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                           flags, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE h, const char* data, std::size_t size, DWORD& error) {
  std::size_t done = 0;
  while (done < size) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(h, data + done, chunk, &written, nullptr)) {
      error = GetLastError();
      return false;
    }
    if (written == 0) {
      error = ERROR_DISK_FULL;
      return false;
    }
    done += written;
  }
  return true;
}

bool IsDiskFull(DWORD error) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// FileFinder

struct FileFinder::State {
  std::string folder;  // with trailing separator, or "" for the current folder
  std::uint32_t attr_mask = 0;
  std::vector<WIN32_FIND_DATAW> entries;
  std::size_t next = 0;
};

FileFinder::FileFinder() = default;
FileFinder::~FileFinder() = default;

bool FileFinder::FindFirst(const std::string& pattern, std::uint32_t attr_mask, SearchRec& rec) {
  FindClose();
  auto state = std::make_unique<State>();
  state->folder = ExtractFilePath(pattern);
  const std::string mask = ExtractFileName(pattern);
  state->attr_mask = attr_mask;
  if (mask.empty()) return false;
  // The whole folder is listed and the mask applied here, so that a mask never matches through a short
  // name ("*.htm" finding "page.html" by its alternate name PAGE~1.HTM) and works as on POSIX.
  WIN32_FIND_DATAW data{};
  HANDLE h = FindFirstFileExW(win::WinPath(state->folder + "*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                              nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) return false;
  do {
    if (MatchesFindMask(win::Narrow(data.cFileName), mask)) state->entries.push_back(data);
  } while (FindNextFileW(h, &data));
  ::FindClose(h);
  std::sort(state->entries.begin(), state->entries.end(), [](const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
    return win::Narrow(a.cFileName) < win::Narrow(b.cFileName);
  });
  state_ = std::move(state);
  return FindNext(rec);
}

bool FileFinder::FindNext(SearchRec& rec) {
  if (!state_) return false;
  constexpr std::uint32_t kSpecial = kFaHidden | kFaSysFile | kFaDirectory;
  while (state_->next < state_->entries.size()) {
    const WIN32_FIND_DATAW& data = state_->entries[state_->next++];
    const std::uint32_t attr = data.dwFileAttributes;
    // Devices and volume labels are not files; a folder or file reparse point (link) is taken as what it
    // points to, as the system's own listing does.
    if ((attr & FILE_ATTRIBUTE_DEVICE) != 0) continue;
    if ((attr & kSpecial & ~state_->attr_mask) != 0) continue;
    rec.name = win::Narrow(data.cFileName);
    rec.attr = attr;
    const bool folder = (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
    rec.size = folder ? 0 : SizeOf(data.nFileSizeHigh, data.nFileSizeLow);
    rec.unix_time = static_cast<std::time_t>(win::UnixFromFileTime(data.ftLastWriteTime));
    rec.time = win::LocalFromFileTime(data.ftLastWriteTime);
    rec.access_time = win::LocalFromFileTime(data.ftLastAccessTime);
    rec.creation_time = win::LocalFromFileTime(data.ftCreationTime);
    rec.device = 0;
    rec.inode = 0;
    if (folder) FolderIdentity(state_->folder + rec.name, rec.device, rec.inode);
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
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return Attributes(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return Attributes(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool DeleteFile(const std::string& path) {
  if (path.empty() || DirectoryExists(path)) return false;
  return DeleteFileW(win::WinPath(path).c_str()) != 0;
}

bool RemoveDirectory(const std::string& path) {
  return !path.empty() && RemoveDirectoryW(win::WinPath(path).c_str()) != 0;
}

bool RenameFile(const std::string& old_path, const std::string& new_path) {
  return MoveFileExW(win::WinPath(old_path).c_str(), win::WinPath(new_path).c_str(), 0) != 0;
}

bool ReplaceFile(const std::string& source, const std::string& target) {
  return MoveFileExW(win::WinPath(source).c_str(), win::WinPath(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool CopyFile(const std::string& source, const std::string& target, bool fail_if_exists) {
  if (!FileExists(source) || DirectoryExists(target)) return false;
  if (fail_if_exists && GetFileAttributes(target) >= 0) return false;
  // Copy to a temporary name beside the target, then rename it into place: a failed copy never leaves a
  // truncated target or destroys the file it was to replace.
  std::string temp;
  {
    HANDLE h = CreateUnique(ExtractFilePath(target) + "~kzb-copy-", ".tmp", FILE_ATTRIBUTE_NORMAL, temp);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
  }
  const std::wstring wide_temp = win::WinPath(temp);
  bool ok = CopyFileW(win::WinPath(source).c_str(), wide_temp.c_str(), FALSE) != 0;
  if (ok) {
    // CopyFileW carried the source's attributes over; a read-only copy could not be renamed over a target.
    const DWORD attr = GetFileAttributesW(wide_temp.c_str());
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_READONLY) != 0) {
      SetFileAttributesW(wide_temp.c_str(), attr & ~FILE_ATTRIBUTE_READONLY);
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (fail_if_exists ? 0 : MOVEFILE_REPLACE_EXISTING);
    ok = MoveFileExW(wide_temp.c_str(), win::WinPath(target).c_str(), flags) != 0;
    if (ok && attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_READONLY) != 0) {
      SetFileAttributesW(win::WinPath(target).c_str(), attr);
    }
  }
  if (!ok) DeleteFileW(wide_temp.c_str());
  return ok;
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  const std::string full = ExcludeTrailingSeparator(ToNativeSeparators(path));
  if (DirectoryExists(full)) return true;
  // The drive ("C:") or share ("\\server\share") prefix exists or not; it is never created.
  const std::string drive = ExtractFileDrive(full);
  std::size_t pos = drive.size();
  while (pos < full.size() && IsPathSeparator(full[pos])) ++pos;
  while (pos <= full.size()) {
    std::size_t next = full.find(kPathSeparator, pos);
    if (next == std::string::npos) next = full.size();
    const std::string part = full.substr(0, next);
    if (!part.empty() && !DirectoryExists(part) && !CreateDirectoryW(win::WinPath(part).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
    pos = next + 1;
  }
  return DirectoryExists(full);
}

bool SyncDirectory(const std::string& dir) {
  const std::string folder = dir.empty() ? std::string(".") : dir;
  if (!DirectoryExists(folder)) return false;
  // Renames here are made with MOVEFILE_WRITE_THROUGH and NTFS journals its folder updates; a folder's
  // buffers are flushed on top where the file system lets a folder be opened for writing. Where it does
  // not (other file systems, a folder this user may not write), there is nothing better to do.
  ScopedHandle h(CreateFileW(win::WinPath(folder).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (h.Valid()) (void)FlushFileBuffers(h.Get());
  return true;
}

std::int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!Attributes(path, data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return -1;
  return SizeOf(data.nFileSizeHigh, data.nFileSizeLow);
}

std::int64_t GetFileAttributes(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!Attributes(path, data)) return -1;
  return data.dwFileAttributes;
}

bool SetFileAttributes(const std::string& path, std::uint32_t attr) {
  const std::int64_t old = GetFileAttributes(path);
  if (old < 0) return false;
  const DWORD kept =
      static_cast<DWORD>(old) & ~kSettableAttributes & (FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE);
  DWORD wanted = (attr & kSettableAttributes) | kept;
  if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
  if ((static_cast<DWORD>(old) & (kSettableAttributes | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE)) ==
      (wanted & ~FILE_ATTRIBUTE_NORMAL)) {
    return true;
  }
  return SetFileAttributesW(win::WinPath(path).c_str(), wanted) != 0;
}

bool ClearArchiveAttribute(const std::string& path) {
  const std::int64_t attr = GetFileAttributes(path);
  if (attr < 0) return false;
  if ((attr & kFaArchive) == 0) return true;
  return SetFileAttributes(path, static_cast<std::uint32_t>(attr) & ~kFaArchive);
}

bool GetFileStatus(const std::string& path, FileStatus& status) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!Attributes(path, data)) return false;
  const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status.attr = data.dwFileAttributes;
  status.size = folder ? 0 : SizeOf(data.nFileSizeHigh, data.nFileSizeLow);
  status.time = win::LocalFromFileTime(data.ftLastWriteTime);
  status.unix_time = win::UnixFromFileTime(data.ftLastWriteTime);
  if (folder) {
    status.unix_mode = 040755;
  } else {
    status.unix_mode = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0100444 : 0100644;
  }
  return true;
}

std::string ToShortPath(const std::string& path_in) {
  std::string path = path_in;
  // "C:x" gets its backslash after the colon.
  if (path.size() >= 2 && path[1] == ':' && (path.size() == 2 || !IsPathSeparator(path[2]))) {
    path = path.substr(0, 2) + kPathSeparator + path.substr(2);
  }
  const bool trailing = !path.empty() && IsPathSeparator(path.back());
  if (trailing) path = ExcludeTrailingSeparator(path);
  const std::string drive = ExtractFileDrive(path);
  std::size_t pos = drive.size();
  std::string result = path.substr(0, pos);
  while (pos < path.size()) {
    // Copy separators as written, then the next component.
    while (pos < path.size() && IsPathSeparator(path[pos])) result += path[pos++];
    const std::size_t start = pos;
    while (pos < path.size() && !IsPathSeparator(path[pos])) ++pos;
    if (pos == start) break;
    const std::string component = path.substr(start, pos - start);
    std::string replacement = component;
    if (component != "." && component != "..") {
      WIN32_FIND_DATAW data{};
      HANDLE h = FindFirstFileW(win::WinPath(path.substr(0, pos)).c_str(), &data);
      if (h != INVALID_HANDLE_VALUE) {
        if (data.cAlternateFileName[0] != L'\0') replacement = win::Narrow(data.cAlternateFileName);
        ::FindClose(h);
      }
    }
    result += replacement;
  }
  if (trailing) result += kPathSeparator;
  return result;
}

DateTime GetFileTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!Attributes(path, data)) throw EFileError(win::OpenMessage(path, GetLastError()));
  return win::LocalFromFileTime(data.ftLastWriteTime);
}

bool SetFileTime(const std::string& path, DateTime local_time) {
  FILETIME utc{};
  if (!win::FileTimeFromLocal(local_time, utc)) return false;
  ScopedHandle h(CreateFileW(win::WinPath(path).c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.Valid()) return false;
  return ::SetFileTime(h.Get(), nullptr, nullptr, &utc) != 0;
}

bool SetFileUnixTime(const std::string& path, std::int64_t unix_time) {
  const FILETIME utc = win::FileTimeFromUnix(unix_time);
  ScopedHandle h(CreateFileW(win::WinPath(path).c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.Valid()) return false;
  return ::SetFileTime(h.Get(), nullptr, nullptr, &utc) != 0;
}

std::uint32_t ArchiveAttributes(const FileStatus& status) {
  return status.attr;
}

std::uint32_t FileCreationMask() {
  return 0;
}

bool SetFileMode(const std::string& path, std::uint32_t mode) {
  const std::int64_t attributes = GetFileAttributes(path);
  if (attributes < 0) return false;
  const auto attr = static_cast<std::uint32_t>(attributes);
  return SetFileAttributes(path, (mode & 0200) != 0 ? (attr & ~kFaReadOnly) : (attr | kFaReadOnly));
}

std::int64_t DiskFreeSpace(const std::string& path) {
  if (GetFileAttributes(path) < 0) return -1;
  // The service wants a folder; a file's own folder serves for a file.
  std::string folder = DirectoryExists(path) ? path : ExtractFilePath(path);
  if (folder.empty()) folder = CurrentDir();
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(win::WinPath(IncludeTrailingSeparator(folder)).c_str(), &available, nullptr, nullptr)) {
    return -1;
  }
  return static_cast<std::int64_t>(available.QuadPart);
}

bool IsDirectoryWritable(const std::string& dir) {
  if (!DirectoryExists(dir)) return false;
  std::string probe;
  HANDLE h = CreateUnique(IncludeTrailingSeparator(dir) + "~kzb-probe-", ".tmp",
                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, probe);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

std::string CreateTempFile(const std::string& dir, const std::string& prefix) {
  const std::string folder = dir.empty() ? TempDir() : IncludeTrailingSeparator(dir);
  std::string name;
  HANDLE h =
      CreateUnique(folder + prefix + ProcessTag(), std::string(kCreateTempFileSuffix), FILE_ATTRIBUTE_NORMAL, name);
  if (h == INVALID_HANDLE_VALUE) throw EFCreateError(win::CreateMessage(folder + prefix + "*.tmp", GetLastError()));
  CloseHandle(h);
  return name;
}

bool ReadFileContent(const std::string& path, std::string& content) {
  content.clear();
  ScopedHandle h(CreateFileW(win::WinPath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!h.Valid()) return false;
  char buffer[1 << 15];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h.Get(), buffer, sizeof buffer, &n, nullptr)) {
      content.clear();
      return false;
    }
    if (n == 0) break;
    content.append(buffer, n);
  }
  return true;
}

void WriteFileAtomic(const std::string& path, std::string_view content, std::uint32_t /*new_file_mode*/) {
  const std::string folder = ExtractFilePath(path);
  std::string temp;
  ScopedHandle h(CreateUnique(folder + AtomicWriteTempPrefix(ExtractFileName(path)) + ProcessTag(),
                              std::string(kAtomicWriteTempSuffix), FILE_ATTRIBUTE_NORMAL, temp));
  if (!h.Valid()) throw EFCreateError(win::CreateMessage(path, GetLastError()));
  const std::wstring wide_temp = win::WinPath(temp);
  auto fail = [&](DWORD error) {
    h.Close();
    DeleteFileW(wide_temp.c_str());
    throw EFCreateError(win::CreateMessage(path, error));
  };
  DWORD error = 0;
  if (!WriteAll(h.Get(), content.data(), content.size(), error)) fail(error);
  if (!FlushFileBuffers(h.Get())) fail(GetLastError());
  if (!h.Close()) fail(GetLastError());
  const std::wstring wide_target = win::WinPath(path);
  const DWORD old_attributes = GetFileAttributesW(wide_target.c_str());
  if (old_attributes != INVALID_FILE_ATTRIBUTES) {
    // ReplaceFileW keeps the old file's permissions and creation time on the new content; its attributes
    // (hidden, say) are given back here as well, since not every implementation carries them over.
    if (ReplaceFileW(wide_target.c_str(), wide_temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr)) {
      // The content is in place; attributes that cannot be given back leave it readable as it is.
      (void)SetFileAttributes(path, old_attributes | FILE_ATTRIBUTE_ARCHIVE);
      return;
    }
    error = GetLastError();
    // Where the file system cannot do that (ERROR_UNABLE_TO_MOVE_REPLACEMENT leaves both files as they
    // were), a plain rename over the old file still replaces it in one step.
    if (error != ERROR_UNABLE_TO_MOVE_REPLACEMENT && error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_CALL_NOT_IMPLEMENTED) {
      DeleteFileW(wide_temp.c_str());
      throw EFCreateError(win::CreateMessage(path, error));
    }
  }
  if (!MoveFileExW(wide_temp.c_str(), wide_target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
    DeleteFileW(wide_temp.c_str());
    throw EFCreateError(win::CreateMessage(path, error));
  }
}

// ---------------------------------------------------------------------------------------------------------
// File

File::File(const std::string& path, Mode mode, std::uint32_t /*create_permissions*/) : path_(path) {
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case Mode::kRead:
      break;
    case Mode::kReadWrite:
      access |= GENERIC_WRITE;
      break;
    case Mode::kCreate:
      access |= GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      break;
    case Mode::kCreateNew:
      access |= GENERIC_WRITE;
      disposition = CREATE_NEW;
      break;
  }
  // A folder cannot be opened as a file (the system says "Access is denied" for it, as it does here).
  DWORD error = ERROR_ACCESS_DENIED;
  HANDLE h = INVALID_HANDLE_VALUE;
  if (!DirectoryExists(path)) {
    h = CreateFileW(win::WinPath(path).c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
    error = GetLastError();
  }
  if (h == INVALID_HANDLE_VALUE) {
    if (mode == Mode::kCreate || mode == Mode::kCreateNew) throw EFCreateError(win::CreateMessage(path, error));
    throw EFOpenError(win::OpenMessage(path, error));
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
}

File::~File() {
  if (handle_ != -1) CloseHandle(ToHandle(handle_));
}

std::int64_t File::Read(void* buffer, std::int64_t count) {
  auto* out = static_cast<char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<DWORD>(std::min<std::int64_t>(count - done, 1 << 30));
    DWORD n = 0;
    if (!ReadFile(ToHandle(handle_), out + done, chunk, &n, nullptr)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      throw EFileError("Cannot read file \"" + path_ + "\". " + win::ErrorText(error));
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

std::int64_t File::Write(const void* buffer, std::int64_t count) {
  const auto* in = static_cast<const char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<DWORD>(std::min<std::int64_t>(count - done, 1 << 30));
    DWORD n = 0;
    if (!WriteFile(ToHandle(handle_), in + done, chunk, &n, nullptr)) {
      const DWORD error = GetLastError();
      if (IsDiskFull(error)) break;
      throw EFileError("Cannot write file \"" + path_ + "\". " + win::ErrorText(error));
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

std::int64_t File::Seek(std::int64_t offset, int origin) {
  const DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END;
  LARGE_INTEGER distance{}, position{};
  distance.QuadPart = offset;
  if (!SetFilePointerEx(ToHandle(handle_), distance, &position, method)) {
    throw EFileError("Cannot seek in file \"" + path_ + "\". " + win::ErrorText(GetLastError()));
  }
  return position.QuadPart;
}

std::int64_t File::Size() const {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(ToHandle(handle_), &size)) {
    throw EFileError("Cannot read file \"" + path_ + "\". " + win::ErrorText(GetLastError()));
  }
  return size.QuadPart;
}

void File::Status(FileStatus& status) const {
  // By the path the file was opened with: the attributes and times as the folder listing has them.
  if (!GetFileStatus(path_, status)) {
    throw EFileError("Cannot read file \"" + path_ + "\". " + win::ErrorText(GetLastError()));
  }
  status.size = Size();
}

void File::Truncate(std::int64_t size) {
  LARGE_INTEGER distance{}, current{};
  if (!SetFilePointerEx(ToHandle(handle_), distance, &current, FILE_CURRENT)) {
    throw EFileError("Cannot write file \"" + path_ + "\". " + win::ErrorText(GetLastError()));
  }
  distance.QuadPart = size;
  if (!SetFilePointerEx(ToHandle(handle_), distance, nullptr, FILE_BEGIN) || !SetEndOfFile(ToHandle(handle_))) {
    throw EFileError("Cannot write file \"" + path_ + "\". " + win::ErrorText(GetLastError()));
  }
  // ftruncate leaves the position alone; so does this.
  SetFilePointerEx(ToHandle(handle_), current, nullptr, FILE_BEGIN);
}

void File::FlushToDisk() {
  if (!FlushFileBuffers(ToHandle(handle_))) {
    throw EFileError("Cannot write file \"" + path_ + "\". " + win::ErrorText(GetLastError()));
  }
}

}  // namespace kzb::platform
