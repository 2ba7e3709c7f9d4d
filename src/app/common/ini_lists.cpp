#include "app/common/ini_lists.h"

#include <map>

#include "app/common/text_utils.h"

namespace kzb::app {

std::int64_t NumberedKeyIndex(const std::string& key, const std::string& item_prefix) {
  if (key.size() <= item_prefix.size()) return -1;
  if (!SameTextNoCase(std::string_view(key).substr(0, item_prefix.size()), item_prefix)) return -1;
  std::string_view digits = std::string_view(key).substr(item_prefix.size());
  if (digits.size() > 1 && digits[0] == '0') return -1;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
  }
  auto value = ParseDecimal(digits);
  return value ? *value : -1;
}

std::vector<std::string> ReadNumberedList(const platform::IniFile& ini, const std::string& section, std::int64_t count,
                                          const std::string& item_prefix) {
  std::vector<std::string> items;
  if (count <= 0) return items;
  std::map<std::int64_t, std::string> keys;
  for (const std::string& key : ini.ReadSectionKeys(section)) {
    std::int64_t index = NumberedKeyIndex(key, item_prefix);
    if (index >= 0 && index < count) keys.emplace(index, item_prefix + std::to_string(index));
  }
  for (const auto& [index, key] : keys) {
    std::string value = ini.ReadString(section, key, "");
    if (!value.empty()) items.push_back(std::move(value));
  }
  return items;
}

void AppendNumberedList(std::vector<platform::IniFile::Entry>& entries, const std::string& count_key,
                        const std::string& item_prefix, const std::vector<std::string>& items) {
  entries.push_back({count_key, std::to_string(items.size())});
  for (std::size_t i = 0; i < items.size(); ++i) {
    entries.push_back({item_prefix + std::to_string(i), items[i]});
  }
}

}  // namespace kzb::app
