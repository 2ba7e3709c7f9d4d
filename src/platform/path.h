// Path helpers over the platform's native separator.
//
// The engine and the app core speak of "the separator" and "the folder part" of a path; on Windows that
// separator is a backslash (and "/" is accepted wherever a path is read), on POSIX it is "/". Every rule
// that splits or joins paths goes through these helpers; the string rules live in path.cpp, the rules that
// ask the system (drives, full paths, the user's folders) in posix/path.cpp and windows/path.cpp.
#pragma once

#include <string>
#include <string_view>

namespace kzb::platform {

// Whether a file name may be any byte string (POSIX), so names that are not valid UTF-8 can be kept as
// they are; on Windows names are Unicode text.
#ifdef _WIN32
inline constexpr bool kByteStringNames = false;
#else
inline constexpr bool kByteStringNames = true;
#endif

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// True for the native separator (and, on Windows, also for "/").
bool IsPathSeparator(char c);

// "dir" -> "dir/"; "" stays "".
std::string IncludeTrailingSeparator(std::string_view path);
// "dir/" -> "dir"; a lone root "/" stays "/".
std::string ExcludeTrailingSeparator(std::string_view path);

// Folder part including its trailing separator ("a/b/c.txt" -> "a/b/"; "c.txt" -> "").
std::string ExtractFilePath(std::string_view path);
// Name part after the last separator ("a/b/c.txt" -> "c.txt").
std::string ExtractFileName(std::string_view path);
// Extension of the name part with its dot ("a/b.c.txt" -> ".txt"; "a/b" -> ""; "a.b/c" -> "").
std::string ExtractFileExt(std::string_view path);
// Replaces (or appends) the extension of the name part; ext includes its dot.
std::string ChangeFileExt(std::string_view path, std::string_view ext);
// Drive or UNC share prefix ("C:", "\\server\share") on Windows; always empty on POSIX.
std::string ExtractFileDrive(std::string_view path);

// Absolute, normalised path ("." and ".." folded, repeated separators merged); relative paths are taken
// against the current directory (on Windows: of the path's drive). A trailing separator is kept.
std::string ExpandFileName(std::string_view path);
// POSIX: starts with "/". Windows: a drive, colon and separator ("C:\x"), or a UNC path ("\\server\x");
// "\x" (the root of the current drive) and "C:x" are relative.
bool IsAbsolutePath(std::string_view path);
// True when two paths in the same form name the same file by their spelling: byte for byte on POSIX,
// without regard to letter case on Windows.
bool SameFileName(std::string_view a, std::string_view b);

// Converts between the native separator and "/" (ZIP names); identity on POSIX.
std::string ToNativeSeparators(std::string_view path);
std::string ToForwardSlashes(std::string_view path);

// The user's home folder with a trailing separator.
std::string HomeDir();
// The user's data folder for this program, with a trailing separator; not created here. POSIX:
// $XDG_CONFIG_HOME/kestrova-zip-backup/ or ~/.config/kestrova-zip-backup/. Windows: the user's
// application-data folder (%APPDATA%) + "Kestrova ZIP Backup\".
std::string UserConfigDir();
// Folder of the running executable with a trailing separator.
std::string ExecutableDir();
// Full path of the running executable.
std::string ExecutablePath();
// The temporary folder with a trailing separator ($TMPDIR or /tmp/; GetTempPathW on Windows).
std::string TempDir();
std::string CurrentDir();

}  // namespace kzb::platform
