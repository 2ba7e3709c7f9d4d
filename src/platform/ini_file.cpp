// INI profile files, read and rewritten line by line.
//
// The file is held as its raw lines only for the length of one call. A line is one of: a section header
// ("[Name]", blanks around it allowed; the name runs to the last "]" so names holding "]" survive), a key
// line (text with an "=" whose trimmed left side is not empty), a comment (first non-blank character ";"),
// or anything else. Reading finds the first section with the name and, in it, the first key with the name,
// both without regard to ASCII letter case. Key lines before the first section belong to no section. A
// value is the text after the first "=" without the blanks around it and without one pair of double quotes
// that encloses it; writing puts those quotes around a value whose text would otherwise lose blanks or
// quotes of its own on reading, so values round-trip exactly. A UTF-8 byte order mark before the first line
// is set aside while the lines are read and put back in front when the file is written.
//
// Writing edits the line list and never re-creates lines it did not change: a replaced value keeps the
// key's spelling and everything up to the "=" as the file had it, and the line's own CR when the file has
// CRLF line ends. A new key goes after the last key line of the section (blank lines and comments that
// close a section stay where they are); a new section goes at the end of the file. New lines use the
// file's own line end. The result replaces the file atomically (WriteFileAtomic), so a crash, a kill or
// a full disk leaves either the old or the new file, never a truncated one; an unchanged file is not
// rewritten at all. A file that exists but cannot be read is never overwritten.
//
// Reads go through a small cache of parsed files, so that reading thousands of keys (a long activity log,
// hundreds of projects) costs one parse, not one per key. A cached parse is used only while the file is
// the very file it was made from: same device, inode, size, modification and change time, taken from the
// open file it was read from. Every write replaces the file by a rename (a new inode), and any other
// change moves the change time, so a read never sees an older state than the file's.
// (On Windows each read parses the file afresh.)
#include "platform/ini_file.h"

#include <cstring>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <tuple>
#include <unordered_map>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "platform/file_system.h"

namespace kzb::platform {

namespace {

constexpr std::uint32_t kNewIniFileMode = 0600;

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The value a key line's text after "=" stands for: blanks around it dropped, then one pair of enclosing
// double quotes.
std::string DecodeValue(std::string_view raw) {
  std::string_view text = Trim(raw);
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
  return std::string(text);
}

// The text written after "=" for value, so that DecodeValue gives value back.
std::string EncodeValue(const std::string& value) {
  if (value.empty()) return value;
  const bool blank_at_edge = IsBlank(value.front()) || IsBlank(value.back());
  const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
  return blank_at_edge || quoted ? "\"" + value + "\"" : value;
}

// A section, key or value can hold no line break: the text up to the first one is used.
std::string SingleLine(std::string_view text) {
  std::size_t end = text.find_first_of("\r\n");
  return std::string(text.substr(0, end));
}

enum class LineKind { kOther, kSection, kKey };

struct LineInfo {
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key lines: everything after the first "="
  std::size_t value_start = 0;
};

LineInfo Classify(std::string_view raw) {
  if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
  LineInfo info;
  std::string_view text = Trim(raw);
  if (text.empty() || text.front() == ';') return info;
  if (text.front() == '[') {
    std::size_t close = text.rfind(']');
    if (close != std::string_view::npos && close > 0) {
      info.kind = LineKind::kSection;
      info.name = Trim(text.substr(1, close - 1));
      return info;
    }
    return info;
  }
  std::size_t eq = raw.find('=');
  if (eq == std::string_view::npos) return info;
  std::string_view key = Trim(raw.substr(0, eq));
  if (key.empty()) return info;
  info.kind = LineKind::kKey;
  info.name = key;
  info.value = raw.substr(eq + 1);
  info.value_start = eq + 1;
  return info;
}

// The file as lines (without their "\n"; a CRLF line keeps its "\r").
class Document {
 public:
  // Loads path; a missing file is an empty document. Throws EFOpenError when the file exists but cannot
  // be read (writing would otherwise destroy it).
  static Document Load(const std::string& path, bool for_write) {
    Document doc;
    std::string content;
    if (!ReadFileContent(path, content)) {
      if (for_write && GetFileAttributes(path) >= 0) {
        // Opening it again reports the system's own cause (EFOpenError); an open that works now means the
        // read itself failed.
        File probe(path, File::Mode::kRead);
        throw EFOpenError("Cannot open file \"" + path + "\". The file could not be read");
      }
      return doc;
    }
    doc.existed_ = true;
    doc.original_ = content;
    if (content.compare(0, kUtf8ByteOrderMark.size(), kUtf8ByteOrderMark) == 0) {
      doc.byte_order_mark_ = true;
      content.erase(0, kUtf8ByteOrderMark.size());
    }
    std::size_t start = 0;
    while (start < content.size()) {
      std::size_t nl = content.find('\n', start);
      if (nl == std::string::npos) {
        doc.lines_.push_back(content.substr(start));
        break;
      }
      doc.lines_.push_back(content.substr(start, nl - start));
      start = nl + 1;
    }
    if (!doc.lines_.empty() && !doc.lines_.front().empty() && doc.lines_.front().back() == '\r') doc.crlf_ = true;
    return doc;
  }

