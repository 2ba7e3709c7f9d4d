// Password scrambling. The key is the trimmed project name followed by its length in characters (UTF-8
// code points, which is the byte count for plain ASCII names); byte i of the text is combined by
// exclusive-or with key byte i mod key length, which is its own inverse. The key is never empty because
// the length digits are always there. This is obfuscation of the INI file, not encryption: anyone with
// the file and the project name can read the password back.
#include "app/project/project_password.h"

#include "app/common/text_utils.h"

namespace kzb::app {

namespace {

std::size_t CountCharacters(const std::string& text) {
  std::size_t count = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::string Scramble(const std::string& text, const std::string& key) {
  std::string out = text;
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^ static_cast<unsigned char>(key[i % key.size()]));
  }
  return out;
}

}  // namespace

std::string ProjectPasswordKey(const std::string& project_name) {
  std::string name = Trim(project_name);
  return name + std::to_string(CountCharacters(name));
}

std::string EncodeProjectPassword(const std::string& password, const std::string& project_name) {
  std::string scrambled = Scramble(password, ProjectPasswordKey(project_name));
  std::string stored;
  for (char c : scrambled) {
    stored += '#';
    stored += std::to_string(static_cast<unsigned char>(c));
  }
  return stored;
}

std::string DecodeProjectPassword(const std::string& stored, const std::string& project_name) {
  std::string bytes;
  if (!stored.empty() && stored[0] == '#') {
    unsigned value = 0;
    bool pending = false;
    for (char c : stored) {
      if (c >= '0' && c <= '9') {
        // Only the low byte matters; keeping value small avoids overflow on long digit runs.
        value = (value * 10 + static_cast<unsigned>(c - '0')) & 0xFFFFu;
        pending = true;
      } else if (pending) {
        bytes += static_cast<char>(value & 0xFFu);
        value = 0;
        pending = false;
      }
    }
    if (pending) bytes += static_cast<char>(value & 0xFFu);
  } else {
    bytes = stored;
  }
  return Scramble(bytes, ProjectPasswordKey(project_name));
}

}  // namespace kzb::app
