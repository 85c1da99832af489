#include "sync/WalkGuards.h"

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using platform::FolderIdentity;

// Identities on volume 1: 1 the file system root, 2 the folder above the site, 10 the source
// root, 11 its subfolder "\sub" (being passed), 12 a folder beside it, 20 the destination root,
// 30 a folder of neither tree. On volume 2: 50, a mount the source reaches at "\sub\mnt".
struct Entry
{
    std::string name;
    uint64_t file = 0;
    uint64_t volume = 1;
    bool directory = true;
    bool link = false;
};

std::unique_ptr<QelDirectoryList> Listing(const std::vector<Entry>& entries)
{
    auto list = QelDirectoryList::Create();
    for (const Entry& e : entries) {
        auto entry = QelDirectoryEntry::Create();
        entry->Name = e.name;
        entry->VolumeId = e.volume;
        entry->FileId = e.file;
        entry->SetDirectory(e.directory);
        if (e.link) {
            entry->Attributes |= platform::kFileAttributeReparsePoint;
        }
        list->Add(std::move(entry));
    }
    return list;
}

// A walk from the source root "\srv\site" into "\sub", beside a destination root it has met.
WalkGuards WalkInSub()
{
    const std::map<std::string, FolderIdentity> folders = {
        {"\\srv", {1, 2}},
        {"\\srv\\site", {1, 10}},
        {"\\srv\\site\\..", {1, 2}},
        {"\\srv\\site\\..\\..", {1, 1}},
        {"\\srv\\site\\..\\..\\..", {1, 1}},
    };
    WalkGuards guards;
    guards.FindSourceAncestors("\\srv\\site", [&](const std::string& path) {
        const auto it = folders.find(path);
        return it == folders.end() ? std::nullopt : std::optional<FolderIdentity>(it->second);
    });
    guards.KeepSourceFolders({{{1, 10}, ""}, {{1, 11}, "\\sub"}, {{2, 50}, "\\sub\\mnt"}});
    EXPECT_TRUE(guards.Enter("", *Listing({{".", 10}, {"..", 2}}), false));
    EXPECT_FALSE(guards.MeetsOtherRoot("", {1, 10}, {1, 20}));
    EXPECT_TRUE(guards.Enter("\\sub", *Listing({{".", 11}, {"..", 10}}), false));
    return guards;
}

enum class Ask
{
    kEnter,          // the listing is the folder's own, entered at `folder`
    kEnterAsLink,    // the same, its parent having listed it as a link
    kLinksBack,      // the source entries that link back into the path
    kHoldsRoot,      // the destination entries that are the source root or above it
    kMeetsAsSource,  // the listing's "." as the source folder at `folder`
    kMeetsAsDestination,
    kNearestShared,  // the entries as the destination's folders, named by their paths
    kEmptySource,    // the listing as the source root, beside a destination file the run deletes
};

std::string Relation(platform::FolderRelation relation)
{
    switch (relation) {
        case platform::FolderRelation::kSame:
            return "same";
        case platform::FolderRelation::kFirstInsideSecond:
            return "source inside destination";
        case platform::FolderRelation::kSecondInsideFirst:
            return "destination inside source";
        default:
            return "apart";
    }
}

std::string Said(const std::optional<TreeOverlap>& overlap)
{
    if (!overlap) {
        return "none";
    }
    if (overlap->roots != platform::FolderRelation::kApart) {
        return Relation(overlap->roots);
    }
    return "shared " + overlap->source_path + " at " + overlap->destination_path;
}

std::string Answer(WalkGuards guards, Ask ask, const std::string& folder, const QelDirectoryList& l)
{
    std::string names;
    const auto each = [&](auto&& test) {
        for (int32_t i = 1; i <= l.Count(); ++i) {
            if (test(*l.Items(i))) {
                names += (names.empty() ? "" : " ") + l.Items(i)->Name;
            }
        }
        return names;
    };
    const FolderIdentity own = WalkGuards::OwnIdentity(&l);
    switch (ask) {
        case Ask::kEnter:
        case Ask::kEnterAsLink:
            if (!guards.Enter(folder, l, ask == Ask::kEnterAsLink)) {
                return "refused";
            }
            return guards.Passing() == own ? "entered" : "entered as another";
        case Ask::kLinksBack:
            return each([&](const QelDirectoryEntry& e) { return guards.LinksBackIntoItsPath(e); });
        case Ask::kHoldsRoot:
            return each([&](const QelDirectoryEntry& e) { return guards.HoldsSourceRoot(e); });
        case Ask::kMeetsAsSource:
            return Said(guards.MeetsOtherRoot(folder, own, {}));
        case Ask::kMeetsAsDestination:
            return Said(guards.MeetsOtherRoot(folder, {}, own));
        case Ask::kNearestShared: {
            platform::FolderTree destination;
            for (int32_t i = 1; i <= l.Count(); ++i) {
                destination[{l.Items(i)->VolumeId, l.Items(i)->FileId}] = l.Items(i)->Name;
            }
            return Said(guards.NearestSharedFolder(destination));
        }
        case Ask::kEmptySource: {
            const auto dst = Listing({{".", 20}, {"..", 2}, {"page.html", 0, 1, false}});
            const bool empties = WalkGuards::EmptySourceWouldEmpty(
                l, *dst, [](const QelDirectoryEntry& d) { return d.Name == "page.html"; });
            return empties ? "empties" : "keeps";
        }
    }
    return "";
}

