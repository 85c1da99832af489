#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/QelDateFunctions.h"
#include "foundation/QelRegistryU.h"
#include "storage/DotFileState.h"
#include "sync/QelSyncFlags.h"

// Web site definitions and their list: TPublicationStatus, QelPublication (one web site, read
// from and written to a section of a settings store, with its TDotFileState), the description of
// its stored values (PublicationSetting, one for each in kPublicationSettings), the run options a
// web site gives (FillSyncFlags) and QelPublicationList (every web site of the user, each under
// its own registry sub-key).
namespace vantrel {

enum TPublicationStatus : uint8_t
{
    StatusNeverPublished = 0,
    StatusFailed = 1,
    StatusPublished = 2,
    StatusNeedsPublishing = 3,
    StatusPublishing = 4,
    StatusInterrupted = 5,
};

// The section of a settings file that holds an exported definition.
inline constexpr char kSettingsFileSection[] = "Vantrel";
// The text-file patterns of a new definition and of one that stores none, sorted.
inline constexpr char kDefaultAsciiFiles[] =
    "*.asp,*.aspx,*.cfm,*.cfml,*.csv,*.htm,*.html,*.php,*.pl,*.shtml,*.txt,*.xml";
inline constexpr char kDefaultIgnoreFiles[] = "thumbs.db";
// The tag of the temporary names of a web site that uploads under them.
inline constexpr char kTemporaryNameTag[] = "qvr";

// The bounds of a web site's texts and pattern lists (in their stored form), which
// kPublicationSettings gives each of them: far beyond what anyone types, small enough that no
// value makes every start slow and large. They hold where values enter: the configuration
// dialog's Save, the wizard's Finish and the import refuse a definition beyond them
// (ValuesBeyondBounds) and say which value. A stored value loads as it is, whatever its size:
// the program, or an earlier version of it, may have stored it.
inline constexpr size_t kSettingTextBytesAtMost = 4096;
inline constexpr size_t kPatternListBytesAtMost = 64 * 1024;
inline constexpr size_t kPatternItemsAtMost = 1000;

// A list in its comma-separated form: items joined by ",", an item holding a blank, a control
// character, a comma or a double quote written in double quotes (quotes inside doubled); a list
// of one empty item is "\"\"".
std::string CommaText(const std::vector<std::string>& items);
// The items of a comma text: commas and unquoted blanks separate items; a quoted item runs to
// its closing quote.
std::vector<std::string> CommaTextItems(std::string_view text);

// The values of a web site definition, as QelPublication holds them (it adds its name). Every
// member but the run-time marks is stored, through its entry of kPublicationSettings; it is an
// aggregate so that the program can count its members and refuse to build when one has no
// entry (see PublicationInfo.cpp).
struct PublicationValues
{
    TDateTime LastPublished = 0;
    TDateTime LastSuccessfullyPublished = 0;
    std::string Source;
    std::string Server;
    std::string Username;
    std::string Password;  // plain in memory, scrambled only in storage
    TPublicationStatus Status = StatusNeverPublished;
    std::vector<std::string> IgnoreFiles;
    std::vector<std::string> ExcludeFiles;
    std::vector<std::string> IgnoreFolders;
    std::vector<std::string> ExcludeFolders;
    std::vector<std::string> AsciiFiles;
    std::vector<std::string> FilePermissions;  // lines "pattern=permission"
    std::string DefaultFilePermission;
    bool UploadModifiedNow = false;
    uint8_t DeleteOldFiles = 0;  // 0 leave, 1 delete, 2 only list
    bool DeleteOldFilesNow = false;
    std::string LastErrorText;
    int32_t WebFileCount = 0;
    int32_t WebDirsCount = 0;
    int32_t WebPageCount = 0;
    int32_t SrcFileCount = 0;
    int32_t SrcPageCount = 0;
    int32_t SrcDirsCount = 0;
    TDateTime SrcMostRecent = 0;
    TDateTime ServerTimeDrift = 0;    // days
    uint8_t ConnectionType = 0;       // 1 LAN only
    uint8_t ConnectionBehaviour = 0;  // 0 leave up, 1 ask, 2 hang up
    std::string Connection;           // dial-up entry; empty for any connection or LAN
    bool Marked = false;              // run time only: chosen for the current Publish All
    bool Checking = false;            // run time only: the status check is about to look
    int32_t ConnectionTimeout = 0;    // seconds
    int32_t GeneralTimeout = 0;       // seconds
    TDotFileState DotFileState;
    bool FtpUseIndy = false;
    bool Disabled = false;
    uint16_t FtpPort = 0;  // 0 for the standard port 21
    bool LogExplainCopy = false;
    bool LogListFiles = false;
    bool UploadViaIntermediary = false;
};

// One web site definition: plain values, read and written on the main thread, which owns the
// definitions of the list. No other thread touches one: a run's FTP device keeps what it finds
// out about the server (ServerTimeDrift, DotFileState) in its session's record, which the session
// copies in once the device's thread is done with it; the status check works on copies of what
// it scans and sets Checking in synchronised calls. Its values are those of PublicationValues;
// it adds only its name.
class QelPublication : public PublicationValues
{
public:
    QelPublication() = default;
    QelPublication(const QelPublication&) = delete;
    QelPublication& operator=(const QelPublication&) = delete;

