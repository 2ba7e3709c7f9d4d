#include "platform/windows/win_util.h"

#include <vector>

namespace kzb::platform::win {

namespace {

// Longest path handed to the services without the "\\?\" form; CreateDirectoryW allows 12 characters
// less than MAX_PATH for the 8.3 name it may add, and staying below that costs nothing for shorter paths.
constexpr std::size_t kPlainPathLimit = MAX_PATH - 12;

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kUnixEpochInFileTime = 116'444'736'000'000'000LL;

}  // namespace

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) {
    // Not UTF-8 (a name from an old archive): take the bytes as the ANSI code page, as the -A services would.
    const int m = MultiByteToWideChar(CP_ACP, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(m), L'\0');
    MultiByteToWideChar(CP_ACP, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), m);
    return wide;
  }
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
  }
  return utf8;
}

std::wstring WinPath(std::string_view path) {
  std::wstring wide = Widen(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  if (wide.size() < kPlainPathLimit || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (n == 0 || n >= full.size()) return wide;
  full.resize(n);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string ErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD n =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (n > 0 && buffer != nullptr) text = Narrow(std::wstring_view(buffer, n));
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) text = "System error " + std::to_string(error);
  return text;
}

std::string OpenMessage(const std::string& path, DWORD error) {
  return "Cannot open file \"" + path + "\". " + ErrorText(error);
}

std::string CreateMessage(const std::string& path, DWORD error) {
  return "Cannot create file \"" + path + "\". " + ErrorText(error);
}

DateTime LocalFromFileTime(const FILETIME& utc) {
  SYSTEMTIME system{}, local{};
  if (!FileTimeToSystemTime(&utc, &system)) return DateTime();
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &system, &local)) return DateTime();
  DateTimeParts p;
  p.year = local.wYear;
  p.month = local.wMonth;
  p.day = local.wDay;
  p.hour = local.wHour;
  p.minute = local.wMinute;
  p.second = local.wSecond;
  p.millisecond = local.wMilliseconds;
  try {
    return DateTime::FromParts(p);
  } catch (const EConvertError&) {
    return DateTime();
  }
}

bool FileTimeFromLocal(DateTime local_time, FILETIME& utc) {
  const DateTimeParts p = local_time.Parts();
  if (p.year < 1601 || p.year > 30827) return false;
  SYSTEMTIME local{}, system{};
  local.wYear = static_cast<WORD>(p.year);
  local.wMonth = static_cast<WORD>(p.month);
  local.wDay = static_cast<WORD>(p.day);
  local.wHour = static_cast<WORD>(p.hour);
  local.wMinute = static_cast<WORD>(p.minute);
  local.wSecond = static_cast<WORD>(p.second);
  local.wMilliseconds = static_cast<WORD>(p.millisecond);
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &system)) return false;
  return SystemTimeToFileTime(&system, &utc) != 0;
}

std::int64_t UnixFromFileTime(const FILETIME& utc) {
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime);
  const std::int64_t since = ticks - kUnixEpochInFileTime;
  // Floor division, so that a time before 1970 rounds down like a POSIX time does.
  return since >= 0 ? since / 10'000'000 : -((-since + 9'999'999) / 10'000'000);
}

FILETIME FileTimeFromUnix(std::int64_t seconds) {
  const auto ticks = static_cast<std::uint64_t>(seconds * 10'000'000 + kUnixEpochInFileTime);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

}  // namespace kzb::platform::win
