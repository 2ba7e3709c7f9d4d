// std::filesystem paths from and to the UTF-8 names the rest of the program holds.
//
// A std::filesystem::path built from a std::string takes the bytes in the system's narrow encoding: UTF-8
// on Linux, but the ANSI code page on Windows, where "café" would become "cafÃ©". Every path handed to
// std::filesystem goes through FsPath, and every name taken from it through FromFsPath.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kzb::platform {

inline std::filesystem::path FsPath(std::string_view utf8) {
#ifdef _WIN32
  return std::filesystem::path(std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
#else
  return std::filesystem::path(utf8);
#endif
}

inline std::string FromFsPath(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
#else
  return path.string();
#endif
}

}  // namespace kzb::platform
