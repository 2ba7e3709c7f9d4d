#include "zip/stream/stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

TEST(StreamTest, MemoryStreamSeekWriteAndGrow) {
  TMemoryStream s;
  EXPECT_EQ(s.Seek(4, kSeekBegin), 4);
  s.Write("ab", 2);  // the gap is zero-filled
  EXPECT_EQ(s.Bytes(), (std::vector<std::uint8_t>{0, 0, 0, 0, 'a', 'b'}));
  EXPECT_EQ(s.Seek(-1, kSeekEnd), 5);  // plain streams add the offset to the size
  EXPECT_EQ(s.Seek(-2, kSeekCurrent), 3);
  EXPECT_THROW(s.Seek(-10, kSeekCurrent), EZipGeneralError);
  EXPECT_THROW(s.Seek(0, 7), EZipGeneralError);
  EXPECT_EQ(s.Position(), 3);
  s.SetSize(2);
  EXPECT_EQ(s.Position(), 2);
  EXPECT_EQ(s.Size(), 2);
}

TEST(StreamTest, ExactReadsWritesAndCopy) {
  TMemoryStream source(test::RandomBytes(200000, 8));
  std::vector<std::uint8_t> buffer(200);
  source.Seek(-5, kSeekEnd);
  EXPECT_THROW(source.ReadBuffer(buffer.data(), 10), EFatalUnzipError);

  TMemoryStream full;
  full.SetWriteLimit(100);
  EXPECT_THROW(full.WriteBuffer(buffer.data(), 101), ENotEnoughRoom);

  source.Seek(1000, kSeekBegin);
  TMemoryStream target;
  EXPECT_EQ(target.CopyFrom(source, 150000), 150000);
  EXPECT_TRUE(std::equal(target.Bytes().begin(), target.Bytes().end(), source.Bytes().begin() + 1000));
  EXPECT_EQ(target.CopyFrom(source, 1000000), 200000 - 151000);  // the source ends first
  TMemoryStream small;
  small.SetWriteLimit(10);
  source.Seek(0, kSeekBegin);
  EXPECT_THROW(small.CopyFrom(source, 100), ENotEnoughRoom);
}

TEST(StreamTest, FileStream) {
  test::ScratchDir dir;
  const std::string path = dir / "f.bin";
  {
    TFileStream f(path, platform::File::Mode::kCreate);
    f.WriteBuffer("0123456789", 10);
    EXPECT_EQ(f.Size(), 10);
    EXPECT_EQ(f.Seek(-3, kSeekEnd), 7);
    EXPECT_EQ(f.Seek(1, kSeekCurrent), 8);
    EXPECT_THROW(f.Seek(-1, kSeekBegin), EZipGeneralError);
    f.SetSize(4);
    f.FlushToDisk();
    EXPECT_EQ(f.Path(), path);
  }
  EXPECT_EQ(test::ReadFileText(path), "0123");
}

}  // namespace
}  // namespace kzb::zip
