#include "zip/stream/buffer_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

// A memory stream that counts the calls the buffered stream makes on it.
class CountingStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  std::int64_t Read(void* buffer, std::int64_t count) override {
    ++reads;
    return TMemoryStream::Read(buffer, count);
  }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    ++writes;
    return TMemoryStream::Write(buffer, count);
  }
  int reads = 0;
  int writes = 0;
};

std::vector<std::uint8_t> Pattern(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return v;
}

template <typename E>
std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "<no exception>";
}

TEST(BufferStreamTest, ReadZeroBytesDoesNotTouchUnderlyingStream) {
  CountingStream base(Pattern(100));
  TS_BufferStream s(base);
  std::uint8_t b = 0;
  EXPECT_EQ(s.Read(&b, 0), 0);
  EXPECT_EQ(base.reads, 0);
}

TEST(BufferStreamTest, ReadPastEndReturnsWhatExistsThenZero) {
  TMemoryStream base(Pattern(100));
  TS_BufferStream s(base);
  std::vector<std::uint8_t> out(300);
  EXPECT_EQ(s.Read(out.data(), 300), 100);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 100), Pattern(100));
  EXPECT_EQ(s.Read(out.data(), 10), 0);
  EXPECT_EQ(s.Position(), 100);
}

TEST(BufferStreamTest, WritingExactlyBufferSizeFlushesOnceAndLeavesModeNone) {
  CountingStream base;
  TS_BufferStream s(base, 8192);
  const auto data = Pattern(8192);
  EXPECT_EQ(s.Write(data.data(), 8192), 8192);
  EXPECT_EQ(base.writes, 1);
  EXPECT_EQ(s.BufferMode(), TS_BufferStream::TBufferMode::kNone);
  EXPECT_EQ(base.Bytes(), data);
}

TEST(BufferStreamTest, SeekToCurrentPositionKeepsReadAheadBuffer) {
  CountingStream base(Pattern(20000));
  TS_BufferStream s(base);
  std::uint8_t ten[10];
  ASSERT_EQ(s.Read(ten, 10), 10);
  EXPECT_EQ(base.reads, 1);
  EXPECT_EQ(s.Seek(0, kSeekCurrent), 10);
  EXPECT_EQ(s.Seek(10, kSeekBegin), 10);
  EXPECT_EQ(s.BufferMode(), TS_BufferStream::TBufferMode::kReading);
  ASSERT_EQ(s.Read(ten, 10), 10);
  EXPECT_EQ(base.reads, 1);  // served from the buffer
  EXPECT_EQ(ten[0], Pattern(20000)[10]);
}

TEST(BufferStreamTest, SeekFromEndIgnoresTheSign) {
  TMemoryStream base(Pattern(1000));
  TS_BufferStream s(base);
  EXPECT_EQ(s.Seek(-5, kSeekEnd), 995);
  EXPECT_EQ(s.Seek(0, kSeekBegin), 0);
  EXPECT_EQ(s.Seek(5, kSeekEnd), 995);
}

TEST(BufferStreamTest, PendingWritesCountInSizeAndSeekFromEnd) {
  TMemoryStream base;
  TS_BufferStream s(base);
  const auto data = Pattern(100);
  s.Write(data.data(), 100);
  EXPECT_TRUE(base.Bytes().empty());  // nothing flushed yet
  EXPECT_EQ(s.Size(), 100);
  EXPECT_EQ(s.Seek(10, kSeekEnd), 90);
  EXPECT_EQ(base.Bytes(), data);  // the seek flushed
}

TEST(BufferStreamTest, ReadAfterWritesReturnsFollowingDataNotOldBuffer) {
  const auto original = Pattern(20000);
  TMemoryStream base(original);
  TS_BufferStream s(base);
  std::vector<std::uint8_t> junk(100, 0xEE);
  // Fill the buffer with old contents first, then write at the start.
  std::vector<std::uint8_t> out(50);
  s.Read(out.data(), 50);
  s.Seek(0, kSeekBegin);
  s.Write(junk.data(), 100);
  ASSERT_EQ(s.Read(out.data(), 50), 50);
  EXPECT_EQ(out, std::vector<std::uint8_t>(original.begin() + 100, original.begin() + 150));
  // Also after a write that ended exactly on a buffer boundary (flushed, mode none).
  std::vector<std::uint8_t> full(8192, 0xAB);
  s.Seek(0, kSeekBegin);
  s.Write(full.data(), 8192);
  ASSERT_EQ(s.Read(out.data(), 50), 50);
  EXPECT_EQ(out, std::vector<std::uint8_t>(original.begin() + 8192, original.begin() + 8242));
}

