// The engine's wildcard matcher, used for find masks, exclude lists, no-compress lists and the selection of
// entries to extract.
#pragma once

#include <string_view>

namespace kzb::zip {

// True when the whole text matches the whole pattern, without regard to the case of ASCII letters.
//   ?        any one character
//   *        any run of characters (a lone "*" also matches the empty text)
//   <abc>    one character of the set; "a-z" is a range by character code, "<!...>" or "<^...>" inverts,
//            a "-" first in the set is an ordinary member
//   *<set>   a run of characters that all satisfy the set
// There is no escape character. A bad set (empty, unclosed, a range without an upper bound) never matches.
bool MatchPattern(std::string_view pattern, std::string_view text);

// True when the text holds one of the wildcard characters * ? < > |.
bool HasWildcard(std::string_view text);

}  // namespace kzb::zip
