#include "platform/Registry.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "platform/Errors.h"
#include "tests/support/SettingsSandbox.h"

namespace vantrel::platform {
namespace {

constexpr RegistryRoot kRoot = RegistryRoot::CurrentUser;

class RegistryTest : public ::testing::Test
{
protected:
    std::unique_ptr<RegistryKey> Create(const std::string& path)
    {
        auto key = CreateRegistryKey(kRoot, path);
        EXPECT_NE(nullptr, key) << path << ": " << GetLastError();
        return key;
    }

    void Put(const std::string& path, const std::string& name, const std::string& data)
    {
        auto key = Create(path);
        ASSERT_NE(nullptr, key);
        EXPECT_TRUE(key->SetValue(name, kRegSz, data)) << path << "\\" << name;
    }

    // The text of a value, or "<missing>".
    std::string Get(const std::string& path, const std::string& name)
    {
        auto key = OpenRegistryKey(kRoot, path);
        uint32_t type = 0;
        std::string data;
        if (key == nullptr || !key->QueryValue(name, &type, &data)) {
            return "<missing>";
        }
        return data;
    }

    std::vector<std::string> SubKeys(const std::string& path)
    {
        std::vector<std::string> names;
        auto key = OpenRegistryKey(kRoot, path);
        if (key != nullptr) {
            EXPECT_TRUE(key->EnumSubKeys(&names));
        }
        return names;
    }

    // Writes the file the database will be opened from, as if another program had.
    void PlantDatabase(const std::string& content)
    {
        CloseRegistryDatabase();
        home_.Sandbox().WriteFile("config/Velko/registry.sqlite", content);
    }

