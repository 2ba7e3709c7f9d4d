#include "zip/crypt/zip_crypt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/records/crc32.h"
#include "zip/records/zip_header_info.h"

namespace kzb::zip {
namespace {

TEST(ZipCryptTest, InitialKeysAndKeyStream) {
  TZipCrypt c;
  c.InitKeys("");
  EXPECT_EQ(c.Key0(), 0x12345678u);
  EXPECT_EQ(c.Key1(), 0x23456789u);
  EXPECT_EQ(c.Key2(), 0x34567890u);
  // key2 = 0x34567890: t = 0x7890 | 2 = 0x7892; (0x7892 * 0x7893) >> 8 & 0xFF
  EXPECT_EQ(c.KeyStreamByte(), static_cast<std::uint8_t>((0x7892u * 0x7893u) >> 8));
  const std::uint32_t k2 = c.Key2();
  (void)c.KeyStreamByte();
  EXPECT_EQ(c.Key2(), k2);  // reading the stream byte does not move the keys
  // One password byte goes through the three updates.
  c.InitKeys("a");
  const std::uint32_t k0 = Crc32Step(0x12345678, 'a');
  const std::uint32_t k1 = (0x23456789u + (k0 & 0xFF)) * 134775813u + 1;
  EXPECT_EQ(c.Key0(), k0);
  EXPECT_EQ(c.Key1(), k1);
  EXPECT_EQ(c.Key2(), Crc32Step(0x34567890, static_cast<std::uint8_t>(k1 >> 24)));
}

TEST(ZipCryptTest, BufferRoutinesMatchByteRoutinesAndRoundTrip) {
  const auto plain = test::RandomBytes(10000, 4);
  TZipCrypt a, b;
  a.InitKeys("pass word");
  b.InitKeys("pass word");
  std::vector<std::uint8_t> by_byte(plain.size());
  for (std::size_t i = 0; i < plain.size(); ++i) by_byte[i] = a.EncryptByte(plain[i]);
  std::vector<std::uint8_t> by_buffer(plain.size());
  const auto input_copy = plain;
  b.EncryptBuffer(plain.data(), by_buffer.data(), plain.size());
  EXPECT_EQ(by_buffer, by_byte);
  EXPECT_EQ(plain, input_copy);  // the caller's buffer stays plain
  EXPECT_NE(by_buffer, plain);

  TZipCrypt d;
  d.InitKeys("pass word");
  auto decrypted = by_buffer;
  d.DecryptBuffer(decrypted.data(), 3000);
  d.DecryptBuffer(decrypted.data() + 3000, decrypted.size() - 3000);  // keys carry across calls
  EXPECT_EQ(decrypted, plain);

  TZipCrypt in_place;
  in_place.InitKeys("pass word");
  auto same = plain;
  in_place.EncryptBuffer(same.data(), same.data(), same.size());
  EXPECT_EQ(same, by_byte);
}

TEST(ZipCryptTest, HeaderChecksWithRightPasswordAndMostlyFailsWithWrong) {
  const std::uint32_t crc = 0xA1B2C3D4;
  TZipCrypt writer;
  const std::uint8_t random[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  std::uint8_t header[12];
  writer.MakeHeader("secret", crc, random, header);
  TZipCrypt reader;
  EXPECT_EQ(reader.CheckHeaderBytes("secret", header), 0xA1);
  // Bytes 10 and 11 are the CRC's two high bytes; the keys then match the writer's.
  EXPECT_EQ(reader.Key0(), writer.Key0());
  EXPECT_EQ(reader.Key2(), writer.Key2());
  int passed = 0;
  for (int i = 0; i < 2000; ++i) {
    if (reader.CheckHeaderBytes("wrong" + std::to_string(i), header) == 0xA1) ++passed;
  }
  EXPECT_LT(passed, 30);  // about 8 expected

  // The same random bytes give the same header; other ones change its first ten bytes.
  std::uint8_t again[12], other[12];
  const std::uint8_t random2[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11};
  writer.MakeHeader("secret", crc, random, again);
  writer.MakeHeader("secret", crc, random2, other);
  EXPECT_TRUE(std::equal(header, header + 12, again));
  EXPECT_FALSE(std::equal(header, header + 10, other));
}

TEST(ZipCryptTest, WriteHeaderAndCheckHeaderThroughStreams) {
  TMemoryStream s;
  TZipCrypt writer;
  writer.WriteHeader("pw", 0x00FF0000, s);
  EXPECT_EQ(s.Size(), 12);
  s.Seek(0, kSeekBegin);
  TZipCrypt reader;
  EXPECT_EQ(reader.CheckHeader("pw", s), 0x00);
  TMemoryStream short_stream(std::vector<std::uint8_t>(11, 0));
  EXPECT_EQ(reader.CheckHeader("pw", short_stream), -1);
}

TEST(ZipCryptTest, ExpectedCheckByte) {
  TZipHeaderInfo h;
  h.SetCrc32(0x11223344);
  h.SetFileDateTime(0x5566'7788);
  EXPECT_EQ(ExpectedCheckByte(h), 0x11);
  h.SetGeneralFlags(0x0009);
  EXPECT_EQ(ExpectedCheckByte(h), 0x77);
}

// Headers written one after another within the same millisecond still differ in their random bytes
// (they come from the system's random source, not from the clock).
TEST(ZipCryptTest, WrittenHeadersDifferWithinOneMillisecond) {
  TMemoryStream a, b;
  TZipCrypt writer;
  writer.WriteHeader("pw", 0x12345678, a);
  writer.WriteHeader("pw", 0x12345678, b);
  EXPECT_NE(a.Bytes(), b.Bytes());
  TZipCrypt reader;
  a.Seek(0, kSeekBegin);
  EXPECT_EQ(reader.CheckHeader("pw", a), 0x12);
}

}  // namespace
}  // namespace kzb::zip
