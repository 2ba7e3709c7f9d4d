#include "zip/records/sorted_zip.h"

#include "platform/date_time.h"
#include "zip/records/dos_time.h"

namespace kzb::zip {

namespace {

unsigned char FoldCase(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

// CompareText on the concatenations a1 + a2 and b1 + b2, without building them.
int CompareText2(std::string_view a1, std::string_view a2, std::string_view b1, std::string_view b2) {
  const std::size_t na = a1.size() + a2.size();
  const std::size_t nb = b1.size() + b2.size();
  const std::size_t n = na < nb ? na : nb;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char ca = FoldCase(i < a1.size() ? a1[i] : a2[i - a1.size()]);
    const unsigned char cb = FoldCase(i < b1.size() ? b1[i] : b2[i - b1.size()]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return na == nb ? 0 : (na < nb ? -1 : 1);
}

// The entry's date-time as a day count; 0 when the packed value is not a date.
double DateValue(std::uint32_t packed) {
  try {
    return platform::DateTime::FromDos(packed).Value();
  } catch (const platform::EConvertError&) {
    return 0.0;
  }
}

}  // namespace

int TSortedZip::Compare(const TZipHeaderInfo* x, const TZipHeaderInfo* y) const {
  switch (sort_mode_) {
    case TZipSortMode::ByName:
      return CompareText2(x->Directory(), x->FileName(), y->Directory(), y->FileName());
    case TZipSortMode::ByFileName:
      return CompareText(x->FileName(), y->FileName());
    case TZipSortMode::ByDirectoryName:
      return CompareText(x->Directory(), y->Directory());
    case TZipSortMode::ByDate:
      return DateValue(y->FileDateTime()) > DateValue(x->FileDateTime()) ? 1 : -1;
    case TZipSortMode::ByCompressedSize:
      return y->CompressedSize() > x->CompressedSize() ? 1 : -1;
    case TZipSortMode::ByUnCompressedSize:
      return y->UncompressedSize() > x->UncompressedSize() ? 1 : -1;
    case TZipSortMode::ByRate:
      return CompressionRate(y->UncompressedSize(), y->CompressedSize()) -
             CompressionRate(x->UncompressedSize(), x->CompressedSize());
    case TZipSortMode::ByNone:
      if (x->DiskNumberStart() != y->DiskNumberStart()) return x->DiskNumberStart() < y->DiskNumberStart() ? -1 : 1;
      if (x->LocalHeaderOffset() != y->LocalHeaderOffset()) {
        return x->LocalHeaderOffset() < y->LocalHeaderOffset() ? -1 : 1;
      }
      return 0;
  }
  return -1;
}

}  // namespace kzb::zip
