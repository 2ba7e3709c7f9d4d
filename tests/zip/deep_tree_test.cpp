// A tree whose paths are longer than the classic Windows limit of 260 characters is backed up and
// extracted whole. On Linux such paths are ordinary; on Windows every listing, status query and open on the
// way must take the long form, so the test prepares and checks the files through the platform's services.
#include <gtest/gtest.h>

#include <string>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/writer/vcl_zip.h"

namespace kzb::zip {
namespace {

TEST(DeepTreeTest, PathsBeyondTheClassicLimitRoundTrip) {
  test::ScratchDir scratch;
  const std::string src = scratch / "src/";
  std::string relative;
  while (relative.size() < 300) relative += test::Native("a-folder-name-of-some-length/");
  const std::string content = "the bottom of a deep tree";
  ASSERT_TRUE(platform::ForceDirectories(src + relative));
  platform::WriteFileAtomic(src + relative + "deep.txt", content);
  platform::WriteFileAtomic(src + "top.txt", "top");

  TVCLZip zip;
  zip.SetZipName(scratch / "deep.zip");
  zip.SetRootDir(src);
  zip.SetRelativePaths(true);
  zip.SetRecurse(true);
  zip.SetFilesList({src + "*"});
  ASSERT_EQ(zip.Zip(), 2);

  TVCLUnZip reader;
  reader.SetZipName(scratch / "deep.zip");
  reader.SetDestDir(scratch / "out");
  reader.SetDoAll(true);
  reader.SetRecreateDirs(true);
  ASSERT_EQ(reader.UnZip(), 2);
  std::string extracted;
  ASSERT_TRUE(platform::ReadFileContent(scratch / "out/" + relative + "deep.txt", extracted));
  EXPECT_EQ(extracted, content);
}

}  // namespace
}  // namespace kzb::zip
