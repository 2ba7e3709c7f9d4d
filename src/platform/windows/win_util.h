// Helpers shared by the Windows implementations of the platform services (not for use outside them).
//
// Text: the program holds UTF-8; the system's file, registry and shell services take UTF-16. Paths: "/"
// becomes "\", and a path that would reach the classic MAX_PATH limit is made absolute and given the
// "\\?\" (or "\\?\UNC\") prefix, under which the wide services accept up to 32767 characters without any
// setting of the system or manifest. Times: FILETIME is UTC; the program's DateTime is local wall-clock
// time, converted with the time-zone rules in force on that date (so a summer date stays a summer date
// when read in winter, as localtime_r does on POSIX).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The platform layer has functions of these names; the system's A/W macros would rename them.
#undef CopyFile
#undef DeleteFile
#undef GetFileAttributes
#undef RemoveDirectory
#undef ReplaceFile
#undef SetFileAttributes

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/date_time.h"

namespace kzb::platform::win {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

// The wide form of path for the file services (long paths prefixed as above).
std::wstring WinPath(std::string_view path);

// The system's text for an error code, without the trailing period and line break.
std::string ErrorText(DWORD error);

// "Cannot open file "NAME". CAUSE" and "Cannot create file "NAME". CAUSE".
std::string OpenMessage(const std::string& path, DWORD error);
std::string CreateMessage(const std::string& path, DWORD error);

// FILETIME (UTC) <-> local DateTime; false / an empty DateTime when out of range.
DateTime LocalFromFileTime(const FILETIME& utc);
bool FileTimeFromLocal(DateTime local, FILETIME& utc);
// FILETIME (UTC) <-> seconds since 1970-01-01 UTC.
std::int64_t UnixFromFileTime(const FILETIME& utc);
FILETIME FileTimeFromUnix(std::int64_t seconds);

}  // namespace kzb::platform::win
