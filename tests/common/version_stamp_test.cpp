// Each built program carries its stamp where a reader scanning the file
// finds it: the marker with its NUL, the banner, a NUL.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "version_stamp.h"

namespace {

std::string ReadProgram(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string BannerIn(const std::string &bytes) {
    const std::string marker(VERSION_STAMP_MARKER, MARKER_LENGTH);
    std::size_t at = bytes.find(marker);
    if (at == std::string::npos) return "<no stamp>";
    std::size_t start = at + MARKER_LENGTH;
    return bytes.substr(start, bytes.find('\0', start) - start);
}

}  // namespace

TEST(VersionStamp, EachNativeProgramCarriesItsBanner) {
    std::string parlod = ReadProgram(KIT_BIN_DIR "/parlod");
    std::string setup = ReadProgram(KIT_BIN_DIR "/setup");
    ASSERT_FALSE(parlod.empty());
    ASSERT_FALSE(setup.empty());
    EXPECT_EQ(BannerIn(parlod),
              "QVR PCI0528/PCI0525 Driver Parameters Preload Utility V1.02 \n"
              "  for Windows 95 (960909)");
    EXPECT_EQ(BannerIn(setup),
              "QVR PCI0528/PCI0525 Driver Setup Utility V1.02 \n"
              "  for Windows 95 (960923)");
    EXPECT_EQ(BannerIn(parlod).size(), 86u);
    EXPECT_EQ(BannerIn(setup).size(), 73u);
}