    void SetName(const std::string& name);
    const std::string& GetName() const { return name_; }
    // The registry sub-key name: "_" as "__", "/" as "_f", "\" as "_b", so that two names never
    // share a key and no key name holds a backslash.
    const std::string& KeyName() const { return key_name_; }

    // Reads the definition from a section; false when the section is missing or, unless
    // importing, when its stored name does not escape to the section's own name. Unless
    // importing, a stored name ends at a NUL; the part before it may escape to the section too.
    // Every other value reads as its entry of kPublicationSettings says: numbers out of their
    // range load as their defaults; texts and lists load as stored. A last error text is cut to
    // its bound.
    bool LoadFrom(const std::string& section, TQelRegistry& store, bool importing);
    // Writes the definition: into the section "Vantrel" when exporting, else into its own
    // sub-key, which must exist already (a removed definition is not brought back). The values
    // go in the order of kPublicationSettings; one at its default is deleted where its entry says
    // so. False when the store refused a write; the store's LastErrorText() says why.
    [[nodiscard]] bool SaveTo(TQelRegistry& store, bool as_export) const;
    // Copies every stored value of `other` (those kCopied) and the dot files it found; the
    // run-time marks stay.
    void Assign(const QelPublication& other);
    // Whether two definitions hold the same user settings (the values kCompared: not status,
    // dates, counts, last error or server time drift); texts and list order compare exactly.
    static bool SameSettings(const QelPublication& a, const QelPublication& b);
    // The reversible scrambling of the stored password. A stored value that is not in the
    // scrambled form is a plain password of an older version and unscrambles to itself.
    static std::string ScramblePassword(const std::string& text, bool encode);
    // Whether a stored password begins as a scrambled one but is none: cut short or damaged.
    // (Reading takes it for a plain password of an older version.)
    static bool IsDamagedScrambledPassword(const std::string& stored);

private:
    std::string name_;
    std::string key_name_;
};

// The name's value in a definition's section. The list writes it to make a sub-key; a section
// without it is no definition.
inline constexpr char kNameValue[] = "Name";
// The FTP port a definition stores as no port at all (0).
inline constexpr uint16_t kStandardFtpPort = 21;

// Whether a stored date is one: a finite number within the years 1 to 9999.
bool IsStoredDate(TDateTime value);
// Whether a stored server time offset is one a measurement keeps: under a day either way.
bool IsStoredTimeDrift(TDateTime value);

// How a stored value of a definition reads and is written (PublicationSetting::kind).
enum class SettingKind : uint8_t
{
    // A text, as stored.
    kText,
    // A pattern list as its comma text. Only a missing value reads as the default list; a stored
    // empty one stays empty.
    kList,
    // A date-time; one that its bounds refuse loads as 0.
    kDate,
    // A number within its range; any other loads as the default.
    kNumber,
    // The FTP port: a kNumber whose standard port is stored as no port at all.
    kPort,
    // An enumerated choice: the stored number's low byte, within its range; any other loads as
    // the default.
    kChoice,
    // A number brought into its range by ClampSetting; 0, as a missing value, stands for the
    // default.
    kClamped,
    // A Boolean stored as a number: on only when 1.
    kIntegerFlag,
    // A Boolean of the store; a missing one reads as the default.
    kFlag,
};

// What the definition does with a stored value (PublicationSetting::flags).
enum PublicationSettingFlag : uint16_t
{
    // Assign copies it.
    kCopied = 1 << 0,
    // A user setting: SameSettings compares it.
    kCompared = 1 << 1,
    // Export writes it and import reads it.
    kExported = 1 << 2,
    // SaveTo deletes it rather than write its default.
    kRemovedAtDefault = 1 << 3,
    // Refused beyond its bounds where values enter: the configuration dialog's Save, the wizard's
    // Finish, the import. What the list stored loads as it is.
    kChecked = 1 << 4,
    // Written only by export: in a sub-key the list writes it, when it makes the key.
    kExportOnly = 1 << 5,
    // Stored scrambled by ScramblePassword.
    kScrambled = 1 << 6,
    // Written sorted (SortPatterns); the sorted list is what is compared with its default. The
    // definition keeps the order it holds.
    kSortedOnSave = 1 << 7,
};
// The record of the web site's runs and of its source: kept with it, never compared.
inline constexpr uint16_t kKept = kCopied | kExported;
// What the user sets.
inline constexpr uint16_t kUserSetting = kKept | kCompared;

// The range of a number (a Boolean as 0 and 1), and what a missing one reads as.
struct NumberBounds
{
    int32_t min = 0;
    int32_t default_value = 0;
    int32_t max = 0;
};
inline constexpr NumberBounds kAnyCount{0, 0, INT32_MAX};
inline constexpr NumberBounds kOffUnlessStored{0, 0, 1};
inline constexpr NumberBounds kOnUnlessStored{0, 1, 1};

// Which stored dates are taken; `range` says it in words.
struct DateBounds
{
    bool (*holds)(TDateTime) = nullptr;
    const char* range = "";
};
inline constexpr DateBounds kAnyDate{IsStoredDate, "the years 1 to 9999"};
inline constexpr DateBounds kMeasurableDrift{IsStoredTimeDrift, "less than one day either way"};

// One stored value of a web site definition: its name in the section, how it reads and is
// written, its default and bounds, what the definition's operations do with it, and the member
// that holds it (through the accessor of its kind; the others stay empty). kPublicationSettings
// holds every one.
struct PublicationSetting
{
    const char* name = "";
    SettingKind kind = SettingKind::kText;
    uint16_t flags = 0;
    // Numbers and Booleans.
    NumberBounds bounds{};
    // Texts and lists: what a missing value reads as (a comma text for a list), the bounds where
    // values enter, and what the user knows the value as.
    const char* default_text = "";
    size_t bytes_at_most = 0;
    size_t items_at_most = 0;
    const char* shown_as = "";
    // Dates.
    DateBounds date_bounds{};