struct Row
{
    const char* what;
    Ask ask;
    std::string folder;
    std::vector<Entry> listing;
    std::string answer;
};

TEST(WalkGuardsTest, EachQuestionOfTheWalkIsAnsweredFromListingsAlone)
{
    const WalkGuards walk = WalkInSub();
    const std::vector<Row> rows = {
        {"a subfolder whose parent is the folder passed",
         Ask::kEnter,
         "\\sub\\a",
         {{".", 30}, {"..", 11}},
         "entered"},
        {"a folder that is the root again",
         Ask::kEnter,
         "\\sub\\a",
         {{".", 10}, {"..", 11}},
         "refused"},
        {"a folder that is the one above the root", Ask::kEnter, "\\sub\\a", {{".", 2}}, "refused"},
        {"a folder whose parent is the root, not the folder passed",
         Ask::kEnter,
         "\\sub\\a",
         {{".", 30}, {"..", 10}},
         "refused"},
        {"the same folder listed as a link by its parent",
         Ask::kEnterAsLink,
         "\\sub\\a",
         {{".", 30}, {"..", 10}},
         "entered"},
        {"a parent that holds nothing of the site is not judged",
         Ask::kEnter,
         "\\sub\\a",
         {{".", 31}, {"..", 12}},
         "entered"},
        {"a parent of unknown identity is not judged",
         Ask::kEnter,
         "\\sub\\a",
         {{".", 31}, {"..", 0}},
         "entered"},
        {"entries leading to the path, above the root or to the file system root",
         Ask::kLinksBack,
         "\\sub",
         {{".", 11}, {"..", 10}, {"up", 2}, {"top", 1}, {"beside", 12}, {"ftp", 0}, {"x", 30}},
         ". .. up top"},
        {"destination entries that are the source root or lie above it",
         Ask::kHoldsRoot,
         "",
         {{".", 20},
          {"..", 2},
          {"site", 10},
          {"srv", 2},
          {"linked", 10, 1, true, true},
          {"file", 10, 1, false},
          {"sub", 11}},
         "site srv"},
        {"the destination root as the source root",
         Ask::kMeetsAsDestination,
         "",
         {{".", 10}},
         "same"},
        {"the source root below the destination",
         Ask::kMeetsAsDestination,
         "\\x",
         {{".", 10}},
         "source inside destination"},
        {"a folder above the source root below the destination",
         Ask::kMeetsAsDestination,
         "\\x",
         {{".", 2}},
         "source inside destination"},
        {"a source folder as a destination folder",
         Ask::kMeetsAsDestination,
         "\\x\\y",
         {{".", 11}},
         "shared \\sub at \\x\\y"},
        {"a mounted source folder as a destination folder",
         Ask::kMeetsAsDestination,
         "\\m",
         {{".", 50, 2}},
         "shared \\sub\\mnt at \\m"},
        {"a destination folder of neither tree",
         Ask::kMeetsAsDestination,
         "\\x",
         {{".", 30}},
         "none"},
        {"a destination folder of unknown identity",
         Ask::kMeetsAsDestination,
         "\\x",
         {{".", 0}},
         "none"},
        {"the destination root met as a source folder",
         Ask::kMeetsAsSource,
         "\\sub\\d",
         {{".", 20}},
         "destination inside source"},
        {"a source folder of neither tree", Ask::kMeetsAsSource, "\\sub\\d", {{".", 30}}, "none"},
        {"destination folders the source holds: the nearest is named",
         Ask::kNearestShared,
         "",
         {{"\\a\\b\\c", 50, 2}, {"\\a", 11}, {"\\z", 30}},
         "shared \\sub at \\a"},
        {"destination folders the source does not hold",
         Ask::kNearestShared,
         "",
         {{"", 20}, {"\\z", 30}},
         "none"},
        {"a source root that lists only itself",
         Ask::kEmptySource,
         "",
         {{".", 10}, {"..", 2}},
         "empties"},
        {"a source root holding an empty folder",
         Ask::kEmptySource,
         "",
         {{".", 10}, {"..", 2}, {"empty", 13}},
         "keeps"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Answer(walk, row.ask, row.folder, *Listing(row.listing)), row.answer) << row.what;
    }
}

TEST(WalkGuardsTest, AReplacedRootEndsTheRunForGoodAndIsNotAskedAgain)
{
    WalkGuards guards;
    int asked = 0;
    bool replaced = false;
    const auto root_replaced = [&] {
        ++asked;
        return replaced;
    };
    EXPECT_FALSE(guards.MustEnd(root_replaced));
    replaced = true;
    EXPECT_TRUE(guards.MustEnd(root_replaced));
    replaced = false;
    EXPECT_TRUE(guards.MustEnd(root_replaced));
    EXPECT_EQ(asked, 2);
}

}  // namespace
}  // namespace vantrel
