// Looks for a text in a file, block by block.
#pragma once

#include <cstddef>
#include <string>

namespace kzb::findfile {

// Bytes read per block.
inline constexpr std::size_t kContainsBlockSize = 4096;

// True when text occurs anywhere in the file; ignore_case folds ASCII letters. False when the file
// cannot be opened or read, or when text is empty.
bool FileContainsText(const std::string& path, const std::string& text, bool ignore_case);

}  // namespace kzb::findfile
