// Letter case without a locale: the engine compares names, extensions and folder prefixes by folding the
// ASCII letters A-Z only, so the result never depends on the user's language settings and bytes of UTF-8
// names compare as themselves.
#pragma once

#include <string>
#include <string_view>

namespace kzb::zip {

// The text with A-Z turned into a-z; every other byte unchanged.
std::string LowerAscii(std::string_view text);
// Case-insensitive ASCII comparison (letters A-Z folded), negative / 0 / positive.
int CompareText(std::string_view a, std::string_view b);
bool SameTextNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);

}  // namespace kzb::zip
