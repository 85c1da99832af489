#include "foundation/ApplicationVersion.h"

#include <gtest/gtest.h>

#include "platform/Version.h"

namespace vantrel {
namespace {

class ApplicationVersionTest : public ::testing::Test
{
protected:
    ~ApplicationVersionTest() override { platform::RestoreProgramVersionInfo(); }

    void UseFileVersion(uint16_t major, uint16_t minor, uint16_t release, uint16_t build)
    {
        platform::VersionInfo info;
        info.file_version_ms = (uint32_t{major} << 16) | minor;
        info.file_version_ls = (uint32_t{release} << 16) | build;
        platform::OverrideProgramVersionInfoForTesting(info);
    }
};

TEST_F(ApplicationVersionTest, FourNumbersComeFromTheWordsOfTheFixedVersion)
{
    UseFileVersion(1, 2, 3, 45);
    uint16_t major = 0, minor = 0, release = 0, build = 0;
    GetApplicationVersion(&major, &minor, &release, &build);
    EXPECT_EQ(1, major);
    EXPECT_EQ(2, minor);
    EXPECT_EQ(3, release);
    EXPECT_EQ(45, build);
    EXPECT_EQ("1.2.3  (Build 45)", GetApplicationVersionString());

    UseFileVersion(65535, 0, 65535, 65535);
    EXPECT_EQ("65535.0.65535  (Build 65535)", GetApplicationVersionString());
}

TEST_F(ApplicationVersionTest, WithoutVersionInformationTheOutputsAreUntouched)
{
    platform::OverrideProgramVersionInfoForTesting(std::nullopt);
    uint16_t major = 7, minor = 8, release = 9, build = 10;
    GetApplicationVersion(&major, &minor, &release, &build);
    EXPECT_EQ(7, major);
    EXPECT_EQ(8, minor);
    EXPECT_EQ(9, release);
    EXPECT_EQ(10, build);
    EXPECT_EQ("0.0.0  (Build 0)", GetApplicationVersionString());
}

TEST_F(ApplicationVersionTest, TheBuiltProgramReportsItsProjectVersion)
{
    EXPECT_EQ(VANTREL_TEST_VERSION_TEXT, GetApplicationVersionString());
}

}  // namespace
}  // namespace vantrel
