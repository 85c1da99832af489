#include "storage/QelDirectoryListUnit.h"

#include <gtest/gtest.h>

#include "tests/support/TestSandbox.h"

namespace vantrel {
namespace {

constexpr uint64_t kUnixEpochFileTime = 116444736000000000ULL;

std::unique_ptr<QelDirectoryEntry> Named(const std::string& name)
{
    auto entry = QelDirectoryEntry::Create();
    entry->Name = name;
    return entry;
}

class QelDirectoryListTest : public ::testing::Test
{
protected:
    std::unique_ptr<QelDirectoryList> ListOf(std::initializer_list<const char*> names)
    {
        auto list = QelDirectoryList::Create();
        for (const char* name : names) {
            list->Add(Named(name));
        }
        return list;
    }

    std::unique_ptr<QelDirectoryList> ListFolder(const std::string& relative,
                                                 const std::string& mask = "")
    {
        return QelDirectoryList::CreateFromFolder(sandbox_.SystemPath(relative), mask);
    }

    testing::TestSandbox sandbox_;
};

TEST_F(QelDirectoryListTest, ANewEntryIsAllZero)
{
    const auto entry = QelDirectoryEntry::Create();
    EXPECT_EQ(0u, entry->Attributes);
    EXPECT_EQ(0u, entry->FileTime.Value());
    EXPECT_EQ(0.0, entry->Date);
    EXPECT_EQ(0.0, entry->Date2);
    EXPECT_EQ(0u, entry->SizeHigh);
    EXPECT_EQ(0u, entry->SizeLow);
    EXPECT_EQ("", entry->Name);
}

TEST_F(QelDirectoryListTest, AttributeSettersChangeOnlyTheirBit)
{
    auto entry = QelDirectoryEntry::Create();
    entry->Attributes = 0x10;
    entry->SetReadOnly(true);
    EXPECT_EQ(0x11u, entry->Attributes);
    EXPECT_TRUE(entry->IsReadOnly());
    entry->SetReadOnly(false);
    EXPECT_EQ(0x10u, entry->Attributes);
    entry->Attributes = 0x80000020;
    entry->SetHidden(true);
    entry->SetDirectory(true);
    EXPECT_EQ(0x80000032u, entry->Attributes);
    EXPECT_TRUE(entry->IsHidden());
    EXPECT_TRUE(entry->IsDirectory());
    entry->SetDirectory(false);
    EXPECT_FALSE(entry->IsDirectory());
    EXPECT_EQ(0x80000022u, entry->Attributes);
}

TEST_F(QelDirectoryListTest, OnlyDotAndDotDotAreDotEntries)
{
    for (const auto& [name, dot] :
         {std::pair{".", true}, {"..", true}, {"...", false}, {".htaccess", false}, {"", false}}) {
        EXPECT_EQ(dot, Named(name)->IsDotEntry()) << name;
    }
}

TEST_F(QelDirectoryListTest, CopyTakesEveryField)
{
    auto entry = Named("page.htm");
    entry->Attributes = 0x21;
    entry->FileTime = platform::FileTime{1, 2};
    entry->Date = 1.5;
    entry->Date2 = 2.5;
    entry->SizeHigh = 3;
    entry->SizeLow = 4;
    entry->VolumeId = 5;
    entry->FileId = 6;
    const auto copy = QelDirectoryEntry::CreateCopy(*entry);
    EXPECT_EQ(0x21u, copy->Attributes);
    EXPECT_EQ(entry->FileTime, copy->FileTime);
    EXPECT_EQ(1.5, copy->Date);
    EXPECT_EQ(2.5, copy->Date2);
    EXPECT_EQ(3u, copy->SizeHigh);
    EXPECT_EQ(4u, copy->SizeLow);
    EXPECT_EQ("page.htm", copy->Name);
    EXPECT_EQ(5u, copy->VolumeId);
    EXPECT_EQ(6u, copy->FileId);
}

TEST_F(QelDirectoryListTest, FindDataWithoutLastWriteTimeTakesTheCreationTime)
{
    testing::ScopedTimeZone zone("XYZ-2");
    platform::FindData data;
    data.file_name = "old.htm";
    data.attributes = 0x21;
    data.size_high = 0xFFFFFFFF;
    data.size_low = 0xFFFFFFFF;
    data.creation_time = platform::FileTime::FromValue(kUnixEpochFileTime);
    const auto entry = QelDirectoryEntry::CreateFromFindData(data);
    EXPECT_EQ(kUnixEpochFileTime, entry->FileTime.Value());
    EXPECT_DOUBLE_EQ(25569.0 + 2.0 / 24.0, entry->Date);
    EXPECT_EQ(entry->Date, entry->Date2);
    EXPECT_EQ(0x21u, entry->Attributes);
    EXPECT_EQ(kSizeMissing, entry->SizeHigh);
    EXPECT_EQ(kSizeMissing, entry->SizeLow);
    EXPECT_EQ("old.htm", entry->Name);

    data.last_write_time = platform::FileTime::FromValue(kUnixEpochFileTime + 864'000'000'000);
    EXPECT_DOUBLE_EQ(25569.0 + 1.0 + 2.0 / 24.0, QelDirectoryEntry::CreateFromFindData(data)->Date);
}

TEST_F(QelDirectoryListTest, FindDataNamesStopAtTheirTerminator)
{
    platform::FindData data;
    data.file_name = std::string("a.htm\0junk", 10);
    EXPECT_EQ("a.htm", QelDirectoryEntry::CreateFromFindData(data)->Name);
    data.file_name = std::string(300, 'x');
    EXPECT_EQ(260u, QelDirectoryEntry::CreateFromFindData(data)->Name.size());
}

TEST_F(QelDirectoryListTest, LookupsFoldOnlyAsciiAndPreferTheirOwnEnd)
{
    const auto list = ListOf({"Index.htm", "index.htm", "other"});
    int32_t count = -1;
    const QelDirectoryEntry* last = list->FindLast("INDEX.HTM", &count);
    ASSERT_NE(nullptr, last);
    EXPECT_EQ("index.htm", last->Name);
    EXPECT_EQ(2, count);
    EXPECT_EQ("Index.htm", list->Find("INDEX.HTM", false)->Name);
    EXPECT_EQ("index.htm", list->Find("index.htm", true)->Name);
    EXPECT_EQ(nullptr, list->Find("INDEX.HTM", true));
    EXPECT_EQ(nullptr, list->FindLast("missing", &count));
    EXPECT_EQ(0, count);

    // Capital and small A with diaeresis (Latin-1) are different names to the list.
    const auto accented = ListOf({"\xE4.htm"});
    EXPECT_EQ(nullptr, accented->Find("\xC4.htm", false));
    EXPECT_EQ(nullptr, accented->FindLast("\xC4.htm", &count));
}

TEST_F(QelDirectoryListTest, PositionsRunFromOneAndDeleteClosesTheGap)
{
    const auto list = ListOf({"a", "b", "c"});
    ASSERT_EQ(3, list->Count());
    EXPECT_EQ("a", list->Items(1)->Name);
    EXPECT_EQ("c", list->Items(3)->Name);
    EXPECT_EQ(nullptr, list->Items(0));
    EXPECT_EQ(nullptr, list->Items(4));

    EXPECT_TRUE(list->Delete(1));
    EXPECT_EQ(2, list->Count());
    EXPECT_EQ("b", list->Items(1)->Name);
    EXPECT_FALSE(list->Delete(3));
    EXPECT_FALSE(list->Delete(0));
    EXPECT_EQ(2, list->Count());
    list->Add(nullptr);
    EXPECT_EQ(2, list->Count());
}

TEST_F(QelDirectoryListTest, AnEmptyFolderListsOnlyItsDotEntries)
{
    sandbox_.MakeFolder("empty");
    const auto list = ListFolder("empty");
    ASSERT_EQ(2, list->Count());
    EXPECT_EQ(".", list->Items(1)->Name);
    EXPECT_EQ("..", list->Items(2)->Name);
    for (int32_t i = 1; i <= 2; ++i) {
        EXPECT_TRUE(list->Items(i)->IsDirectory());
        EXPECT_TRUE(list->Items(i)->IsDotEntry());
    }
}

TEST_F(QelDirectoryListTest, AMissingFolderOrAnUnmatchedMaskListsNothing)
{
    sandbox_.WriteFile("site/a.htm", "");
    EXPECT_EQ(0, ListFolder("missing")->Count());
    EXPECT_EQ(0, ListFolder("site", "b.htm")->Count());
    EXPECT_EQ(0, ListFolder("site/a.htm")->Count());
}

TEST_F(QelDirectoryListTest, AFolderListsEveryEntryAndAMaskOfOneNameJustThatOne)
{
    sandbox_.WriteFile("site/index.htm", "<html>", 1'700'000'000);
    sandbox_.WriteFile("site/.htaccess", "deny");
    sandbox_.MakeFolder("site/images");
    const auto all = ListFolder("site");
    ASSERT_EQ(5, all->Count());
    EXPECT_TRUE(all->Find(".htaccess", true)->IsHidden());
    EXPECT_TRUE(all->Find("images", true)->IsDirectory());

    const auto one = ListFolder("site", "index.htm");
    ASSERT_EQ(1, one->Count());
    const QelDirectoryEntry& entry = *one->Items(1);
    EXPECT_EQ("index.htm", entry.Name);
    EXPECT_EQ(6u, entry.SizeLow);
    EXPECT_EQ(kUnixEpochFileTime + 1'700'000'000ULL * 10'000'000, entry.FileTime.Value());
    EXPECT_EQ(FileTimeToLocalDateTime(entry.FileTime), entry.Date);
    EXPECT_EQ(entry.Date, entry.Date2);
}

}  // namespace
}  // namespace vantrel
