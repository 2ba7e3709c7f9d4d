// The stored form of a project password: scrambled with a key made from the project name, then written
// as "#" + decimal byte value for every byte, so the stored text is printable and keyed to the project.
#pragma once

#include <string>

namespace kzb::app {

// The project name (trimmed) followed by the decimal count of its characters: Docs -> "Docs4".
std::string ProjectPasswordKey(const std::string& project_name);
std::string EncodeProjectPassword(const std::string& password, const std::string& project_name);
// Reads "#"-encoded text back into bytes first (each run of digits is one byte; any other character ends
// a run); text that does not begin with "#" is unscrambled as it stands.
std::string DecodeProjectPassword(const std::string& stored, const std::string& project_name);

}  // namespace kzb::app
