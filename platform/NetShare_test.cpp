#include "platform/NetShare.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "tests/support/TestSandbox.h"

namespace vantrel::platform {
namespace {

class NetShareTest : public ::testing::Test
{
protected:
    // No share of the machine running the tests may answer.
    NetShareTest() { SetShareMountSources("", ""); }
    ~NetShareTest() override { SetShareMountSources(std::nullopt, std::nullopt); }

    // The resolved path, or "-" and the last error 53 when the path does not resolve.
    std::string Resolve(const std::string& unc_path)
    {
        std::string posix;
        if (!ResolveUncPath(unc_path, &posix)) {
            EXPECT_EQ(kErrorBadNetpath, GetLastError()) << unc_path;
            return "-";
        }
        return posix;
    }

    testing::TestSandbox sandbox_;
};

TEST_F(NetShareTest, SharesResolveThroughTheirCifsMounts)
{
    SetShareMountSources(
        "/dev/sda1 / ext4 rw 0 0\n"
        "//fileserver/www /mnt/www cifs rw,vers=3.0 0 0\n"
        "//other/docs /mnt/my\\040docs smb3 rw 0 0\n"
        "//nfshost/www /mnt/nfs nfs rw 0 0\n"
        "//fileserver/deep/sub /mnt/sub cifs rw 0 0\n"
        "//again/site /mnt/old cifs rw 0 0\n"
        "//again/site/ /mnt/new cifs rw 0 0\n",
        "");
    struct Case
    {
        const char* unc;
        const char* expected;
    };
    const Case kCases[] = {
        {"\\\\fileserver\\www", "/mnt/www"},
        {"\\\\FileServer\\WWW\\site\\index.htm", "/mnt/www/site/index.htm"},
        {"\\\\fileserver\\www\\", "/mnt/www/"},
        {"\\\\other\\docs\\a b", "/mnt/my docs/a b"},
        // Another file system type, or a mount of a folder inside the share, is no share mount.
        {"\\\\nfshost\\www", "-"},
        {"\\\\fileserver\\deep\\sub", "-"},
        {"\\\\fileserver\\deep", "-"},
        // The newest mount of a share covers older ones.
        {"\\\\again\\site\\x", "/mnt/new/x"},
        {"\\\\unknown\\www", "-"},
        {"\\\\fileserver", "-"},
        {"\\\\fileserver\\", "-"},
        {"\\\\\\www", "-"},
        {"\\local\\path", "-"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, Resolve(c.unc)) << c.unc;
    }
}

TEST_F(NetShareTest, SharesResolveThroughADesktopsGvfsMounts)
{
    sandbox_.MakeFolder("gvfs/smb-share:domain=WORK,server=host,share=site,user=me");
    sandbox_.MakeFolder("gvfs/smb-share:server=host,share=my%2cdocs");
    sandbox_.MakeFolder("gvfs/sftp:host=host,user=me");
    SetShareMountSources("", sandbox_.Path("gvfs"));
    EXPECT_EQ(sandbox_.Path("gvfs/smb-share:domain=WORK,server=host,share=site,user=me/a/b"),
              Resolve("\\\\HOST\\Site\\a\\b"));
    EXPECT_EQ(sandbox_.Path("gvfs/smb-share:server=host,share=my%2cdocs"),
              Resolve("\\\\host\\my,docs"));
    EXPECT_EQ("-", Resolve("\\\\host\\other"));
}

TEST_F(NetShareTest, ConnectingSucceedsOnlyForAMountedReachableShare)
{
    sandbox_.MakeFolder("mnt/www");
    SetShareMountSources("//server/www " + sandbox_.Path("mnt/www") +
                             " cifs rw 0 0\n"
                             "//server/stale " +
                             sandbox_.Path("mnt/gone") + " cifs rw 0 0\n",
                         "");
    struct Case
    {
        const char* share;
        uint32_t expected;
    };
    const Case kCases[] = {
        {"\\\\server\\www", kErrorSuccess},
        {"\\\\server\\stale", kErrorBadNetpath},
        {"\\\\server\\missing", kErrorBadNetpath},
    };
    for (const auto& c : kCases) {
        NetResource resource;
        resource.remote_name = c.share;
        SetLastError(12345);
        EXPECT_EQ(c.expected, WNetAddConnection2(resource, "secret", "me", 0)) << c.share;
        EXPECT_EQ(c.expected, GetLastError()) << c.share;
    }
}

TEST_F(NetShareTest, FileCallsOnAUncPathWorkOnTheMountedShare)
{
    sandbox_.WriteFile("mnt/www/site/index.htm", "hello");
    SetShareMountSources("//server/www " + sandbox_.Path("mnt/www") + " cifs rw 0 0\n", "");
    ASSERT_TRUE(CopyFile("\\\\server\\www\\site\\index.htm", "\\\\server\\www\\site\\copy.htm"));
    EXPECT_EQ("hello", sandbox_.ReadFile("mnt/www/site/copy.htm"));
    FindData data;
    EXPECT_NE(nullptr, FindFirstFile("\\\\server\\www\\site\\copy.*", &data));
    EXPECT_EQ("copy.htm", data.file_name);
}

}  // namespace
}  // namespace vantrel::platform
