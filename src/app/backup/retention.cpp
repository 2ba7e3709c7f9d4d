// The retention ring. A project's section holds "Max" (the ring size, the keep count at the last backup),
// "Head" (the slot of the newest archive, 1 .. Max, 0 before the first backup) and the slots "N1" ..
// "N" + Max. Read from the slot after Head round to Head, the ring lists the kept archives oldest first.
// Each backup moves Head on by one slot and deletes the archive that slot held, so the ring always holds
// the last Max archives. When the keep count S drops below Max, the ring is first compacted: the oldest
// Max - S archives are deleted and the newest S are rewritten into N1 .. NS with Head = S, so the ring
// continues as if it had always had S slots. Raising S needs no compaction: the ring grows as Head passes
// the new slots.
//
// A slot's value is only ever trusted as far as it names one of this project's archives: retention
// deletes a file only when it lies in the project's destination folder, continues the prefix, ends in
// ".zip" and is not the archive just written.
//
// The archives the ring pushes out are deleted before the new ring is written, never after: a run killed
// in between leaves a ring that still names archives that are gone (harmless, a gone file is passed over)
// and does not yet hold the new one (the next run records it, see backup_recovery.h), but never an
// archive on disk that no slot names any more and that retention would therefore never delete.
#include "app/backup/retention.h"

#include <algorithm>
#include <map>

#include "app/common/ini_lists.h"
#include "app/common/text_utils.h"
#include "platform/file_system.h"
#include "platform/path.h"

