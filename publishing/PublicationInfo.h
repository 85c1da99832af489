#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/QelDateFunctions.h"
#include "foundation/QelRegistryU.h"
#include "storage/DotFileState.h"
#include "sync/QelSyncFlags.h"

// Web site definitions and their list: TPublicationStatus, QelPublication (one web site, read
// from and written to a section of a settings store, with its TDotFileState), the run options a
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

// The bounds of a web site's texts and pattern lists (in their stored form): far beyond what
// anyone types, small enough that no value makes every start slow and large. They hold where
// values enter: the configuration dialog's Save, the wizard's Finish and the import refuse a
// definition beyond them (ValuesBeyondBounds) and say which value. A stored value loads as it
// is, whatever its size: the program, or an earlier version of it, may have stored it.
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

// One web site definition: plain values, read and written on the main thread, which owns the
// definitions of the list. No other thread touches one: a run's FTP device keeps what it finds
// out about the server (ServerTimeDrift, DotFileState) in its session's record, which the session
// copies in once the device's thread is done with it; the status check works on copies of what
// it scans and sets Checking in synchronised calls.
class QelPublication
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
    // importing, when its "Name" does not escape to the section's own name. Unless importing, a
    // stored name ends at a NUL; the part before it may escape to the section too. Numbers out of
    // their range load as their defaults; texts and lists load as stored. A last error text is
    // cut to the text bound.
    bool LoadFrom(const std::string& section, TQelRegistry& store, bool importing);
    // Writes the definition: into the section "Vantrel" when exporting, else into its own
    // sub-key, which must exist already (a removed definition is not brought back). False when
    // the store refused a write; the store's LastErrorText() says why.
    [[nodiscard]] bool SaveTo(TQelRegistry& store, bool as_export);
    // Copies every stored setting and list of `other`; the run-time marks stay.
    void Assign(const QelPublication& other);
    // Whether two definitions hold the same user settings (not status, dates, counts, last
    // error or server time drift); texts and list order compare exactly.
    static bool SameSettings(const QelPublication& a, const QelPublication& b);
    // The reversible scrambling of the stored password. A stored value that is not in the
    // scrambled form is a plain password of an older version and unscrambles to itself.
    static std::string ScramblePassword(const std::string& text, bool encode);

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

private:
    std::string name_;
    std::string key_name_;
};

// The value names of the definition's texts and lists that go beyond their bounds, "Name" first,
// then in the order the values are stored; empty when every value is within its bounds.
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
    // reset to any connection and saved; so is one whose stored name holds a NUL, which keeps the
    // name before it (numbered when another web site bears that name) under that name's key.
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
                bool list_only);
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
    // Gives a definition whose stored name holds a NUL the name that the load cut from it, under
    // that name's key, and tells the user.
    void MendNulInName(QelPublication& definition,
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
