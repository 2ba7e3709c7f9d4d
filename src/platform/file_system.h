// Files and folders: attribute bits, folder enumeration, file times, copy/rename/delete, temporary names.
//
// Names are UTF-8 on every system; on Windows they reach the wide-character file services, and paths too
// long for the classic limit get the "\\?\" form, so neither non-ASCII names nor deep folders fail.
//
// Attribute bits follow the archive format's DOS attributes. On Windows they are the file's own attributes
// as the system reports them (the low bits read-only, hidden, system, folder, archive, and any higher
// bits). On POSIX they are derived: read-only when the owner cannot write, hidden when the name starts
// with ".", folder for directories, archive for every regular file (there is no archive bit to clear).
// System and volume bits are never reported there.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/date_time.h"

namespace kzb::platform {

inline constexpr std::uint32_t kFaReadOnly = 0x01;
inline constexpr std::uint32_t kFaHidden = 0x02;
inline constexpr std::uint32_t kFaSysFile = 0x04;
inline constexpr std::uint32_t kFaVolumeId = 0x08;
inline constexpr std::uint32_t kFaDirectory = 0x10;
inline constexpr std::uint32_t kFaArchive = 0x20;
inline constexpr std::uint32_t kFaAnyFile = 0x3F;

// True where the file system keeps the DOS attributes itself (Windows), so that all of them can be given
// back to an extracted file; on POSIX only read-only has a meaning (the owner's write bit).
#ifdef _WIN32
inline constexpr bool kNativeDosAttributes = true;
#else
inline constexpr bool kNativeDosAttributes = false;
#endif

// A file operation that failed; the message names the file and the cause.
class EFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// Opening an existing file failed: "Cannot open file \"NAME\". CAUSE".
class EFOpenError : public EFileError {
 public:
  using EFileError::EFileError;
};
// Creating a file failed: "Cannot create file \"NAME\". CAUSE".
class EFCreateError : public EFileError {
 public:
  using EFileError::EFileError;
};

struct SearchRec {
  std::string name;        // name part only
  std::int64_t size = 0;   // 0 for folders
  std::uint32_t attr = 0;  // kFa* bits
  DateTime time;           // last write, local time
  std::time_t unix_time = 0;
  // Birth time where the file system records one, otherwise the last status change; local time.
  DateTime creation_time;
  DateTime access_time;  // last access, local time
  // Identity of the file (followed through links): equal pairs are the same file or folder.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

// Folder enumeration in the manner of find-first/find-next: FindFirst("dir/*.txt", attr_mask, rec).
// The mask of the name part accepts "*" and "?" without regard to case ("*.*" and "*" match every name).
// Regular files are always candidates; folders, hidden and system entries only when their bit is in
// attr_mask. "." and ".." are reported for a folder search, as the Windows service does. Entries come in a
// stable order (byte order of their names) so that runs are repeatable. Symbolic links are followed for
// their attributes; a dangling link is skipped. Only regular files and folders are reported: devices,
// pipes and sockets are not files to back up or search (reading a pipe would block forever).
class FileFinder {
 public:
  FileFinder();
  ~FileFinder();
  FileFinder(const FileFinder&) = delete;
  FileFinder& operator=(const FileFinder&) = delete;

