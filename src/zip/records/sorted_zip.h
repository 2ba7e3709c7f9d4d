// TSortedZip: an archive directory, a sorted list of TZipHeaderInfo entries ordered by a TZipSortMode.
//
// ByNone is the physical order (disk, then local header offset) and is what the reader's directory and the
// writer's new directory use; the other orders serve listings. ByDate and the two size orders never
// compare equal, so entries of equal date or size keep their insertion order and a search never reports
// "found" for them.
#pragma once

#include <cstdint>
#include <string_view>

#include "zip/records/ascii_text.h"
#include "zip/records/zip_header_info.h"
#include "zip/stream/object_list.h"

namespace kzb::zip {

enum class TZipSortMode : std::uint8_t {
  ByName = 0,              // Directory + FileName, case-insensitive ASCII, ascending
  ByFileName = 1,          // FileName, case-insensitive ASCII, ascending
  ByDirectoryName = 2,     // Directory, case-insensitive ASCII, ascending
  ByDate = 3,              // newest first
  ByCompressedSize = 4,    // largest first
  ByUnCompressedSize = 5,  // largest first
  ByRate = 6,              // highest CompressionRate first; equal rates compare equal
  ByNone = 7,              // DiskNumberStart, then LocalHeaderOffset, ascending
};

class TSortedZip : public TSortedObjectList<TZipHeaderInfo> {
 public:
  // Sort mode ByNone; owns its entries until SetOwnsItems(false).
  explicit TSortedZip(TDuplicatePolicy policy) : TSortedObjectList<TZipHeaderInfo>(policy) {}

  TZipSortMode SortMode() const { return sort_mode_; }
  // Changes the order used by later inserts and searches; the owner re-sorts by rebuilding the list.
  void SetSortMode(TZipSortMode mode) { sort_mode_ = mode; }

  int Compare(const TZipHeaderInfo* x, const TZipHeaderInfo* y) const override;

 private:
  TZipSortMode sort_mode_ = TZipSortMode::ByNone;
};

}  // namespace kzb::zip