    struct TextAccess
    {
        const std::string& (*get)(const QelPublication&) = nullptr;
        void (*set)(QelPublication&, const std::string&) = nullptr;
    } text{};
    struct ListAccess
    {
        const std::vector<std::string>& (*get)(const QelPublication&) = nullptr;
        void (*set)(QelPublication&, std::vector<std::string>) = nullptr;
    } list{};
    struct DateAccess
    {
        TDateTime (*get)(const QelPublication&) = nullptr;
        void (*set)(QelPublication&, TDateTime) = nullptr;
    } date{};
    // Numbers and Booleans, as int32_t.
    struct NumberAccess
    {
        int32_t (*get)(const QelPublication&) = nullptr;
        void (*set)(QelPublication&, int32_t) = nullptr;
    } number{};
};

// The entries of kPublicationSettings, by kind, each reaching its value through `member`.
template <auto member>
constexpr PublicationSetting TextSetting(const char* name,
                                         uint16_t flags,
                                         const char* shown_as = "")
{
    PublicationSetting setting{.name = name, .kind = SettingKind::kText, .flags = flags};
    setting.bytes_at_most = kSettingTextBytesAtMost;
    setting.shown_as = shown_as;
    setting.text = {[](const QelPublication& p) -> const std::string& { return p.*member; },
                    [](QelPublication& p, const std::string& text) { p.*member = text; }};
    return setting;
}

template <auto member>
constexpr PublicationSetting ListSetting(const char* name,
                                         uint16_t flags,
                                         const char* default_text,
                                         const char* shown_as)
{
    PublicationSetting setting{.name = name, .kind = SettingKind::kList, .flags = flags};
    setting.default_text = default_text;
    setting.bytes_at_most = kPatternListBytesAtMost;
    setting.items_at_most = kPatternItemsAtMost;
    setting.shown_as = shown_as;
    setting.list = {
        [](const QelPublication& p) -> const std::vector<std::string>& { return p.*member; },
        [](QelPublication& p, std::vector<std::string> items) { p.*member = std::move(items); }};
    return setting;
}

template <auto member>
constexpr PublicationSetting DateSetting(const char* name, uint16_t flags, DateBounds bounds)
{
    PublicationSetting setting{.name = name, .kind = SettingKind::kDate, .flags = flags};
    setting.date_bounds = bounds;
    setting.date = {[](const QelPublication& p) -> TDateTime { return p.*member; },
                    [](QelPublication& p, TDateTime date) { p.*member = date; }};
    return setting;
}

template <auto member>
constexpr PublicationSetting NumberSetting(const char* name,
                                           SettingKind kind,
                                           uint16_t flags,
                                           NumberBounds bounds)
{
    PublicationSetting setting{.name = name, .kind = kind, .flags = flags, .bounds = bounds};
    setting.number = {[](const QelPublication& p) { return static_cast<int32_t>(p.*member); },
                      [](QelPublication& p, int32_t number) {
                          p.*member =
                              static_cast<std::remove_reference_t<decltype(p.*member)>>(number);
                      }};
    return setting;
}

// The name goes through SetName, which makes the key name.
constexpr PublicationSetting NameSetting()
{
    PublicationSetting setting{.name = kNameValue,
                               .kind = SettingKind::kText,
                               .flags = kUserSetting | kChecked | kExportOnly};
    setting.bytes_at_most = kSettingTextBytesAtMost;
    setting.shown_as = "the web site name";
    setting.text = {[](const QelPublication& p) -> const std::string& { return p.GetName(); },
                    [](QelPublication& p, const std::string& name) { p.SetName(name); }};
    return setting;
}

// The treatment is the stored half of the dot-file state.
constexpr PublicationSetting DotFileTreatmentSetting()
{
    PublicationSetting setting{.name = "DotFileTreatment",
                               .kind = SettingKind::kClamped,
                               .flags = kUserSetting | kRemovedAtDefault | kChecked,
                               .bounds = {kDotFilesUnknown, kDotFilesUnknown, kDotFilesHidden}};
    setting.number = {[](const QelPublication& p) -> int32_t { return p.DotFileState.Treatment; },
                      [](QelPublication& p, int32_t value) {
                          p.DotFileState.Treatment = static_cast<uint8_t>(value);
                      }};
    return setting;
}

// Every stored value of a definition, in the order SaveTo writes them. LoadFrom, SaveTo, Assign,
// SameSettings, export and import walk it; ValuesBeyondBounds and the dialogs take their bounds
// from it. What no entry can say stays beside it, in those operations: the name is read first
// and decides whether the section is a definition; a stored "publishing" status loads as
// interrupted; a last error text loads cut to its bound; Assign also copies the dot files found.
inline constexpr PublicationSetting kPublicationSettings[] = {
    NameSetting(),
    TextSetting<&QelPublication::Source>(
        "Source", kUserSetting | kChecked, "the local source directory"),
    TextSetting<&QelPublication::Server>("Server", kUserSetting | kChecked, "the upload address"),
    TextSetting<&QelPublication::Username>("Username", kUserSetting | kChecked, "the user name"),
    TextSetting<&QelPublication::Password>(
        "Password", kUserSetting | kChecked | kScrambled, "the password"),
    NumberSetting<&QelPublication::Status>(
        "Status",
        SettingKind::kChoice,
        kKept | kChecked,
        {StatusNeverPublished, StatusNeverPublished, StatusInterrupted}),
    DateSetting<&QelPublication::LastPublished>("LastPublished", kKept, kAnyDate),
    DateSetting<&QelPublication::LastSuccessfullyPublished>(
        "LastSuccessfullyPublished", kKept, kAnyDate),
    NumberSetting<&QelPublication::WebFileCount>(
        "WebFileCount", SettingKind::kNumber, kKept | kChecked, kAnyCount),
    NumberSetting<&QelPublication::WebPageCount>(
        "WebPageCount", SettingKind::kNumber, kKept | kChecked, kAnyCount),
    NumberSetting<&QelPublication::WebDirsCount>(
        "WebDirsCount", SettingKind::kNumber, kKept | kChecked, kAnyCount),
    NumberSetting<&QelPublication::SrcFileCount>(
        "SrcFileCount", SettingKind::kNumber, kKept | kChecked, kAnyCount),
    NumberSetting<&QelPublication::SrcPageCount>(
        "SrcPageCount", SettingKind::kNumber, kKept | kChecked, kAnyCount),
    NumberSetting<&QelPublication::SrcDirsCount>(
        "SrcDirsCount", SettingKind::kNumber, kKept | kChecked, kAnyCount),
    DateSetting<&QelPublication::SrcMostRecent>("SrcMostRecent", kKept, kAnyDate),
    NumberSetting<&QelPublication::DeleteOldFiles>(
        "DeleteOldFiles", SettingKind::kChoice, kUserSetting | kChecked, {0, 0, 2}),
    TextSetting<&QelPublication::LastErrorText>("LastErrorText", kKept | kRemovedAtDefault),
    NumberSetting<&QelPublication::UploadViaIntermediary>("UploadViaIntermediary",
                                                          SettingKind::kIntegerFlag,
                                                          kUserSetting | kChecked,
                                                          kOffUnlessStored),
    NumberSetting<&QelPublication::Disabled>("Disabled",
                                             SettingKind::kIntegerFlag,
                                             kUserSetting | kRemovedAtDefault | kChecked,
                                             kOffUnlessStored),
    NumberSetting<&QelPublication::FtpPort>("FtpPort",
                                            SettingKind::kPort,
                                            kUserSetting | kRemovedAtDefault | kChecked,
                                            {0, 0, UINT16_MAX}),
    DateSetting<&QelPublication::ServerTimeDrift>(
        "ServerTimeDrift", kKept | kChecked, kMeasurableDrift),
    TextSetting<&QelPublication::DefaultFilePermission>("DefaultFilePermission",
                                                        kUserSetting | kRemovedAtDefault | kChecked,
                                                        "the default permission"),
    NumberSetting<&QelPublication::ConnectionType>("ConnectionType",
                                                   SettingKind::kChoice,
                                                   kUserSetting | kRemovedAtDefault | kChecked,
                                                   {0, 0, 1}),
    NumberSetting<&QelPublication::ConnectionBehaviour>("ConnectionBehaviour",
                                                        SettingKind::kChoice,
                                                        kUserSetting | kRemovedAtDefault | kChecked,
                                                        {0, 0, 2}),
    ListSetting<&QelPublication::IgnoreFiles>("IgnoreFiles",
                                              kUserSetting | kRemovedAtDefault | kChecked,
                                              kDefaultIgnoreFiles,
                                              "the file exclusions"),
    ListSetting<&QelPublication::ExcludeFiles>(
        "ExcludeFiles", kUserSetting | kRemovedAtDefault | kChecked, "", "the file exclusions"),
    ListSetting<&QelPublication::IgnoreFolders>(
        "IgnoreFolders", kUserSetting | kRemovedAtDefault | kChecked, "", "the folder exclusions"),
    ListSetting<&QelPublication::ExcludeFolders>(
        "ExcludeFolders", kUserSetting | kRemovedAtDefault | kChecked, "", "the folder exclusions"),
    TextSetting<&QelPublication::Connection>(
        "Connection", kUserSetting | kChecked, "the connection"),
    NumberSetting<&QelPublication::UploadModifiedNow>(
        "UploadModifiedNow", SettingKind::kFlag, kUserSetting, kOnUnlessStored),
    NumberSetting<&QelPublication::FtpUseIndy>(
        "FtpUseIndy", SettingKind::kFlag, kUserSetting, kOffUnlessStored),
    NumberSetting<&QelPublication::ConnectionTimeout>("ConnectionTimeout",
                                                      SettingKind::kClamped,
                                                      kUserSetting | kRemovedAtDefault | kChecked,
                                                      {10, 30, 60}),
    NumberSetting<&QelPublication::GeneralTimeout>("GeneralTimeout",
                                                   SettingKind::kClamped,
                                                   kUserSetting | kRemovedAtDefault | kChecked,
                                                   {10, 20, 60}),
    DotFileTreatmentSetting(),
    NumberSetting<&QelPublication::LogExplainCopy>("LogExplainCopy",
                                                   SettingKind::kIntegerFlag,
                                                   kUserSetting | kRemovedAtDefault | kChecked,
                                                   kOffUnlessStored),
    NumberSetting<&QelPublication::LogListFiles>(
        "LogListFiles", SettingKind::kFlag, kUserSetting | kRemovedAtDefault, kOffUnlessStored),
    NumberSetting<&QelPublication::DeleteOldFilesNow>("DeleteOldFilesNow",
                                                      SettingKind::kFlag,
                                                      kUserSetting | kRemovedAtDefault,
                                                      kOffUnlessStored),
    ListSetting<&QelPublication::FilePermissions>(
        "FilePermissions", kUserSetting | kRemovedAtDefault | kChecked, "", "the file permissions"),
    ListSetting<&QelPublication::AsciiFiles>(
        "AsciiFiles",
        kUserSetting | kRemovedAtDefault | kChecked | kSortedOnSave,
        kDefaultAsciiFiles,
        "the text files"),
};

// The entry of a value name, found while compiling: a name the table does not hold does not
// compile.
consteval const PublicationSetting& PublicationSettingNamed(std::string_view name)
{
    for (const PublicationSetting& setting : kPublicationSettings) {
        if (name == setting.name) {
            return setting;
        }
    }
    throw "not a stored value of the definition";
}

// The value names of the definition's texts and lists (those kChecked) that go beyond their
// bounds, in the order of kPublicationSettings (the name first); empty when every value is
// within its bounds.
std::vector<std::string> ValuesBeyondBounds(const QelPublication& definition);
// The bounds in words: "a text may have 4096 bytes, a list 1000 patterns and 65536 bytes".
std::string BoundsText();
// What the configuration dialog and the wizard say of values beyond their bounds: the settings
// they stand for as the user knows them, and the bounds.
std::string BeyondBoundsText(const std::vector<std::string>& value_names);
inline constexpr char kBeyondBoundsCaption[] = "Web site settings too large";

// The run options of one publish of the web site, as the session fills them before each run:
// Reset, then every option the definition decides. `turbo`: the Turbo button is down, so an
// earlier publish's date lets the run skip what has not changed since; a date later than now is
// not trusted, and the run lists in full.
void FillSyncFlags(const QelPublication& site, bool turbo, QelSyncFlags* flags);

// Every web site definition of the user, in registry order, each saved at once on every change
// under the sub-key KeyName() of "\SOFTWARE\Velko\Vantrel". Names compare exactly. Main thread
// only (the status check reaches it through synchronised calls). The list owns its definitions
// and its store.
class QelPublicationList
{
public:
    // Moves the older key "Ostrel" to "Vantrel" when only it exists, then loads every
    // definition. A definition whose dial-up entry the system does not list is told to the user,
    // reset to any connection and saved. So is one whose stored name no web site may bear, or
    // that is not its sub-key's: it is listed under the name cut before a NUL and to the text
    // bound ("Web site" for a blank one), numbered when another web site bears that name or its
    // key, and stored under that name's key.
    // When the settings file cannot be read the list stays empty and LoadProblem() says why.
    QelPublicationList();
    ~QelPublicationList();
    QelPublicationList(const QelPublicationList&) = delete;
    QelPublicationList& operator=(const QelPublicationList&) = delete;

