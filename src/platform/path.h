// Path helpers over the platform's native separator.
//
// The engine and the app core speak of "the separator" and "the folder part" of a path; on Windows that
// separator is a backslash, here it is "/". Every rule that splits or joins paths goes through these
// helpers so that a Windows build changes only this file's implementation.
#pragma once

#include <string>
#include <string_view>

namespace kzb::platform {

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
// Drive or UNC share prefix ("C:", "\\server\share"); always empty on POSIX paths.
std::string ExtractFileDrive(std::string_view path);

// Absolute, normalised path ("." and ".." folded, repeated separators merged); relative paths are taken
// against the current directory. A trailing separator is kept.
std::string ExpandFileName(std::string_view path);
bool IsAbsolutePath(std::string_view path);

// Converts between the native separator and "/" (ZIP names); identity on POSIX.
std::string ToNativeSeparators(std::string_view path);
std::string ToForwardSlashes(std::string_view path);

// The user's home folder with a trailing separator.
std::string HomeDir();
// The user's configuration folder for this program ($XDG_CONFIG_HOME/kestrova-zip-backup/ or
// ~/.config/kestrova-zip-backup/), with a trailing separator; not created here.
std::string UserConfigDir();
// Folder of the running executable with a trailing separator.
std::string ExecutableDir();
// The temporary folder with a trailing separator ($TMPDIR or /tmp/).
std::string TempDir();
std::string CurrentDir();

}  // namespace kzb::platform