    testing::ScopedConfigHome home_;
};

TEST_F(RegistryTest, ValuesKeepTheirKindAndBytesAndNamesCompareExactly)
{
    auto key = Create("\\SOFTWARE\\Velko\\Test");
    ASSERT_NE(nullptr, key);
    const std::string binary("\x00\x01\xff\x7f", 4);
    EXPECT_TRUE(key->SetValue("Name", kRegSz, "upper"));
    EXPECT_TRUE(key->SetValue("name", kRegExpandSz, "lower"));
    EXPECT_TRUE(key->SetValue("Blob", kRegBinary, binary));
    EXPECT_TRUE(key->SetValue("Empty", kRegSz, ""));

    struct Case
    {
        const char* name;
        uint32_t type;
        std::string data;
    };
    const Case kCases[] = {{"Name", kRegSz, "upper"},
                           {"name", kRegExpandSz, "lower"},
                           {"Blob", kRegBinary, binary},
                           {"Empty", kRegSz, ""}};
    auto reopened = OpenRegistryKey(kRoot, "SOFTWARE\\\\Velko\\Test\\");
    ASSERT_NE(nullptr, reopened);
    for (const auto& c : kCases) {
        uint32_t type = 0;
        std::string data = "stale";
        ASSERT_TRUE(reopened->QueryValue(c.name, &type, &data)) << c.name;
        EXPECT_EQ(c.type, type) << c.name;
        EXPECT_EQ(c.data, data) << c.name;
    }
    uint32_t type = 0;
    std::string data;
    EXPECT_FALSE(reopened->QueryValue("NAME", &type, &data));
    EXPECT_EQ(kErrorFileNotFound, GetLastError());
}

TEST_F(RegistryTest, KeysDifferingOnlyInCaseAreSeparateAndListFoldedThenExact)
{
    for (const char* name : {"site", "b", "Site", "_x", "B"}) {
        Put(std::string("Sites\\") + name, "Name", name);
    }
    EXPECT_EQ((std::vector<std::string>{"_x", "B", "b", "Site", "site"}), SubKeys("Sites"));
    EXPECT_EQ("Site", Get("Sites\\Site", "Name"));
    EXPECT_EQ("site", Get("Sites\\site", "Name"));
}

TEST_F(RegistryTest, OpeningAMissingKeyCreatesNothing)
{
    EXPECT_EQ(nullptr, OpenRegistryKey(kRoot, "Missing\\Deeper"));
    EXPECT_EQ(kErrorFileNotFound, GetLastError());
    EXPECT_EQ(nullptr, OpenRegistryKey(kRoot, "Missing"));
}

TEST_F(RegistryTest, DeleteTreeRemovesEverythingBelowAndOpenHandlesSeeItGone)
{
    Put("Top\\Site\\Deep", "v", "1");
    Put("Top\\Site", "v", "2");
    Put("Top\\Other", "v", "3");
    auto held = OpenRegistryKey(kRoot, "Top\\Site");
    ASSERT_NE(nullptr, held);

    EXPECT_TRUE(DeleteRegistryTree(kRoot, "Top\\Site"));
    EXPECT_EQ((std::vector<std::string>{"Other"}), SubKeys("Top"));
    EXPECT_EQ("<missing>", Get("Top\\Site\\Deep", "v"));
    EXPECT_FALSE(held->Exists());
    EXPECT_FALSE(held->SetValue("v", kRegSz, "ghost"));
    EXPECT_EQ(kErrorKeyDeleted, GetLastError());

    EXPECT_FALSE(DeleteRegistryTree(kRoot, "Top\\Site"));
    EXPECT_EQ(kErrorFileNotFound, GetLastError());
    EXPECT_FALSE(DeleteRegistryTree(kRoot, "\\"));
    EXPECT_EQ(kErrorInvalidParameter, GetLastError());
    EXPECT_EQ("3", Get("Top\\Other", "v"));
}

TEST_F(RegistryTest, MoveTreeTakesEverythingAndRefusesWhatWouldLoseOrLoopData)
{
    Put("Vendor\\Old\\Site", "v", "deep");
    Put("Vendor\\Old", "v", "top");
    Put("Vendor\\Taken", "v", "taken");

    struct Case
    {
        const char* from;
        const char* to;
        uint32_t error;
    };
    const Case kRefused[] = {{"Vendor\\Old", "Vendor\\Taken", kErrorAlreadyExists},
                             {"Vendor\\Old", "Vendor\\Old\\Site\\Inner", kErrorInvalidParameter},
                             {"Vendor\\Gone", "Vendor\\New", kErrorFileNotFound},
                             {"", "Vendor\\New", kErrorInvalidParameter}};
    for (const auto& c : kRefused) {
        EXPECT_FALSE(MoveRegistryTree(kRoot, c.from, c.to)) << c.from << " -> " << c.to;
        EXPECT_EQ(c.error, GetLastError()) << c.from << " -> " << c.to;
    }
    EXPECT_EQ("top", Get("Vendor\\Old", "v"));
    EXPECT_EQ("taken", Get("Vendor\\Taken", "v"));

    EXPECT_TRUE(MoveRegistryTree(kRoot, "Vendor\\Old", "Elsewhere\\New"));
    EXPECT_EQ("top", Get("Elsewhere\\New", "v"));
    EXPECT_EQ("deep", Get("Elsewhere\\New\\Site", "v"));
    EXPECT_EQ(nullptr, OpenRegistryKey(kRoot, "Vendor\\Old"));
}

TEST_F(RegistryTest, DatabaseLivesUnderXdgConfigHomeWithOwnerOnlyMode)
{
    EXPECT_EQ(home_.DatabasePath(), RegistryDatabasePath());
    Put("Key", "Password", "scrambled");
    struct stat st = {};
    ASSERT_EQ(0, stat(home_.DatabasePath().c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);

    // A file others could read is narrowed when it is opened.
    CloseRegistryDatabase();
    ASSERT_EQ(0, chmod(home_.DatabasePath().c_str(), 0644));
    EXPECT_EQ("scrambled", Get("Key", "Password"));
    ASSERT_EQ(0, stat(home_.DatabasePath().c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
}

TEST_F(RegistryTest, WithoutXdgConfigHomeTheDatabaseIsInTheHomeConfigFolder)
{
    testing::ScopedEnv unset("XDG_CONFIG_HOME", std::nullopt);
    testing::ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ("/home/someone/.config/Velko/registry.sqlite", RegistryDatabasePath());
    testing::ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ("/home/someone/.config/Velko/registry.sqlite", RegistryDatabasePath());
}

TEST_F(RegistryTest, EveryValueWhoseWriteReturnedSurvivesAKilledWriter)
{
    int acks[2];
    ASSERT_EQ(0, pipe(acks));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(acks[0]);
        auto key = CreateRegistryKey(kRoot, "Durable");
        for (uint32_t i = 0;; ++i) {
            const std::string data(reinterpret_cast<const char*>(&i), sizeof i);
            if (key == nullptr || !key->SetValue("v" + std::to_string(i), kRegDword, data)) {
                _exit(2);
            }
            if (write(acks[1], &i, sizeof i) != sizeof i) {
                _exit(3);
            }
        }
    }
    close(acks[1]);
    int64_t last = -1;
    uint32_t ack = 0;
    // Each write reaches the disk before it returns, so a loaded machine may manage only a few
    // within the 400 ms: wait for a handful however long they take (within reason).
    const auto start = std::chrono::steady_clock::now();
    const auto busy = [&] {
        const auto spent = std::chrono::steady_clock::now() - start;
        return spent < std::chrono::milliseconds(400) ||
               (last <= 5 && spent < std::chrono::seconds(20));
    };
    while (busy() && read(acks[0], &ack, sizeof ack) == 4) {
        last = ack;
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    // Acknowledgements already in the pipe were writes that had returned, too.
    while (read(acks[0], &ack, sizeof ack) == 4) {
        last = ack;
    }
    close(acks[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;
    ASSERT_GT(last, 5);

    auto key = OpenRegistryKey(kRoot, "Durable");
    ASSERT_NE(nullptr, key) << RegistryFault();
    for (uint32_t i = 0; i <= last; ++i) {
        uint32_t type = 0;
        std::string data;
        ASSERT_TRUE(key->QueryValue("v" + std::to_string(i), &type, &data)) << i;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&i), sizeof i), data) << i;
    }
    EXPECT_EQ("", RegistryFault());
}

TEST_F(RegistryTest, ADamagedDatabaseIsNeverWrittenAndIsNamed)
{
    std::string valid_but_cut;
    {
        for (int i = 0; i < 40; ++i) {
            Put("Bulk\\K" + std::to_string(i), "v", std::string(2000, 'x'));
        }
        CloseRegistryDatabase();
        const std::string whole = home_.Sandbox().ReadFile("config/Velko/registry.sqlite");
        valid_but_cut = whole.substr(0, whole.size() / 2);
    }
    constexpr char kGarbage[] = "this is not a database at all\0\xff\xfe";
    struct Case
    {
        const char* what;
        std::string content;
        const char* told;
    };
    const Case kDamage[] = {
        {"garbage", std::string(kGarbage, sizeof kGarbage - 1) + std::string(5000, '\x5a'),
         "is not a settings database"},
        {"truncated", valid_but_cut, "is damaged"},
    };
    for (const auto& [what, content, told] : kDamage) {
        PlantDatabase(content);
        EXPECT_EQ(nullptr, OpenRegistryKey(kRoot, "Bulk\\K1")) << what;
        EXPECT_EQ(kErrorBadDatabase, GetLastError()) << what;
        EXPECT_EQ(nullptr, CreateRegistryKey(kRoot, "New")) << what;
        EXPECT_FALSE(DeleteRegistryTree(kRoot, "Bulk")) << what;
        const std::string fault = RegistryFault();
        EXPECT_NE(std::string::npos, fault.find(home_.DatabasePath())) << what << ": " << fault;
        EXPECT_NE(std::string::npos, fault.find(told)) << what << ": " << fault;
        EXPECT_NE(std::string::npos, fault.find("Move it aside")) << what << ": " << fault;
        CloseRegistryDatabase();
        EXPECT_EQ(content, home_.Sandbox().ReadFile("config/Velko/registry.sqlite")) << what;
    }
}

TEST_F(RegistryTest, ALockIsWaitedForAndOneThatOutlastsTheWaitIsNamedAsSuch)
{
    Put("Site", "v", "stored");
    const auto wait = SetRegistryLockWait(std::chrono::milliseconds(1000));
    struct Case
    {
        const char* what;
        std::chrono::milliseconds held;
        bool opens;
    };
    const Case kCases[] = {
        {"held for a moment", std::chrono::milliseconds(150), true},
        {"held beyond the wait", std::chrono::hours(1), false},
    };
    for (const auto& c : kCases) {
        CloseRegistryDatabase();
        const std::string before = home_.Sandbox().ReadFile("config/Velko/registry.sqlite");
        testing::HeldDatabaseLock lock(home_.DatabasePath(), c.held);
        auto key = OpenRegistryKey(kRoot, "Site");
        EXPECT_EQ(c.opens, key != nullptr) << c.what;
        if (c.opens) {
            continue;
        }
        EXPECT_EQ(kErrorSharingViolation, GetLastError()) << c.what;
        const std::string fault = RegistryFault();
        EXPECT_NE(std::string::npos,
                  fault.find(home_.DatabasePath() + " is locked by another program"))
            << fault;
        EXPECT_NE(std::string::npos, fault.find("Close that program")) << fault;
        // Given up once, the database is not asked again: no call waits a second time.
        lock.Release();
        EXPECT_EQ(nullptr, CreateRegistryKey(kRoot, "New")) << c.what;
        CloseRegistryDatabase();
        EXPECT_EQ(before, home_.Sandbox().ReadFile("config/Velko/registry.sqlite"));
    }
    SetRegistryLockWait(wait);
    CloseRegistryDatabase();
    EXPECT_NE(nullptr, OpenRegistryKey(kRoot, "Site"));
}

TEST_F(RegistryTest, AKeysValuesAreReadWholeAndAReadWaitsForALockAndLeavesNoneBehind)
{
    Put("Site", "Name", "site");
    Put("Site", "Port", "21");
    Put("Site\\Sub", "Deeper", "not the key's");
    std::vector<RegistryValue> values;
    ASSERT_TRUE(ReadRegistryKeyValues(kRoot, "Site", &values));
    std::vector<std::pair<std::string, std::string>> read;
    for (const auto& value : values) {
        EXPECT_EQ(kRegSz, value.type) << value.name;
        read.emplace_back(value.name, value.data);
    }
    std::sort(read.begin(), read.end());
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"Name", "site"}, {"Port", "21"}}),
              read);
    EXPECT_FALSE(ReadRegistryKeyValues(kRoot, "Site\\Missing", &values));
    EXPECT_EQ(kErrorFileNotFound, GetLastError());
    EXPECT_TRUE(values.empty());