TEST(BufferStreamTest, WriteAfterReadLandsAtLogicalPosition) {
  TMemoryStream base(Pattern(1000));
  {
    TS_BufferStream s(base);
    std::uint8_t buf[10];
    s.Read(buf, 10);  // the buffer read ahead the whole 1000 bytes
    const std::uint8_t x[3] = {1, 2, 3};
    s.Write(x, 3);
    EXPECT_EQ(s.Position(), 13);
  }
  auto expected = Pattern(1000);
  expected[10] = 1;
  expected[11] = 2;
  expected[12] = 3;
  EXPECT_EQ(base.Bytes(), expected);
}

TEST(BufferStreamTest, PutBack) {
  TMemoryStream base(Pattern(100));
  TS_BufferStream s(base);
  EXPECT_EQ(MessageOf<EStreamError>([&] { s.PutBack(1); }), "Putback overflow");
  std::uint8_t b[4];
  s.Read(b, 4);
  s.PutBack(0x55);
  EXPECT_EQ(s.Position(), 3);
  ASSERT_EQ(s.Read(b, 2), 2);
  EXPECT_EQ(b[0], 0x55);
  EXPECT_EQ(b[1], Pattern(100)[4]);
  s.Seek(50, kSeekBegin);
  EXPECT_EQ(MessageOf<EStreamError>([&] { s.PutBack(1); }), "Putback overflow");
}

// Seeks that land in the bytes already read are served from the buffer: reads after them see the right
// bytes, backwards and forwards, and nothing can be put back in front of the target.
TEST(BufferStreamTest, SeekInsideTheReadBuffer) {
  const auto data = Pattern(1000);
  TMemoryStream base(data);
  TS_BufferStream s(base, 256);
  std::uint8_t b[8];
  ASSERT_EQ(s.Read(b, 8), 8);
  for (std::int64_t target : {200, 10, 255, 0, 256, 700, 650}) {
    SCOPED_TRACE(target);
    EXPECT_EQ(s.Seek(target, kSeekBegin), target);
    EXPECT_EQ(s.Position(), target);
    EXPECT_EQ(MessageOf<EStreamError>([&] { s.PutBack(1); }), "Putback overflow");
    ASSERT_EQ(s.Read(b, 8), 8);
    EXPECT_TRUE(std::equal(b, b + 8, data.begin() + target));
    EXPECT_EQ(s.Position(), target + 8);
  }
  s.PutBack(0x77);  // after a read the byte before is there again
  EXPECT_EQ(s.Position(), 657);
}

TEST(BufferStreamTest, SeekErrors) {
  TMemoryStream base(Pattern(100));
  TS_BufferStream s(base);
  EXPECT_EQ(MessageOf<EZipGeneralError>([&] { s.Seek(0, 3); }), "Invalid seek origin (3)");
  EXPECT_EQ(MessageOf<EZipGeneralError>([&] { s.Seek(-1, kSeekBegin); }), "Seek error");
  EXPECT_EQ(s.Position(), 0);
}

// A device that fills up: the loss must show in Write's result, in Flush and in Seek, never vanish.
TEST(BufferStreamTest, FullDeviceIsReportedNotSwallowed) {
  const auto data = Pattern(20000);
  {
    TMemoryStream base;
    base.SetWriteLimit(5000);
    TS_BufferStream s(base, 4096);
    EXPECT_LT(s.Write(data.data(), 8192), 8192);
  }
  {
    TMemoryStream base;
    base.SetWriteLimit(1000);
    TS_BufferStream s(base, 4096);
    EXPECT_EQ(s.Write(data.data(), 3000), 3000);  // still in the buffer
    EXPECT_FALSE(s.Flush());
  }
  {
    TMemoryStream base;
    base.SetWriteLimit(1000);
    TS_BufferStream s(base, 4096);
    s.Write(data.data(), 3000);
    EXPECT_EQ(MessageOf<EZipGeneralError>([&] { s.Seek(0, kSeekBegin); }), "Seek error");
  }
  {
    // A small write that completes the buffer reports the bytes it lost.
    TMemoryStream base;
    base.SetWriteLimit(4000);
    TS_BufferStream s(base, 4096);
    EXPECT_EQ(s.Write(data.data(), 4000), 4000);
    EXPECT_LT(s.Write(data.data(), 96), 96);
  }
}