  // [header, end) of the first section named name; header == npos when there is none.
  std::pair<std::size_t, std::size_t> FindSection(std::string_view name) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      LineInfo info = Classify(lines_[i]);
      if (info.kind == LineKind::kSection && EqualNoCase(info.name, name)) return {i, SectionEnd(i)};
    }
    return {std::string::npos, std::string::npos};
  }

  std::size_t SectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    while (i < lines_.size() && Classify(lines_[i]).kind != LineKind::kSection) ++i;
    return i;
  }

  // Line index of the first key named key in the first section named section, or npos.
  std::size_t FindKey(std::string_view section, std::string_view key) const {
    auto [header, end] = FindSection(section);
    if (header == std::string::npos) return std::string::npos;
    for (std::size_t i = header + 1; i < end; ++i) {
      LineInfo info = Classify(lines_[i]);
      if (info.kind == LineKind::kKey && EqualNoCase(info.name, key)) return i;
    }
    return std::string::npos;
  }

  bool Read(std::string_view section, std::string_view key, std::string& value) const {
    std::size_t i = FindKey(section, key);
    if (i == std::string::npos) return false;
    value = DecodeValue(Classify(lines_[i]).value);
    return true;
  }

  void Set(const std::string& section_in, const std::string& key_in, const std::string& value_in) {
    const std::string section = std::string(Trim(SingleLine(section_in)));
    const std::string key = std::string(Trim(SingleLine(key_in)));
    const std::string value = EncodeValue(SingleLine(value_in));
    auto [header, end] = FindSection(section);
    if (header == std::string::npos) {
      lines_.push_back(NewLine("[" + section + "]"));
      lines_.push_back(NewLine(key + "=" + value));
      return;
    }
    std::size_t last_key = header;
    for (std::size_t i = header + 1; i < end; ++i) {
      LineInfo info = Classify(lines_[i]);
      if (info.kind != LineKind::kKey) continue;
      if (EqualNoCase(info.name, key)) {
        std::string& line = lines_[i];
        const bool had_cr = !line.empty() && line.back() == '\r';
        line = line.substr(0, info.value_start) + value + (had_cr ? "\r" : "");
        return;
      }
      last_key = i;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last_key + 1), NewLine(key + "=" + value));
  }

  void EraseSection(std::string_view section) {
    for (;;) {
      auto [header, end] = FindSection(section);
      if (header == std::string::npos) return;
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                   lines_.begin() + static_cast<std::ptrdiff_t>(end));
    }
  }

  void DeleteKey(std::string_view section, std::string_view key) {
    // Every copy goes, in duplicate sections too, so that no older value shows through afterwards.
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      LineInfo info = Classify(lines_[i]);
      if (info.kind != LineKind::kSection || !EqualNoCase(info.name, section)) continue;
      std::size_t end = SectionEnd(i);
      for (std::size_t k = i + 1; k < end;) {
        LineInfo ki = Classify(lines_[k]);
        if (ki.kind == LineKind::kKey && EqualNoCase(ki.name, key)) {
          lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(k));
          --end;
        } else {
          ++k;
        }
      }
    }
  }

  void Save(const std::string& path) const {
    std::string content = byte_order_mark_ ? std::string(kUtf8ByteOrderMark) : std::string();
    for (const std::string& line : lines_) {
      content += line;
      content += '\n';
    }
    if (!existed_ && lines_.empty()) return;
    if (existed_ && content == original_) return;
    // Only a file that ends without a line break differs by that alone; it is not worth a rewrite.
    if (existed_ && !original_.empty() && content.size() == original_.size() + 1 &&
        content.compare(0, original_.size(), original_) == 0) {
      return;
    }
    WriteFileAtomic(path, content, kNewIniFileMode);
  }

 private:
  std::string NewLine(std::string text) const { return crlf_ ? text + "\r" : text; }

  std::vector<std::string> lines_;
  std::string original_;
  bool existed_ = false;
  bool crlf_ = false;
  bool byte_order_mark_ = false;
};

}  // namespace

