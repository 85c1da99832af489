#include "platform/Version.h"

#include <gtest/gtest.h>

namespace vantrel::platform {
namespace {

TEST(VersionTest, BuiltInInformationAgreesWithItself)
{
    VersionInfo info;
    ASSERT_TRUE(GetProgramVersionInfo(&info));
    uint32_t ms = 0, ls = 0;
    ASSERT_TRUE(VerQueryFixedFileInfo(info, &ms, &ls));
    std::vector<VersionTranslation> translations;
    ASSERT_TRUE(VerQueryTranslations(info, &translations));
    ASSERT_EQ(1u, translations.size());
    char key[64];
    std::snprintf(key, sizeof key, "\\StringFileInfo\\%04X%04X\\ProductVersion",
                  translations[0].language, translations[0].code_page);
    std::string product;
    ASSERT_TRUE(VerQueryString(info, key, &product));
    EXPECT_EQ(std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
                  std::to_string(ls >> 16),
              product);
    EXPECT_FALSE(VerQueryString(info, "\\StringFileInfo\\04070000\\ProductVersion", &product));
}

TEST(VersionTest, OverrideStandsInForTheProgramUntilRestored)
{
    OverrideProgramVersionInfoForTesting(std::nullopt);
    VersionInfo info;
    EXPECT_FALSE(GetProgramVersionInfo(&info));
    VersionInfo other;
    other.file_version_ms = 0x00090008;
    OverrideProgramVersionInfoForTesting(other);
    ASSERT_TRUE(GetProgramVersionInfo(&info));
    EXPECT_EQ(0x00090008u, info.file_version_ms);
    std::vector<VersionTranslation> translations;
    EXPECT_FALSE(VerQueryTranslations(info, &translations));
    RestoreProgramVersionInfo();
    ASSERT_TRUE(GetProgramVersionInfo(&info));
    EXPECT_EQ(BuiltInVersionInfo().file_version_ms, info.file_version_ms);
}

}  // namespace
}  // namespace vantrel::platform
