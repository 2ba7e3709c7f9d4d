// Small text helpers of the application core: trimming, comparisons without regard to letter case, and the
// strict decimal reading used for values taken from the INI files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kzb::app {

// Removes blanks and control characters (code 32 and below) from both ends.
std::string Trim(std::string_view text);
// True when the text is empty after trimming.
bool IsBlank(std::string_view text);

// ASCII letters compared without regard to case; other bytes compare by value.
int CompareTextNoCase(std::string_view a, std::string_view b);
bool SameTextNoCase(std::string_view a, std::string_view b);

// A decimal integer with an optional sign and nothing else (no blanks); nullopt otherwise or on overflow.
std::optional<std::int64_t> ParseDecimal(std::string_view text);

// Turns the carriage returns that break lines in message texts ("\r" or "\r\n") into newlines.
std::string CarriageReturnsToNewlines(std::string_view text);

}  // namespace kzb::app