namespace detail {

// The answers of the read calls for one state of a file: the first section of each name (without regard to
// case) in file order, and in it the first key of each name with its value.
class IniReadIndex {
 public:
  struct Section {
    std::vector<std::string> keys;                        // spelling as in the file, in file order
    std::unordered_map<std::string, std::string> values;  // lower-case key -> value
  };

  explicit IniReadIndex(const std::string& content) {
    Section* building = nullptr;
    std::size_t start =
        content.compare(0, kUtf8ByteOrderMark.size(), kUtf8ByteOrderMark) == 0 ? kUtf8ByteOrderMark.size() : 0;
    while (start < content.size()) {
      std::size_t nl = content.find('\n', start);
      if (nl == std::string::npos) nl = content.size();
      const LineInfo info = Classify(std::string_view(content).substr(start, nl - start));
      if (info.kind == LineKind::kSection) {
        const std::string lower = Lower(info.name);
        auto [it, added] = by_name_.try_emplace(lower, sections_.size());
        if (added) {
          names_.emplace_back(info.name);
          sections_.emplace_back();
          building = &sections_.back();
        } else {
          building = nullptr;  // a later section of the same name is never read
        }
      } else if (info.kind == LineKind::kKey && building != nullptr) {
        auto [it, added] = building->values.try_emplace(Lower(info.name), DecodeValue(info.value));
        if (added) building->keys.emplace_back(info.name);
      }
      start = nl + 1;
    }
  }

  const Section* Find(std::string_view section) const {
    auto found = by_name_.find(Lower(section));
    return found == by_name_.end() ? nullptr : &sections_[found->second];
  }
  bool Read(std::string_view section, std::string_view key, std::string& value) const {
    const Section* s = Find(section);
    if (s == nullptr) return false;
    auto found = s->values.find(Lower(key));
    if (found == s->values.end()) return false;
    value = found->second;
    return true;
  }
  const std::vector<std::string>& Names() const { return names_; }

 private:
  static std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
  }

  std::deque<Section> sections_;
  std::vector<std::string> names_;
  std::unordered_map<std::string, std::size_t> by_name_;
};

}  // namespace detail

namespace {

using ReadIndex = detail::IniReadIndex;

#ifdef _WIN32

// Windows: the file is read and parsed for every call (no cache).
std::shared_ptr<const ReadIndex> CurrentIndex(const std::string& path) {
  std::string content;
  if (!ReadFileContent(path, content)) content.clear();
  return std::make_shared<const ReadIndex>(content);
}

#else

// How many files keep their parse: project.ini, log.txt, StoreNumber.txt and one more.
constexpr std::size_t kCachedFiles = 4;

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};
  bool operator==(const FileIdentity& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
  }
};

FileIdentity IdentityOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

// The parse of the file as it is now: from the cache when the file is unchanged, else read and parsed. A
// missing or unreadable file reads as empty, as it does for a single read.
std::shared_ptr<const ReadIndex> CurrentIndex(const std::string& path) {
  static std::mutex mutex;
  static std::list<std::tuple<std::string, FileIdentity, std::shared_ptr<const ReadIndex> > > cache;
  static const auto empty = std::make_shared<const ReadIndex>(std::string());

  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return empty;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = cache.begin(); it != cache.end(); ++it) {
      if (std::get<0>(*it) == path && std::get<1>(*it) == IdentityOf(st)) {
        cache.splice(cache.begin(), cache, it);
        return std::get<2>(cache.front());
      }
    }
  }
  // Read and identify the same open file, so the parse is keyed by exactly what was read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return empty;
  std::string content;
  struct stat opened {};
  bool ok = ::fstat(fd, &opened) == 0;
  char buffer[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (!ok) return empty;
  auto index = std::make_shared<const ReadIndex>(content);
  std::lock_guard<std::mutex> lock(mutex);
  for (auto it = cache.begin(); it != cache.end(); ++it) {
    if (std::get<0>(*it) == path) {
      cache.erase(it);
      break;
    }
  }
  cache.emplace_front(path, IdentityOf(opened), index);
  if (cache.size() > kCachedFiles) cache.pop_back();
  return index;
}

#endif