  [[nodiscard]] bool FindFirst(const std::string& pattern, std::uint32_t attr_mask, SearchRec& rec);
  [[nodiscard]] bool FindNext(SearchRec& rec);
  void FindClose();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Case-insensitive "*"/"?" match of a name against the mask of a find-first pattern.
bool MatchesFindMask(const std::string& name, const std::string& mask);

// Every operation below that reports success as a bool is [[nodiscard]]: a caller either acts on a
// failure or says in a comment why the failure changes nothing.
[[nodiscard]] bool FileExists(const std::string& path);       // a file (not a folder)
[[nodiscard]] bool DirectoryExists(const std::string& path);  // a folder
// Returns false when the file could not be deleted (never throws).
[[nodiscard]] bool DeleteFile(const std::string& path);
[[nodiscard]] bool RemoveDirectory(const std::string& path);  // empty folder only
// Renames; fails (false) when new_path exists, as the Windows service does.
[[nodiscard]] bool RenameFile(const std::string& old_path, const std::string& new_path);
// Atomically replaces target by source (same file system): rename over an existing file.
[[nodiscard]] bool ReplaceFile(const std::string& source, const std::string& target);
// Copies bytes, times and permissions; with fail_if_exists an existing target makes it fail.
[[nodiscard]] bool CopyFile(const std::string& source, const std::string& target, bool fail_if_exists);
// Creates the folder and any missing parents; true when it exists afterwards.
[[nodiscard]] bool ForceDirectories(const std::string& path);
// Flushes a folder's entries to the device (fsync of the folder), so that files created, renamed or
// deleted in it stay so after a power loss. False when the folder does not exist or the device fails; a
// folder this process may not read cannot be flushed by it and counts as flushed.
[[nodiscard]] bool SyncDirectory(const std::string& dir);

// -1 when the file does not exist.
std::int64_t FileSize(const std::string& path);
// Attributes as kFa* bits, or -1 (as int64) when the path does not exist.
std::int64_t GetFileAttributes(const std::string& path);
// Windows: sets read-only, hidden, system and archive (and "not content indexed") as given; the other bits
// are the system's own. POSIX: applies kFaReadOnly (clears/sets the owner's write bit); other bits have no
// POSIX meaning.
[[nodiscard]] bool SetFileAttributes(const std::string& path, std::uint32_t attr);
// Clears the archive attribute after a backup took the file (Windows); POSIX files have none, so this only
// checks that the file exists.
[[nodiscard]] bool ClearArchiveAttribute(const std::string& path);

// What a later archive field may need beside the DOS attributes: the POSIX mode (on Windows made up from
// the attributes: a folder 040755, a read-only file 0100444, any other file 0100644) and the last-write
// time in UTC seconds.
struct FileStatus {
  std::uint32_t attr = 0;       // kFa* bits
  std::int64_t size = 0;        // 0 for folders
  DateTime time;                // last write, local time
  std::int64_t unix_time = 0;   // last write, seconds since 1970-01-01 UTC
  std::uint32_t unix_mode = 0;  // st_mode bits
};
// Follows links; false when the path does not exist.
[[nodiscard]] bool GetFileStatus(const std::string& path, FileStatus& status);

// How archivers of this system describe a file in an archive entry: the host system they name in "version
// made by" and the 32-bit external attributes. POSIX: host 3 (Unix) with the st_mode bits (file type and
// permissions) in the high 16 bits and the DOS attributes in the low byte, as Unix archivers write them.
// Windows: host 0 (FAT) with the DOS attributes alone.
#ifdef _WIN32
inline constexpr std::uint8_t kArchiveHostSystem = 0;
#else
inline constexpr std::uint8_t kArchiveHostSystem = 3;
#endif
std::uint32_t ArchiveAttributes(const FileStatus& status);

// The process's file-creation mask (umask) as permission bits; 0 where the system has none (Windows).
// Read without changing it where the system allows (Linux); otherwise read and set back at once.
std::uint32_t FileCreationMask();
// Sets the permission bits (the low 12 bits of mode; on Windows only the owner's write bit has a meaning,
// as the read-only attribute). Follows links. False when the system refuses.
[[nodiscard]] bool SetFileMode(const std::string& path, std::uint32_t mode);

// The 8.3 form of an existing path: a drive prefix stays as written; each further component that exists
// and has a short alternate name is replaced by it; a trailing separator is kept. A path that is not on
// Windows, or whose components have no short names, comes back unchanged.
std::string ToShortPath(const std::string& path);
// Last-write time as a local DateTime; throws EFileError when the file does not exist.
DateTime GetFileTime(const std::string& path);
[[nodiscard]] bool SetFileTime(const std::string& path, DateTime local_time);
// Sets the last-write time to a POSIX time (seconds since 1970-01-01 UTC); independent of the time zone.
[[nodiscard]] bool SetFileUnixTime(const std::string& path, std::int64_t unix_time);
// Bytes free for the user on the volume holding path, or -1.
std::int64_t DiskFreeSpace(const std::string& path);
// True when a file can be created in the folder.
[[nodiscard]] bool IsDirectoryWritable(const std::string& dir);

// Temporary files carry the id of the process that made them: CreateTempFile names its files
// prefix + "<pid>-XXXXXX.tmp", WriteFileAtomic names its file "." + name + ".<pid>-XXXXXX" beside the file
// it replaces. A process killed while it wrote leaves such a file behind; a later process tells it from
// one that a running process still writes by that id.
//
// True when name (a name without folder) is prefix + "<pid>-" + six characters + suffix and no process
// of that id runs any more. A name without the id (made before names carried it) is never abandoned.
[[nodiscard]] bool IsAbandonedTempName(std::string_view name, std::string_view prefix, std::string_view suffix);
// The prefix and suffix of the temporary names WriteFileAtomic uses for file_name (a name without folder).
std::string AtomicWriteTempPrefix(std::string_view file_name);
inline constexpr std::string_view kAtomicWriteTempSuffix = "";
inline constexpr std::string_view kCreateTempFileSuffix = ".tmp";

// A new, empty, uniquely named file in dir (prefix + "<pid>-" + random part + ".tmp"), created with mode
// 0600 (on Windows with the folder's inherited permissions);
// returns its full path; an empty dir means TempDir(). Throws EFCreateError when none can be created.
std::string CreateTempFile(const std::string& dir, const std::string& prefix);

// Replaces the file's whole content atomically: the bytes go to a temporary file in the same folder, which
// is flushed to disk and renamed over path, so readers and a crash see either the old or the new content.
// POSIX: an existing file keeps its permission bits; a new one gets new_file_mode; a symbolic link is
// followed (its target is replaced). Windows: ReplaceFileW keeps an existing file's attributes and
// permissions, MoveFileExW (replace existing, write through) places a new one; new_file_mode is not used.
// Throws EFCreateError when the file cannot be written.
void WriteFileAtomic(const std::string& path, std::string_view content, std::uint32_t new_file_mode = 0644);
// Reads the whole file; false when it cannot be opened or read.
[[nodiscard]] bool ReadFileContent(const std::string& path, std::string& content);

// An open file for the engine's streams. Positions and sizes are 64-bit.
class File {
 public:
  enum class Mode {
    kRead,       // existing file, read only
    kReadWrite,  // existing file, read and write
    kCreate,     // create or truncate, read and write
    kCreateNew,  // create a file that does not exist yet (anything at the path, a link included, fails)
  };
  // Permission bits a created file asks for by default (the creation mask then applies).
  static constexpr std::uint32_t kNewFilePermissions = 0644;
  // Throws EFOpenError (kRead, kReadWrite) or EFCreateError (kCreate, kCreateNew).
  File(const std::string& path, Mode mode, std::uint32_t create_permissions = kNewFilePermissions);
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Short only at the end of the file; throws EFileError on an I/O error.
  std::int64_t Read(void* buffer, std::int64_t count);
  // Returns the bytes written; fewer than count only when the device is full (ENOSPC/EDQUOT, or
  // ERROR_DISK_FULL on Windows).
  // Other errors throw EFileError.
  std::int64_t Write(const void* buffer, std::int64_t count);
  // origin 0 begin, 1 current, 2 end; returns the new position.
  std::int64_t Seek(std::int64_t offset, int origin);
  std::int64_t Size() const;
  // The open file's status, as GetFileStatus describes a path (one call on the open file on POSIX).
  // Throws EFileError when it cannot be read.
  void Status(FileStatus& status) const;
  void Truncate(std::int64_t size);
  // Flushes the file's buffers to the device (fsync, FlushFileBuffers).
  void FlushToDisk();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  // The descriptor (POSIX) or the HANDLE (Windows); -1 when closed.
  std::intptr_t handle_ = -1;
};

}  // namespace kzb::platform