// Random reads, writes and seeks against a plain model of the bytes: every result and the final content
// must agree, whatever the mix of buffered and direct transfers.
TEST(BufferStreamTest, RandomOperationsMatchModel) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 20; ++round) {
    TMemoryStream base(Pattern(30000));
    std::vector<std::uint8_t> model = Pattern(30000);
    std::int64_t pos = 0;
    const std::int32_t buffer_size = (round % 2 == 0) ? 8192 : 100;
    {
      TS_BufferStream s(base, buffer_size);
      for (int op = 0; op < 300; ++op) {
        const int kind = static_cast<int>(rng() % 4);
        const std::int64_t n =
            (rng() % 8 == 0) ? static_cast<std::int64_t>(rng() % 40000) : static_cast<std::int64_t>(rng() % 300);
        if (kind == 0) {
          std::vector<std::uint8_t> out(static_cast<std::size_t>(n));
          const std::int64_t got = s.Read(out.data(), n);
          const std::int64_t expect =
              std::max<std::int64_t>(0, std::min<std::int64_t>(n, static_cast<std::int64_t>(model.size()) - pos));
          ASSERT_EQ(got, expect) << "round " << round << " op " << op;
          ASSERT_TRUE(std::equal(out.begin(), out.begin() + got, model.begin() + pos));
          pos += got;
        } else if (kind == 1) {
          std::vector<std::uint8_t> in(static_cast<std::size_t>(n));
          for (auto& b : in) b = static_cast<std::uint8_t>(rng());
          ASSERT_EQ(s.Write(in.data(), n), n);
          if (pos + n > static_cast<std::int64_t>(model.size())) model.resize(static_cast<std::size_t>(pos + n));
          std::copy(in.begin(), in.end(), model.begin() + pos);
          pos += n;
        } else if (kind == 2) {
          const std::int64_t target = static_cast<std::int64_t>(rng() % (model.size() + 1));
          ASSERT_EQ(s.Seek(target, kSeekBegin), target);
          pos = target;
        } else {
          ASSERT_EQ(s.Position(), pos);
          ASSERT_EQ(s.Size(), static_cast<std::int64_t>(model.size()));
        }
      }
    }
    ASSERT_EQ(base.Bytes(), model) << "round " << round;
  }
}

TEST(LFNFileStreamTest, CreateWriteReopenReadAndModes) {
  test::ScratchDir dir;
  const std::string path = dir / "a.bin";
  const auto data = Pattern(20000);
  {
    TLFNFileStream s(path, kFmCreate, /*flush_on_close=*/true);
    s.Write(data.data(), 12345);
    EXPECT_EQ(s.Size(), 12345);
    // Flushed when destroyed while the file is still open.
  }
  EXPECT_EQ(test::ReadFileBytes(path), std::vector<std::uint8_t>(data.begin(), data.begin() + 12345));
  {
    TLFNFileStream s(path, kFmOpenReadWrite | kFmShareDenyNone);
    s.Seek(0, kSeekEnd);
    s.Write(data.data() + 12345, 20000 - 12345);
    EXPECT_TRUE(s.Close());
  }
  EXPECT_EQ(test::ReadFileBytes(path), data);
  {
    TLFNFileStream s(path, kFmOpenRead | kFmShareDenyWrite);
    std::vector<std::uint8_t> out(20000);
    EXPECT_EQ(s.Read(out.data(), 20000), 20000);
    EXPECT_EQ(out, data);
  }
  EXPECT_THROW(TLFNFileStream(dir / "missing.bin", kFmOpenRead), platform::EFOpenError);
  EXPECT_THROW(TLFNFileStream(dir / "no/such/dir.bin", kFmCreate), platform::EFCreateError);
}

}  // namespace
}  // namespace kzb::zip
