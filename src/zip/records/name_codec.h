// Stored names: how names in memory (UTF-8, native separator) become the bytes of a header and back.
//
// Writing: native separators become "/"; the bytes are the UTF-8 text unchanged; general purpose bit 11
// (UTF-8) is set when the name is not plain ASCII and is valid UTF-8. A name that is not valid UTF-8 (a
// file name with legacy bytes) is stored as it is, without bit 11.
// Reading: with bit 11 the bytes are UTF-8 already. Without it, names from Unix-made archives (host byte 3
// of version made by) stay as they are: always where file names are byte strings (POSIX), only when they
// are valid UTF-8 elsewhere; everything else is decoded from code page 437 to UTF-8. Then "/" becomes the native
// separator; a backslash becomes the separator too, except in names from Unix hosts (where it is an ordinary
// character). Comments are written and read as stored (no conversion).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kzb::zip {

bool IsPlainAscii(std::string_view text);
bool IsValidUtf8(std::string_view text);
// Each byte of code page 437 to its UTF-8 character (bytes below 0x80 are ASCII).
std::string Cp437ToUtf8(std::string_view bytes);

// The stored form of a name held in memory, and whether it needs general purpose bit 11.
std::string EncodeStoredName(std::string_view name, bool* needs_utf8_flag);
// The in-memory form of stored name bytes read from a header with these flags and version made by.
std::string DecodeStoredName(std::string_view stored, std::uint16_t general_flags, std::uint16_t version_made_by);

// Splits an in-memory name at its last separator: directory keeps the trailing separator ("a/b/c.txt" ->
// "a/b/" + "c.txt"; "docs/" -> "docs/" + "").
void SplitStoredName(std::string_view name, std::string& directory, std::string& file_name);

// The name as it may be shown or printed: control characters (below 0x20 and 0x7F) become "%XX", the
// form extraction gives them in file names, so a name never moves a terminal's cursor or starts a line.
std::string PrintableName(std::string_view name);

}  // namespace kzb::zip