namespace kzb::app {

namespace {

// Appended rather than concatenated onto a literal: g++ 12 at -O3 misreads "literal" + string as an
// overlapping copy (-Wrestrict).
std::string NumberedKey(const char* prefix, std::int64_t slot) {
  std::string key(prefix);
  key += std::to_string(slot);
  return key;
}
std::string SlotKey(std::int64_t slot) {
  return NumberedKey("N", slot);
}
std::string Marker(std::int64_t slot) {
  return NumberedKey("NoFile", slot);
}

bool EndsWithZip(const std::string& path) {
  return path.size() >= 4 && SameTextNoCase(std::string_view(path).substr(path.size() - 4), ".zip");
}

bool SamePath(const std::string& a, const std::string& b) {
  return a == b || platform::ExpandFileName(a) == platform::ExpandFileName(b);
}

// The slots N1 .. N + max that are present in the section, by number.
std::map<std::int64_t, std::string> ReadSlots(const platform::IniFile& store, const std::string& section,
                                              std::int64_t max) {
  std::map<std::int64_t, std::string> slots;
  for (const std::string& key : store.ReadSectionKeys(section)) {
    std::int64_t slot = NumberedKeyIndex(key, "N");
    if (slot >= 1 && slot <= max && !slots.contains(slot)) {
      slots.emplace(slot, store.ReadString(section, SlotKey(slot), ""));
    }
  }
  return slots;
}

// Deletes value when it is a deletable archive of the project; records what was deleted.
void DeleteSlotArchive(const std::string& value, const RetentionProject& project, const std::string& archive,
                       std::vector<std::string>& deleted) {
  if (value.empty() || IsRetentionMarker(value) || SamePath(value, archive)) return;
  if (!IsProjectArchive(value, project)) return;
  if (platform::DeleteFile(value)) deleted.push_back(value);
}

}  // namespace

bool IsRetentionMarker(const std::string& value) {
  constexpr std::string_view kPrefix = "NoFile";
  if (value.size() <= kPrefix.size() || value.compare(0, kPrefix.size(), kPrefix) != 0) return false;
  return std::all_of(value.begin() + static_cast<std::ptrdiff_t>(kPrefix.size()), value.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

bool IsProjectArchive(const std::string& path, const RetentionProject& project) {
  std::string prefix = Trim(project.prefix);
  std::string folder = Trim(project.destination);
  if (prefix.empty() || folder.empty() || !platform::IsAbsolutePath(path)) return false;
  std::string expanded = platform::ExpandFileName(path);
  std::string base = platform::ExpandFileName(platform::IncludeTrailingSeparator(folder) + prefix);
  if (expanded.size() <= base.size() || expanded.compare(0, base.size(), base) != 0) return false;
  std::string_view rest = std::string_view(expanded).substr(base.size());
  if (std::any_of(rest.begin(), rest.end(), [](char c) { return platform::IsPathSeparator(c); })) return false;
  return EndsWithZip(expanded) && platform::FileExists(expanded);
}

std::vector<std::string> ApplyRetention(platform::IniFile& store, const RetentionProject& project,
                                        const std::string& archive) {
  std::vector<std::string> deleted;
  if (project.suffix_kind == SuffixKind::kNone) return deleted;

  const std::string& section = project.name;
  const std::int64_t keep = std::clamp(project.keep_count, 1, kMaxKeepCount);
  // Only keep counts are ever written as "Max"; a larger hand-edited value is read as the largest.
  std::int64_t max = std::min<std::int64_t>(store.ReadInteger(section, "Max", 2), kMaxKeepCount);
  std::int64_t head = std::max<std::int64_t>(store.ReadInteger(section, "Head", 0), 0);

  std::vector<std::string> pushed_out;        // oldest first
  std::map<std::int64_t, std::string> slots;  // slot values written back after a compaction
  const bool compacted = keep < max;
  if (compacted) {
    std::map<std::int64_t, std::string> old_slots = ReadSlots(store, section, max);
    std::vector<std::string> ring;  // oldest first
    for (std::int64_t k = 1; k <= max; ++k) {
      std::int64_t slot = ((head + k - 1) % max) + 1;
      auto it = old_slots.find(slot);
      ring.push_back(it != old_slots.end() ? it->second : Marker(slot));
    }
    pushed_out.assign(ring.begin(), ring.begin() + static_cast<std::ptrdiff_t>(max - keep));
    for (std::int64_t v = 1; v <= keep; ++v) slots[keep - v + 1] = ring[static_cast<std::size_t>(max - v)];
    head = keep;
  }

  if (keep < head) head = 0;
  head = (head % keep) + 1;
  pushed_out.push_back(compacted ? slots[head] : store.ReadString(section, SlotKey(head), ""));
  slots[head] = archive;

  for (const std::string& value : pushed_out) DeleteSlotArchive(value, project, archive, deleted);

  // New keys land in this order: the compacted slots, "Max", "Head", the newest slot.
  std::vector<platform::IniFile::Entry> entries;
  for (const auto& [slot, value] : slots) {
    if (slot != head) entries.push_back({SlotKey(slot), value});
  }
  entries.push_back({"Max", std::to_string(keep)});
  entries.push_back({"Head", std::to_string(head)});
  entries.push_back({SlotKey(head), archive});
  store.WriteSection(section, entries);
  return deleted;
}

bool RingHolds(const platform::IniFile& store, const std::string& section, const std::string& archive) {
  const std::int64_t max = std::min<std::int64_t>(store.ReadInteger(section, "Max", 2), kMaxKeepCount);
  for (const auto& [slot, value] : ReadSlots(store, section, max)) {
    if (!value.empty() && !IsRetentionMarker(value) && SamePath(value, archive)) return true;
  }
  return false;
}

void MoveRetentionSection(platform::IniFile& store, const std::string& old_name, const std::string& new_name) {
  std::int64_t max = store.ReadInteger(old_name, "Max", 2);
  std::int64_t head = store.ReadInteger(old_name, "Head", 0);
  std::vector<platform::IniFile::Entry> entries = {{"Max", std::to_string(max)}, {"Head", std::to_string(head)}};
  for (const auto& [slot, value] : ReadSlots(store, old_name, max)) {
    if (!value.empty()) entries.push_back({SlotKey(slot), value});
  }
  store.WriteSection(new_name, entries);
  store.EraseSection(old_name);
}

void EraseRetentionSection(platform::IniFile& store, const std::string& name) {
  store.EraseSection(name);
}

}  // namespace kzb::app