std::string CutValue(std::string value) {
  if (value.size() <= IniFile::kMaxValueLength) return value;
  std::size_t cut = IniFile::kMaxValueLength;
  // Do not split a UTF-8 sequence.
  while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
  value.resize(cut);
  return value;
}

bool ParseInteger(std::string_view text, std::int64_t& result) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (text.size() > 1 && text[0] == '$') {
    base = 16;
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  unsigned long long magnitude = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    if (magnitude > (~0ULL - static_cast<unsigned>(digit)) / static_cast<unsigned>(base)) return false;
    magnitude = magnitude * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
  }
  if (base == 16 && !negative) {
    // Hexadecimal spells a bit pattern: 0xFFFFFFFFFFFFFFFF is -1.
    result = static_cast<std::int64_t>(magnitude);
    return true;
  }
  if (negative) {
    if (magnitude > 9'223'372'036'854'775'808ULL) return false;
    result = magnitude == 9'223'372'036'854'775'808ULL ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
  } else {
    if (magnitude > 9'223'372'036'854'775'807ULL) return false;
    result = static_cast<std::int64_t>(magnitude);
  }
  return true;
}

}  // namespace

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& default_value) const {
  std::string value;
  if (!CurrentIndex(path_)->Read(section, key, value)) return default_value;
  return CutValue(std::move(value));
}

std::int64_t IniFile::ReadInteger(const std::string& section, const std::string& key,
                                  std::int64_t default_value) const {
  std::string text;
  if (!CurrentIndex(path_)->Read(section, key, text)) return default_value;
  std::int64_t value = 0;
  return ParseInteger(CutValue(std::move(text)), value) ? value : default_value;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool default_value) const {
  return ReadInteger(section, key, default_value ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  Document doc = Document::Load(path_, true);
  doc.Set(section, key, value);
  doc.Save(path_);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, std::int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::WriteSection(const std::string& section, const std::vector<Entry>& entries,
                           const std::vector<std::string>& erase_keys) {
  if (entries.empty() && erase_keys.empty()) return;
  Document doc = Document::Load(path_, true);
  for (const Entry& e : entries) doc.Set(section, e.key, e.value);
  for (const std::string& key : erase_keys) doc.DeleteKey(section, key);
  doc.Save(path_);
}

void IniFile::WriteSections(const std::vector<SectionEntries>& sections) {
  if (sections.empty()) return;
  Document doc = Document::Load(path_, true);
  for (const SectionEntries& s : sections) {
    for (const Entry& e : s.entries) doc.Set(s.section, e.key, e.value);
  }
  doc.Save(path_);
}

bool IniFile::SectionExists(const std::string& section) const {
  return CurrentIndex(path_)->Find(section) != nullptr;
}

bool IniFile::ValueExists(const std::string& section, const std::string& key) const {
  std::string value;
  return CurrentIndex(path_)->Read(section, key, value);
}

IniFile::Snapshot IniFile::Read() const {
  return Snapshot(CurrentIndex(path_));
}

std::string IniFile::Snapshot::ReadString(const std::string& section, const std::string& key,
                                          const std::string& default_value) const {
  std::string value;
  if (!index_->Read(section, key, value)) return default_value;
  return CutValue(std::move(value));
}

std::int64_t IniFile::Snapshot::ReadInteger(const std::string& section, const std::string& key,
                                            std::int64_t default_value) const {
  std::string text;
  if (!index_->Read(section, key, text)) return default_value;
  std::int64_t value = 0;
  return ParseInteger(CutValue(std::move(text)), value) ? value : default_value;
}

std::vector<std::string> IniFile::ReadSections() const {
  return CurrentIndex(path_)->Names();
}

std::vector<std::string> IniFile::ReadSectionKeys(const std::string& section) const {
  // The index is held while its section is read: without the cache (Windows), or once another file has
  // pushed it out, nothing else keeps it alive.
  const std::shared_ptr<const ReadIndex> index = CurrentIndex(path_);
  const ReadIndex::Section* found = index->Find(section);
  return found != nullptr ? found->keys : std::vector<std::string>();
}

void IniFile::EraseSection(const std::string& section) {
  Document doc = Document::Load(path_, true);
  doc.EraseSection(section);
  doc.Save(path_);
}

void IniFile::DeleteKey(const std::string& section, const std::string& key) {
  Document doc = Document::Load(path_, true);
  doc.DeleteKey(section, key);
  doc.Save(path_);
}

}  // namespace kzb::platform
