// INI profile files.
//
// Sections ("[Name]") and keys ("Key=Value") are found without regard to letter case; values are read up to
// 2047 characters. Blanks around section names, keys and values are not part of them, as with the
// platform's profile functions, so a hand-edited "Count0 = Docs" reads as the key Count0 with the value
// Docs. A value whose own text starts or ends with a blank (a comment typed with leading blanks, a file name
// ending in a blank) is written in double quotes, and one pair of double quotes around a value is taken off
// on reading, so every value round-trips exactly. A UTF-8 byte order mark at the start of the file is
// skipped on reading and kept on writing. Every operation opens the file, reads or writes it, and closes it
// again, so no state is cached between calls.
// A write replaces the whole file atomically: a temporary file in the same folder is written, flushed to
// disk and renamed over the old one, so a crash never leaves a half-written file. Unknown lines, comments
// and the order of existing lines survive a write. A newly created file is readable by its owner only
// (it may hold project passwords); an existing one keeps its permissions. A line break cannot be stored:
// a value, key or section name is written up to its first CR or LF. A file that exists but cannot be read
// is never overwritten (the write throws EFOpenError). WriteSection costs one flush to disk for all its
// keys, each single Write* one flush for one key.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kzb::platform {

namespace detail {
class IniReadIndex;
}

class IniFile {
 public:
  static constexpr std::size_t kMaxValueLength = 2047;

  explicit IniFile(std::string path) : path_(std::move(path)) {}
  const std::string& Path() const { return path_; }

  std::string ReadString(const std::string& section, const std::string& key, const std::string& default_value) const;
  // Decimal, or hexadecimal after "0x"; default_value when absent or not a number.
  std::int64_t ReadInteger(const std::string& section, const std::string& key, std::int64_t default_value) const;
  // Non-zero integer is true; default_value when absent or not a number.
  bool ReadBool(const std::string& section, const std::string& key, bool default_value) const;

  // Writes replace the key's value in place, or append the key at the end of its section, or append the
  // section at the end of the file. Throw EFileError when the file cannot be written.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, std::int64_t value);
  void WriteBool(const std::string& section, const std::string& key, bool value);  // "1" / "0"

  // Several writes to one section in one atomic replacement (a project save is one transaction); the keys
  // in erase_keys are removed from the section in the same replacement.
  struct Entry {
    std::string key;
    std::string value;
  };
  void WriteSection(const std::string& section, const std::vector<Entry>& entries,
                    const std::vector<std::string>& erase_keys = {});
  // Writes to several sections in one atomic replacement, in the order given (an activity log entry and
  // its count go together, so no reader or crash sees one without the other).
  struct SectionEntries {
    std::string section;
    std::vector<Entry> entries;
  };
  void WriteSections(const std::vector<SectionEntries>& sections);

  // The file as it is now, for many reads in a row: one look at the file instead of one per key (loading
  // thousands of log entries). Later changes of the file are not seen by the snapshot.
  class Snapshot {
   public:
    std::string ReadString(const std::string& section, const std::string& key, const std::string& default_value) const;
    std::int64_t ReadInteger(const std::string& section, const std::string& key, std::int64_t default_value) const;

   private:
    friend class IniFile;
    explicit Snapshot(std::shared_ptr<const detail::IniReadIndex> index) : index_(std::move(index)) {}
    std::shared_ptr<const detail::IniReadIndex> index_;
  };
  Snapshot Read() const;

  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  std::vector<std::string> ReadSections() const;
  std::vector<std::string> ReadSectionKeys(const std::string& section) const;
  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& key);

 private:
  std::string path_;
};

}  // namespace kzb::platform
