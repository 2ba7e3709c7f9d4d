// Lists in the INI files: a count key and one key per entry, "Prefix" + index in decimal from 0.
#pragma once

#include <string>
#include <vector>

#include "platform/ini_file.h"

namespace kzb::app {

// Reads the entries "item_prefix" + i for i from 0 to count - 1 in index order, skipping empty values.
// Only keys present in the section are read, so a huge count in a hand-edited file costs nothing.
std::vector<std::string> ReadNumberedList(const platform::IniFile& ini, const std::string& section, std::int64_t count,
                                          const std::string& item_prefix);

// Appends the count key and one key per item to a section write.
void AppendNumberedList(std::vector<platform::IniFile::Entry>& entries, const std::string& count_key,
                        const std::string& item_prefix, const std::vector<std::string>& items);

// The index of a key "item_prefix" + decimal (matched without regard to case, decimal without leading
// zeros), or -1.
std::int64_t NumberedKeyIndex(const std::string& key, const std::string& item_prefix);

}  // namespace kzb::app