    // The store on the base key, for the program's own settings.
    TQelRegistry* Store() { return store_.get(); }
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    // 1-based; null outside the list.
    QelPublication* Items(int32_t index) const;
    bool Exists(std::string_view name) const { return IndexOfName(name) > 0; }
    // 1-based place of the first definition with exactly that name; 0 when none.
    int32_t IndexOfName(std::string_view name) const;
    QelPublication* FindByName(std::string_view name) const;
    // Loads one sub-key and appends it; null (nothing appended) when it is no definition.
    QelPublication* LoadPublication(const std::string& key_name);

    // Empty when the settings file was read; else a text that names the file, says why it could
    // not be read and what the user can do. The list then holds nothing: an empty list is never
    // taken for a user without web sites.
    const std::string& LoadProblem() const { return load_problem_; }
    // Drops every definition and the process's connection to the settings file, and loads the
    // list afresh, as at its creation. Only while no status check runs.
    void Reload();

    // Tells the user in a box that the web site's settings could not be stored, and why. Once
    // per run of failures: no further box comes until a store has succeeded again, so a Publish
    // All over a settings file that cannot be written shows one box, not one per web site. A
    // store the user asked for (`asked_by_user`) is always told.
    void TellStoreFailure(const QelPublication& definition, bool asked_by_user = false);

