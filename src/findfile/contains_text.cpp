// Text search in a file of any size with a fixed amount of memory.
//
// The file is read in blocks of kContainsBlockSize bytes. A text can straddle the boundary between two
// blocks, so the last (length - 1) bytes of what has been searched are carried in front of the next block:
// every occurrence lies wholly inside one window of carry + block, and no byte position is searched twice
// as a start (the carry alone is shorter than the text). Case folding is done on the window as it is read,
// so the search itself is a plain byte search (Boyer-Moore-Horspool from the standard library).
#include "findfile/contains_text.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "platform/file_system.h"

namespace kzb::findfile {

namespace {

void FoldCase(char* begin, char* end) {
  for (char* c = begin; c != end; ++c) {
    if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  }
}

}  // namespace

bool FileContainsText(const std::string& path, const std::string& text, bool ignore_case) {
  if (text.empty()) return false;
  std::string needle = text;
  if (ignore_case) FoldCase(needle.data(), needle.data() + needle.size());
  const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
  const std::size_t carry_max = needle.size() - 1;
  try {
    platform::File file(path, platform::File::Mode::kRead);
    std::vector<char> window(carry_max + kContainsBlockSize);
    std::size_t carry = 0;
    for (;;) {
      const std::int64_t got = file.Read(window.data() + carry, static_cast<std::int64_t>(kContainsBlockSize));
      if (got <= 0) return false;
      char* fresh = window.data() + carry;
      if (ignore_case) FoldCase(fresh, fresh + got);
      const std::size_t length = carry + static_cast<std::size_t>(got);
      auto first = window.begin();
      auto last = window.begin() + static_cast<std::ptrdiff_t>(length);
      if (std::search(first, last, searcher) != last) return true;
      const std::size_t keep = std::min(carry_max, length);
      std::copy(last - static_cast<std::ptrdiff_t>(keep), last, window.begin());
      carry = keep;
      if (got < static_cast<std::int64_t>(kContainsBlockSize)) return false;  // end of file
    }
  } catch (const platform::EFileError&) {
    return false;
  }
}

}  // namespace kzb::findfile
