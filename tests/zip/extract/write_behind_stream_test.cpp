// The write-behind stream: the device gets every byte in order in chunks, the CRC kept on the way is the
// CRC of those bytes, and a device that fails (by raising or by taking fewer bytes) is reported to the
// writer on its next call, never lost.
#include "zip/extract/write_behind_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/records/crc32.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

// A memory device that takes limit bytes and then fails the way it is told; it records the size of
// every write.
class Device : public TMemoryStream {
 public:
  enum class Failure { kNone, kRaises, kShort };
  explicit Device(Failure failure = Failure::kNone, std::int64_t limit = INT64_MAX)
      : failure_(failure), limit_(limit) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    writes.push_back(count);
    const std::int64_t room = std::max<std::int64_t>(0, limit_ - Size());
    if (count > room && failure_ == Failure::kRaises) throw EStreamError("device failed");
    return TMemoryStream::Write(buffer, std::min(count, room));
  }
  std::vector<std::int64_t> writes;

 private:
  Failure failure_;
  std::int64_t limit_;
};

std::vector<std::uint8_t> DeviceBytes(Device& device) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(device.Size()));
  device.SetPosition(0);
  device.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  return bytes;
}

TEST(WriteBehindStreamTest, BytesArriveInOrderInChunksWithTheirCrc) {
  struct Case {
    std::size_t total;
    std::size_t piece;  // size of each Write
    std::size_t chunk;
    int chunks;
  };
  const Case cases[] = {
      {0, 10, 64, 2},    {1, 1, 64, 2},        {64, 64, 64, 2},        {65, 64, 64, 2},
      {10000, 7, 64, 2}, {10000, 1000, 64, 3}, {10000, 4096, 1000, 4}, {200000, 32768, 4096, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.total) + "/" + std::to_string(c.piece) + "/" + std::to_string(c.chunk));
    const std::vector<std::uint8_t> data = test::RandomBytes(c.total, static_cast<std::uint32_t>(c.total));
    Device device;
    {
      TWriteBehindStream stream(device, true, c.chunk, c.chunks);
      for (std::size_t pos = 0; pos < data.size(); pos += c.piece) {
        const auto n = static_cast<std::int64_t>(std::min(c.piece, data.size() - pos));
        ASSERT_EQ(stream.Write(data.data() + pos, n), n);
      }
      EXPECT_EQ(stream.Position(), static_cast<std::int64_t>(c.total));
      ASSERT_TRUE(stream.Flush());
      EXPECT_EQ(FinishCrc(stream.CrcRegister()), Crc32Of(data.data(), data.size()));
    }
    EXPECT_TRUE(DeviceBytes(device) == data);
    for (std::size_t i = 0; i + 1 < device.writes.size(); ++i) {
      EXPECT_EQ(device.writes[i], static_cast<std::int64_t>(c.chunk));
    }
  }
}

TEST(WriteBehindStreamTest, DeviceFailuresReachTheWriter) {
  const std::vector<std::uint8_t> data = test::RandomBytes(100000, 5);
  for (const Device::Failure failure : {Device::Failure::kRaises, Device::Failure::kShort}) {
    SCOPED_TRACE(static_cast<int>(failure));
    Device device(failure, 25000);
    TWriteBehindStream stream(device, false, 4096, 3);
    bool refused = false;
    bool raised = false;
    try {
      for (std::size_t pos = 0; pos < data.size(); pos += 1000) {
        if (stream.Write(data.data() + pos, 1000) < 1000) {
          refused = true;
          break;
        }
      }
      if (!refused) refused = !stream.Flush();
    } catch (const EStreamError& error) {
      EXPECT_STREQ(error.what(), "device failed");
      raised = true;
    }
    if (failure == Device::Failure::kRaises) {
      EXPECT_TRUE(raised);
      EXPECT_THROW(stream.Flush(), EStreamError);  // and stays failed
    } else {
      EXPECT_TRUE(refused);
      EXPECT_FALSE(stream.Flush());
      EXPECT_EQ(stream.Write(data.data(), 10), 0);
    }
    // Nothing after the failure reached the device.
    EXPECT_LE(device.Size(), 25000);
  }
}

TEST(WriteBehindStreamTest, DroppedWithoutFlushStopsAtOnce) {
  const std::vector<std::uint8_t> data = test::RandomBytes(1 << 20, 9);
  Device device;
  {
    TWriteBehindStream stream(device, false, 4096, 4);
    ASSERT_EQ(stream.Write(data.data(), static_cast<std::int64_t>(data.size())),
              static_cast<std::int64_t>(data.size()));
  }
  // Whatever reached the device is a prefix of what was written.
  const std::vector<std::uint8_t> written = DeviceBytes(device);
  ASSERT_LE(written.size(), data.size());
  EXPECT_TRUE(std::equal(written.begin(), written.end(), data.begin()));
  EXPECT_THROW(TWriteBehindStream(device).Seek(5, kSeekBegin), EStreamError);
}

}  // namespace
}  // namespace kzb::zip
