#include "app/common/text_utils.h"

#include <limits>

namespace kzb::app {

namespace {

bool IsTrimmed(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsTrimmed(text[begin])) ++begin;
  while (end > begin && IsTrimmed(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

bool IsBlank(std::string_view text) {
  for (char c : text) {
    if (!IsTrimmed(c)) return false;
  }
  return true;
}

int CompareTextNoCase(std::string_view a, std::string_view b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(LowerAscii(a[i]));
    auto cb = static_cast<unsigned char>(LowerAscii(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameTextNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareTextNoCase(a, b) == 0;
}

std::optional<std::int64_t> ParseDecimal(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  std::uint64_t value = 0;
  const std::uint64_t limit = negative ? static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1
                                       : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (limit - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  if (negative) {
    if (value == limit) return std::numeric_limits<std::int64_t>::min();
    return -static_cast<std::int64_t>(value);
  }
  return static_cast<std::int64_t>(value);
}

std::string CarriageReturnsToNewlines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
    } else if (i + 1 == text.size() || text[i + 1] != '\n') {
      out += '\n';
    }
  }
  return out;
}

}  // namespace kzb::app
