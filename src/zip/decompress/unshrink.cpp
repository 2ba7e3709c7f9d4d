// Unshrink: the decoder of ZIP method 1, LZW with a code width the compressor controls and partial
// clearing of the string table.
//
// The string table holds up to 8192 codes. Codes 0..255 are the single bytes, code 256 is the control
// escape, and codes 257..8191 are strings, each stored as (parent code, last byte). Codes start 9 bits
// wide; only the control pair 256,1 widens them (up to 13 bits), and 256,2 frees every string code that
// is not the parent of another code. Free codes are handed out lowest first: after each data code except
// the first, the lowest free code receives (previous code, first byte of the current string). A code that
// is still free when it arrives can only be the one about to be defined (the LZW "KwKwK" case): its string
// is the previous string followed by that string's first byte.
//
// Strings are expanded by walking parent links into a stack, back to front, and copied into the output
// buffer, which is handed over every kOutputBlockSize bytes and at the end. The stream has no end code;
// decoding ends at the first code that would need bits beyond the compressed bytes, so trailing padding
// bits are never taken for a code.
//
// Hostile input: every loop is bounded. The main loop consumes at least 9 bits per turn, a walk up the
// parent links is cut off after as many steps as there are codes (a longer walk means a cycle, which a
// partial clear followed by a crafted code can build), and a code that is free but not the next to be
// defined stops decoding with kDataError. Memory is fixed: about 60 KiB of tables and buffers, all
// owned by std::vector.
#include "zip/decompress/unshrink.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "zip/decompress/bit_reader.h"

namespace kzb::zip {
namespace {

constexpr int kInitialWidth = 9;
constexpr int kMaxWidth = 13;
constexpr std::uint32_t kCodeCount = 1u << kMaxWidth;  // 8192 codes, 0..8191
constexpr std::uint32_t kControlCode = 256;
constexpr std::uint32_t kFirstStringCode = 257;
constexpr std::uint16_t kFreeCode = 0xFFFF;  // parent value of a free string code
constexpr std::uint32_t kNoCode = 0xFFFFFFFF;

class Unshrinker {
 public:
  Unshrinker(const InputFn& input, const OutputBlockFn& output)
      : reader_(input),
        output_(output),
        parent_(kCodeCount, kFreeCode),
        last_byte_(kCodeCount, 0),
        is_parent_(kCodeCount, 0),
        stack_(kCodeCount + 1),
        buffer_(kOutputBlockSize) {
    for (std::uint32_t code = 0; code < 256; ++code) last_byte_[code] = static_cast<std::uint8_t>(code);
  }

  DecodeResult Run() {
    const DecodeResult result = Decode();
    Flush();
    return result;
  }

 private:
  DecodeResult Decode() {
    int width = kInitialWidth;
    std::uint32_t previous = kNoCode;
    for (;;) {
      const std::uint32_t code = reader_.Get(width);
      if (reader_.PastEnd()) return DecodeResult::kOk;

      if (code == kControlCode) {
        const std::uint32_t command = reader_.Get(width);
        if (reader_.PastEnd()) return DecodeResult::kOk;
        if (command == 1) {
          if (width < kMaxWidth) ++width;
        } else if (command == 2) {
          PartialClear();
        }
        continue;
      }

      // Expand the string of the code into stack_[start, end).
      std::size_t start = 0;
      std::size_t end = stack_.size() - 1;
      if (IsDefined(code)) {
        if (!Expand(code, end, &start)) return DecodeResult::kDataError;
      } else {
        // A partial clear may have freed the previous code itself; its string is gone with it.
        if (previous == kNoCode || code != next_free_ || !IsDefined(previous)) return DecodeResult::kDataError;
        // The previous string plus its own first byte; the extra byte goes into the slot past `end`.
        if (!Expand(previous, end, &start)) return DecodeResult::kDataError;
        stack_[end] = stack_[start];
        ++end;
      }

      if (previous != kNoCode && next_free_ < kCodeCount) {
        parent_[next_free_] = static_cast<std::uint16_t>(previous);
        last_byte_[next_free_] = stack_[start];
        AdvanceNextFree(next_free_ + 1);
      }

      Emit(start, end);
      previous = code;
    }
  }

  // Also false for values outside the table, such as the parent link of a free code.
  bool IsDefined(std::uint32_t code) const {
    return code < 256 || (code >= kFirstStringCode && code < kCodeCount && parent_[code] != kFreeCode);
  }

  // Writes the string of a defined code so that it ends just before stack_[end]; sets *start to its first
  // byte. Fails on a parent chain longer than the table (a cycle) or one that meets a free code.
  bool Expand(std::uint32_t code, std::size_t end, std::size_t* start) {
    std::size_t position = end;
    for (;;) {
      if (position == 0) return false;
      stack_[--position] = last_byte_[code];
      if (code < 256) break;
      code = parent_[code];
      if (!IsDefined(code)) return false;
    }
    *start = position;
    return true;
  }

  // Frees every string code that is no other code's parent; the next code to define becomes the lowest
  // free one.
  void PartialClear() {
    std::fill(is_parent_.begin(), is_parent_.end(), 0);
    for (std::uint32_t code = kFirstStringCode; code < kCodeCount; ++code) {
      if (parent_[code] != kFreeCode) is_parent_[parent_[code]] = 1;
    }
    for (std::uint32_t code = kFirstStringCode; code < kCodeCount; ++code) {
      if (!is_parent_[code]) parent_[code] = kFreeCode;
    }
    AdvanceNextFree(kFirstStringCode);
  }

  void AdvanceNextFree(std::uint32_t from) {
    next_free_ = from;
    while (next_free_ < kCodeCount && parent_[next_free_] != kFreeCode) ++next_free_;
  }

  void Emit(std::size_t start, std::size_t end) {
    while (start < end) {
      std::size_t count = std::min(end - start, buffer_.size() - used_);
      std::copy(stack_.begin() + static_cast<std::ptrdiff_t>(start),
                stack_.begin() + static_cast<std::ptrdiff_t>(start + count),
                buffer_.begin() + static_cast<std::ptrdiff_t>(used_));
      used_ += count;
      start += count;
      if (used_ == buffer_.size()) {
        used_ = 0;
        output_(buffer_.data(), buffer_.size());
      }
    }
  }

  void Flush() {
    if (used_ > 0) {
      const std::size_t count = used_;
      used_ = 0;
      output_(buffer_.data(), count);
    }
  }

  BitReader reader_;
  const OutputBlockFn& output_;
  std::vector<std::uint16_t> parent_;    // parent code of each string code, kFreeCode when free
  std::vector<std::uint8_t> last_byte_;  // last byte of each code's string
  std::vector<std::uint8_t> is_parent_;  // scratch of PartialClear
  std::vector<std::uint8_t> stack_;      // one string, built back to front, plus one byte for KwKwK
  std::vector<std::uint8_t> buffer_;     // output block being filled
  std::size_t used_ = 0;
  std::uint32_t next_free_ = kFirstStringCode;
};

}  // namespace

DecodeResult Unshrink(const InputFn& input, const OutputBlockFn& output) {
  Unshrinker unshrinker(input, output);
  return DecodeGuarded([&] { return unshrinker.Run(); });
}

}  // namespace kzb::zip