    // Appends the definition and saves it under a new sub-key, taking it from the caller. A
    // name that is taken, empty or only blanks is refused and the caller keeps the definition.
    // False also when the registry refused a write: the definition is then listed but unsaved.
    bool Add(std::unique_ptr<QelPublication>& definition);
    // A definition with the wizard's defaults, added as by Add.
    bool AddNew(const std::string& name,
                const std::string& source,
                const std::string& server,
                const std::string& username,
                const std::string& password,
                const std::string& connection,
                uint8_t connection_type,
                bool delete_old,
                bool list_only,
                uint16_t ftp_port = 0);
    // Copies the edited settings into the listed definition of `old_name` and saves it; a new
    // name moves it to a new sub-key, written whole before the old one is deleted (a rename that
    // cannot be written is undone). Nothing happens for an unknown old name or a new name that
    // is empty or only blanks. The caller keeps `definition`.
    bool Update(const std::string& old_name, const QelPublication& definition);
    // Removes the definition and its sub-key.
    bool Delete(const std::string& name);

    // Marks every web site for Publish All, or with `only_unpublished` those not published;
    // true when any is marked.
    bool MarkAll(bool only_unpublished);
    // Marked web sites that are not disabled.
    int32_t CountMarked() const;
    void ClearMarks();
    // The first marked web site that is not disabled, unmarked on the way; null when none.
    QelPublication* NextMarked();

private:
    void Load();
    // Passes `ok` on; a store that succeeded ends a run of failures.
    bool Stored(bool ok);
    // Loads a sub-key whose stored name is not its key's (changed outside the program, or the
    // key copied) and appends it; null when the sub-key holds no name.
    QelPublication* LoadRenamedOutside(const std::string& key_name);
    // Gives a definition whose stored name no web site may bear (a NUL in it, beyond the text
    // bound, blank, another web site's, or not its key's) the name the load made of it, under
    // that name's key, and tells the user.
    void MendStoredName(QelPublication& definition,
                        const std::string& stored_key,
                        const std::string& stored_name);
    // Tells of a definition's reset values and saves it.
    void SaveReset(QelPublication& definition, const std::string& text, const char* caption);

    std::vector<std::unique_ptr<QelPublication>> items_;
    std::unique_ptr<TQelRegistry> store_;
    std::string load_problem_;
    bool store_failure_told_ = false;
};

// When the definition names a dial-up entry that is not among `entry_names` (none when the
// system lists no entries, as on Linux), the text that tells the user it has been reset to any
// connection; else empty. Entry names ignore letter case, as the phone book does.
std::string MissingDialUpEntryText(const QelPublication& definition,
                                   const std::vector<std::string>& entry_names);
inline constexpr char kMissingDialUpEntryCaption[] = "Invalid Dial Up Connection";

// Whether a web site may bear the name: not empty once trailing blanks are cut. An empty name
// would escape to the empty key name, which is the base key holding every web site.
bool IsUsablePublicationName(std::string_view name);

}  // namespace vantrel
