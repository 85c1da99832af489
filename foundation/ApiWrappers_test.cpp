#include "foundation/ApiWrappers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/TestSandbox.h"

namespace vantrel {
namespace {

TEST(ApiWrappersTest, TempFolderEndsWithABackslashAndIsPrivate)
{
    testing::TestSandbox sandbox;
    testing::ScopedEnv runtime("XDG_RUNTIME_DIR", sandbox.Path());
    const std::string folder = GetTempFolder();
    EXPECT_EQ(sandbox.SystemPath("vantrel") + "\\", folder);
    struct stat st = {};
    ASSERT_EQ(0, stat(sandbox.Path("vantrel").c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
}

TEST(ApiWrappersTest, WhenNoFolderCanBeMadeTheNameStillEndsWithABackslash)
{
    testing::TestSandbox sandbox;
    sandbox.WriteFile("file", "");
    // Both candidates lie below a plain file, so neither can be made.
    testing::ScopedEnv runtime("XDG_RUNTIME_DIR", sandbox.Path("file"));
    testing::ScopedEnv cache("XDG_CACHE_HOME", sandbox.Path("file"));
    EXPECT_EQ(sandbox.SystemPath("file/vantrel") + "\\", GetTempFolder());
}

}  // namespace
}  // namespace vantrel