    // A read, whole or given up, keeps no lock: another program takes the file at once (the
    // lock fails the test when it cannot).
    const auto taken_at_once = [&] { testing::HeldDatabaseLock other(home_.DatabasePath(), {}); };
    taken_at_once();
    const auto wait = SetRegistryLockWait(std::chrono::milliseconds(1000));
    // The wait holds from the next opening of the file, which no lock may hinder.
    CloseRegistryDatabase();
    ASSERT_TRUE(ReadRegistryKeyValues(kRoot, "Site", &values));
    for (const auto held : {std::chrono::milliseconds(150), std::chrono::milliseconds(3000)}) {
        {
            testing::HeldDatabaseLock lock(home_.DatabasePath(), held);
            const bool read_whole = ReadRegistryKeyValues(kRoot, "Site", &values);
            EXPECT_EQ(held.count() < 1000, read_whole) << held.count();
            EXPECT_EQ(read_whole ? 2u : 0u, values.size()) << held.count();
            if (!read_whole) {
                EXPECT_EQ(kErrorSharingViolation, GetLastError());
            }
        }
        taken_at_once();
    }
    SetRegistryLockWait(wait);
    CloseRegistryDatabase();
}

TEST_F(RegistryTest, ADatabaseThatCannotBeOpenedIsNamedAndReadsFindNothing)
{
    // The folder the database would live in is a file.
    home_.Sandbox().WriteFile("config/Velko", "not a folder");
    CloseRegistryDatabase();
    EXPECT_EQ(nullptr, CreateRegistryKey(kRoot, "Key"));
    EXPECT_EQ(kErrorCantOpen, GetLastError());
    EXPECT_NE(std::string::npos, RegistryFault().find(home_.DatabasePath())) << RegistryFault();
    EXPECT_EQ("not a folder", home_.Sandbox().ReadFile("config/Velko"));
}

}  // namespace
}  // namespace vantrel::platform
