#include "zip/records/name_codec.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/path.h"
#include "zip/records/zip_format.h"

namespace kzb::zip {

namespace {

// Unicode code points of code page 437's bytes 0x80 to 0xFF.
constexpr std::array<char16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool IsUnixLikeHost(std::uint16_t version_made_by) {
  const std::uint8_t host = static_cast<std::uint8_t>(version_made_by >> 8);
  return host == kHostUnix || host == kHostOsx;
}

}  // namespace

bool IsPlainAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int extra = 0;
    char32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(extra) >= n) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values above U+10FFFF are not UTF-8.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

std::string Cp437ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{kCp437High[b - 0x80]});
  }
  return out;
}

std::string EncodeStoredName(std::string_view name, bool* needs_utf8_flag) {
  std::string stored(name);
  if (platform::kPathSeparator != '/') std::replace(stored.begin(), stored.end(), platform::kPathSeparator, '/');
  if (needs_utf8_flag != nullptr) *needs_utf8_flag = !IsPlainAscii(stored) && IsValidUtf8(stored);
  return stored;
}

std::string DecodeStoredName(std::string_view stored, std::uint16_t general_flags, std::uint16_t version_made_by) {
  std::string name;
  // A Unix host stores names as the bytes its file system holds; where names are bytes too they stay so,
  // also when they are not UTF-8.
  if ((general_flags & kFlagUtf8) != 0 || IsPlainAscii(stored) ||
      (IsUnixLikeHost(version_made_by) && (platform::kByteStringNames || IsValidUtf8(stored)))) {
    name.assign(stored);
  } else {
    name = Cp437ToUtf8(stored);
  }
  if (!IsUnixLikeHost(version_made_by)) std::replace(name.begin(), name.end(), '\\', '/');
  if (platform::kPathSeparator != '/') std::replace(name.begin(), name.end(), '/', platform::kPathSeparator);
  return name;
}

void SplitStoredName(std::string_view name, std::string& directory, std::string& file_name) {
  const auto slash = name.rfind(platform::kPathSeparator);
  if (slash == std::string_view::npos) {
    directory.clear();
    file_name.assign(name);
  } else {
    directory.assign(name.substr(0, slash + 1));
    file_name.assign(name.substr(slash + 1));
  }
}

std::string PrintableName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace kzb::zip
