#include "publishing/PublicationInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string_view>

#include "foundation/NumericFunctions.h"
#include "foundation/QelStringFunctions.h"
#include "platform/Errors.h"
#include "platform/Registry.h"
#include "platform/Ui.h"
#include "storage/DUN.h"
#include "storage/FtpStorage.h"

namespace vantrel {
namespace {

// A value of any type, to count the members of an aggregate by how many initialisers it takes.
struct AnyValue
{
    template <typename T>
    operator T() const;  // to every member's type, never called
};

template <typename Aggregate, typename... Initialisers>
consteval size_t MemberCount()
{
    if constexpr (requires { Aggregate{Initialisers{}..., AnyValue{}}; }) {
        return MemberCount<Aggregate, Initialisers..., AnyValue>();
    } else {
        return sizeof...(Initialisers);
    }
}

// Every member of the values but the two run-time marks (Marked, Checking) is stored, each
// through one entry of the table (DotFileState through its treatment); the name, which
// QelPublication holds beside them, has an entry too. A member added without an entry stops the
// build here: give it an entry, or count it as a run-time mark when nothing stores it. (That
// no two entries reach the same member is the table's test's to see.)
constexpr size_t kRunTimeMarks = 2;
static_assert(MemberCount<PublicationValues>() ==
                  std::size(kPublicationSettings) - 1 + kRunTimeMarks,
              "a member of PublicationValues has no entry in kPublicationSettings");

constexpr char kBasePath[] = "\\SOFTWARE\\Velko\\Vantrel";
constexpr char kVendorPath[] = "\\SOFTWARE\\Velko";
constexpr char kOlderKey[] = "Ostrel";
constexpr char kCurrentKey[] = "Vantrel";

// The scrambled password: this marker, the bytes mixed with a fixed key as upper-case hex, then
// a check of the plain text as eight hex digits. The check keeps a plain password of an older
// version that happens to begin with the marker from being taken for a scrambled one.
constexpr std::string_view kScrambleMarker = "~qv1~";
constexpr uint8_t kScrambleKey[] = {0x5A, 0xC3, 0x17, 0x8E, 0x2B, 0xF4, 0x61, 0x9D,
                                    0x36, 0xE8, 0x0F, 0x72, 0xB5, 0x4C, 0xD9, 0xA0};

uint8_t ScrambleByte(size_t i)
{
    return static_cast<uint8_t>(kScrambleKey[i % sizeof kScrambleKey] ^ (i * 31));
}

uint32_t PasswordCheck(std::string_view text)
{
    uint32_t hash = 2166136261u;
    for (char c : text) {
        hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    }
    return hash;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(uint64_t value, int digits, std::string* out)
{
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        *out += kHexDigits[(value >> shift) & 0xF];
    }
}

// Upper-case hex only, as scrambling writes it; false for anything else.
bool ParseHex(std::string_view hex, std::string* bytes)
{
    bytes->clear();
    if (hex.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < hex.size(); i += 2) {
        const char* high = std::strchr(kHexDigits, hex[i]);
        const char* low = std::strchr(kHexDigits, hex[i + 1]);
        if (hex[i] == '\0' || hex[i + 1] == '\0' || high == nullptr || low == nullptr) {
            return false;
        }
        *bytes += static_cast<char>((high - kHexDigits) << 4 | (low - kHexDigits));
    }
    return true;
}

std::string Scramble(const std::string& plain)
{
    if (plain.empty()) {
        return "";
    }
    std::string out(kScrambleMarker);
    for (size_t i = 0; i < plain.size(); ++i) {
        AppendHex(static_cast<uint8_t>(plain[i]) ^ ScrambleByte(i), 2, &out);
    }
    AppendHex(PasswordCheck(plain), 8, &out);
    return out;
}

std::string Unscramble(const std::string& stored)
{
    const std::string_view view = stored;
    std::string body;
    std::string check;
    if (view.size() < kScrambleMarker.size() + 8 || !view.starts_with(kScrambleMarker) ||
        !ParseHex(view.substr(kScrambleMarker.size(), view.size() - kScrambleMarker.size() - 8),
                  &body) ||
        !ParseHex(view.substr(view.size() - 8), &check)) {
        return stored;
    }
    std::string plain = body;
    for (size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<char>(static_cast<uint8_t>(plain[i]) ^ ScrambleByte(i));
    }
    uint32_t stored_check = 0;
    for (char c : check) {
        stored_check = stored_check << 8 | static_cast<uint8_t>(c);
    }
    return stored_check == PasswordCheck(plain) ? plain : stored;
}

bool NeedsQuotes(const std::string& item)
{
    return std::any_of(item.begin(), item.end(), [](char c) {
        return static_cast<unsigned char>(c) <= ' ' || c == '"' || c == ',';
    });
}

// ASCII letters folded, then exactly: the default text-file list is in this order, so a sorted
// list of the default patterns compares equal to it.
void SortPatterns(std::vector<std::string>* items)
{
    std::stable_sort(items->begin(), items->end(), [](const std::string& a, const std::string& b) {
        const std::string fa = AsciiLowerCase(a);
        const std::string fb = AsciiLowerCase(b);
        return fa != fb ? fa < fb : a < b;
    });
}

// Writes one definition's values into a section; after the first refused write it writes and
// deletes nothing more, as the store's error would have ended the save.
class SectionWriter
{
public:
    SectionWriter(TQelRegistry& store, std::string section)
        : store_(store)
        , section_(std::move(section))
    {}

    void String(const char* name, const std::string& value)
    {
        ok_ = ok_ && store_.WriteString(section_, name, value);
    }
    void Integer(const char* name, int32_t value)
    {
        ok_ = ok_ && store_.WriteInteger(section_, name, value);
    }
    void DateTime(const char* name, TDateTime value)
    {
        ok_ = ok_ && store_.WriteDateTime(section_, name, value);
    }
    void Bool(const char* name, bool value)
    {
        ok_ = ok_ && store_.WriteBool(section_, name, value);
    }
    void Delete(const char* name)
    {
        if (ok_) {
            store_.DeleteValue(section_, name);
        }
    }
    bool ok() const { return ok_; }

private:
    TQelRegistry& store_;
    std::string section_;
    bool ok_ = true;
};

// The value a stored number stands for, by the setting's kind and bounds.
int32_t NumberFromStore(const PublicationSetting& setting, int32_t stored)
{
    const NumberBounds& b = setting.bounds;
    switch (setting.kind) {
        case SettingKind::kChoice: {
            // A byte-sized choice is its low byte; one that no dialog makes (only a damaged file
            // or a hand edit) loads as the default.
            const int32_t low = stored & 0xFF;
            return low >= b.min && low <= b.max ? low : b.default_value;
        }
        case SettingKind::kClamped:
            return ClampSetting(stored, b.min, b.default_value, b.max);
        case SettingKind::kIntegerFlag:
            return stored == 1 ? 1 : 0;
        default:
            // A number out of its range (a damaged or edited value) loads as the default: a port
            // beyond 65535 is no port, not its low 16 bits.
            return stored >= b.min && stored <= b.max ? stored : b.default_value;
    }
}

void LoadSetting(const PublicationSetting& setting,
                 TQelRegistry& store,
                 const std::string& section,
                 QelPublication& p)
{
    const char* name = setting.name;
    switch (setting.kind) {
        case SettingKind::kText: {
            const std::string text = store.ReadString(section, name);
            setting.text.set(p, setting.flags & kScrambled
                                    ? QelPublication::ScramblePassword(text, false)
                                    : text);
            return;
        }
        case SettingKind::kList:
            // Only a missing value brings the default back; a stored empty list stays empty.
            setting.list.set(p, setting.default_text[0] != '\0' && !store.ValueExists(section, name)
                                    ? CommaTextItems(setting.default_text)
                                    : CommaTextItems(store.ReadString(section, name)));
            return;
        case SettingKind::kDate: {
            const TDateTime value = store.ReadDateTime(section, name);
            setting.date.set(p, setting.date_bounds.holds(value) ? value : 0);
            return;
        }
        case SettingKind::kFlag:
            setting.number.set(p, store.ReadBool(section, name, setting.bounds.default_value != 0));
            return;
        default:
            setting.number.set(p, NumberFromStore(setting, store.ReadInteger(section, name, 0)));
    }
}

bool IsAtDefault(const PublicationSetting& setting, const QelPublication& p)
{
    switch (setting.kind) {
        case SettingKind::kText:
            return setting.text.get(p) == setting.default_text;
        case SettingKind::kList:
            return CommaText(setting.list.get(p)) == setting.default_text;
        case SettingKind::kDate:
            return setting.date.get(p) == 0;
        default: {
            const int32_t value = setting.number.get(p);
            return value == setting.bounds.default_value ||
                   (setting.kind == SettingKind::kPort && value == kStandardFtpPort);
        }
    }
}

// A list's stored form: its comma text, sorted first when its entry says so. The sorting works
// on a copy, so saving leaves the definition's order as the user gave it.
std::string StoredListText(const PublicationSetting& setting, const QelPublication& p)
{
    if (!(setting.flags & kSortedOnSave)) {
        return CommaText(setting.list.get(p));
    }
    std::vector<std::string> items = setting.list.get(p);
    SortPatterns(&items);
    return CommaText(items);
}

void SaveSetting(const PublicationSetting& setting, const QelPublication& p, SectionWriter& w)
{
    const char* name = setting.name;
    if (setting.kind == SettingKind::kList) {
        const std::string text = StoredListText(setting, p);
        if ((setting.flags & kRemovedAtDefault) && text == setting.default_text) {
            w.Delete(name);
        } else {
            w.String(name, text);
        }
        return;
    }
    if ((setting.flags & kRemovedAtDefault) && IsAtDefault(setting, p)) {
        w.Delete(name);
        return;
    }
    switch (setting.kind) {
        case SettingKind::kText:
            w.String(name, setting.flags & kScrambled
                               ? QelPublication::ScramblePassword(setting.text.get(p), true)
                               : setting.text.get(p));
            return;
        case SettingKind::kDate:
            w.DateTime(name, setting.date.get(p));
            return;
        case SettingKind::kFlag:
            w.Bool(name, setting.number.get(p) != 0);
            return;
        default:
            w.Integer(name, setting.number.get(p));
    }
}

void SetDefault(const PublicationSetting& setting, QelPublication& p)
{
    switch (setting.kind) {
        case SettingKind::kText:
            setting.text.set(p, setting.default_text);
            return;
        case SettingKind::kList:
            setting.list.set(p, CommaTextItems(setting.default_text));
            return;
        case SettingKind::kDate:
            setting.date.set(p, 0);
            return;
        default:
            setting.number.set(p, setting.bounds.default_value);
    }
}

void CopySetting(const PublicationSetting& setting, const QelPublication& from, QelPublication& to)
{
    switch (setting.kind) {
        case SettingKind::kText:
            setting.text.set(to, setting.text.get(from));
            return;
        case SettingKind::kList:
            setting.list.set(to, setting.list.get(from));
            return;
        case SettingKind::kDate:
            setting.date.set(to, setting.date.get(from));
            return;
        default:
            setting.number.set(to, setting.number.get(from));
    }
}

bool SameValue(const PublicationSetting& setting, const QelPublication& a, const QelPublication& b)
{
    switch (setting.kind) {
        case SettingKind::kText:
            return setting.text.get(a) == setting.text.get(b);
        case SettingKind::kList:
            // As comma texts, so the order of items counts.
            return CommaText(setting.list.get(a)) == CommaText(setting.list.get(b));
        case SettingKind::kDate:
            return setting.date.get(a) == setting.date.get(b);
        default:
            return setting.number.get(a) == setting.number.get(b);
    }
}

bool SameFolded(const std::string& a, const std::string& b)
{
    return AsciiLowerCase(a) == AsciiLowerCase(b);
}

constexpr char kInvalidSettingsCaption[] = "Invalid Web Site Settings";

// The text cut to at most that many bytes, never inside a UTF-8 character.
std::string CutToBytes(const std::string& text, size_t bytes)
{
    if (text.size() <= bytes) {
        return text;
    }
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

// A stored name as a message shows it: a NUL as "\0", and a name longer than a line by its
// beginning and its end.
std::string ShownName(const std::string& name)
{
    constexpr size_t kHeadBytes = 60;
    constexpr size_t kTailBytes = 16;
    std::string shown = name;
    if (name.size() > kHeadBytes + kTailBytes + 3) {
        size_t tail = name.size() - kTailBytes;
        while (tail < name.size() && (static_cast<unsigned char>(name[tail]) & 0xC0) == 0x80) {
            ++tail;
        }
        shown = CutToBytes(name, kHeadBytes) + "..." + name.substr(tail);
    }
    return ReplaceAll(shown, std::string(1, '\0'), "\\0");
}

std::string KeyNameOf(const std::string& name)
{
    std::string key_name;
    for (char c : name) {
        switch (c) {
            case '_':
                key_name += "__";
                break;
            case '/':
                key_name += "_f";
                break;
            case '\\':
                key_name += "_b";
                break;
            default:
                key_name += c;
        }
    }
    return key_name;
}

}  // namespace

std::string CommaText(const std::vector<std::string>& items)
{
    if (items.size() == 1 && items[0].empty()) {
        return "\"\"";
    }
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            text += ',';
        }
        if (!NeedsQuotes(items[i])) {
            text += items[i];
            continue;
        }
        text += '"';
        for (char c : items[i]) {
            text += c;
            if (c == '"') {
                text += '"';
            }
        }
        text += '"';
    }
    return text;
}

std::vector<std::string> CommaTextItems(std::string_view text)
{
    // A NUL ends the text, as it ends the stored string.
    text = text.substr(0, text.find('\0'));
    auto at = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0; };
    auto is_blank = [](unsigned char c) { return c >= 1 && c <= ' '; };

    std::vector<std::string> items;
    size_t p = 0;
    while (is_blank(at(p))) {
        ++p;
    }
    while (at(p) != 0) {
        std::string item;
        if (at(p) == '"') {
            for (++p; at(p) != 0; ++p) {
                if (at(p) == '"') {
                    if (at(p + 1) != '"') {
                        ++p;
                        break;
                    }
                    ++p;
                }
                item += text[p];
            }
        } else {
            const size_t start = p;
            while (at(p) > ' ' && at(p) != ',') {
                ++p;
            }
            item = text.substr(start, p - start);
        }
        items.push_back(std::move(item));
        while (is_blank(at(p))) {
            ++p;
        }
        if (at(p) == ',') {
            if (at(p + 1) == 0) {
                items.emplace_back();
            }
            do {
                ++p;
            } while (is_blank(at(p)));
        }
    }
    return items;
}

bool IsUsablePublicationName(std::string_view name)
{
    return std::any_of(name.begin(), name.end(),
                       [](char c) { return static_cast<unsigned char>(c) > ' '; });
}

void QelPublication::SetName(const std::string& name)
{
    name_ = name;
    key_name_ = KeyNameOf(name);
}

bool IsStoredDate(TDateTime value)
{
    return std::isfinite(value) && value >= -693593 && value <= 2958465;
}

bool IsStoredTimeDrift(TDateTime value)
{
    // An offset no measurement keeps would shift every listed time by days: it is measured again.
    return IsMeasurableTimeDrift(value);
}

bool QelPublication::LoadFrom(const std::string& section, TQelRegistry& store, bool importing)
{
    if (!store.SectionExists(section)) {
        return false;
    }
    // A stored name ends at a NUL, as a stored text does wherever the system reads one; its key
    // was made from the name whole or from what comes before the NUL.
    const std::string stored_name = store.ReadString(section, kNameValue);
    SetName(importing ? stored_name : stored_name.substr(0, stored_name.find('\0')));
    if (!importing && key_name_ != section && KeyNameOf(stored_name) != section) {
        return false;
    }
    for (const PublicationSetting& setting : kPublicationSettings) {
        if (std::string_view(setting.name) != kNameValue) {
            LoadSetting(setting, store, section, *this);
        }
    }
    // A stored "publishing" means the program ended during a run.
    if (Status == StatusPublishing) {
        Status = StatusInterrupted;
    }
    // An account of a failure, not a setting: what is beyond the bound is cut.
    if (LastErrorText.size() > kSettingTextBytesAtMost) {
        LastErrorText.resize(kSettingTextBytesAtMost);
    }
    return true;
}

bool QelPublication::SaveTo(TQelRegistry& store, bool as_export) const
{
    if (!as_export) {
        // The empty key name is the base key itself: never write a definition among the
        // program's own settings.
        if (key_name_.empty()) {
            platform::SetLastError(platform::kErrorInvalidParameter);
            return false;
        }
        if (!store.SectionExists(key_name_)) {
            return true;
        }
    }
    SectionWriter w(store, as_export ? kSettingsFileSection : key_name_);
    for (const PublicationSetting& setting : kPublicationSettings) {
        if (as_export || !(setting.flags & kExportOnly)) {
            SaveSetting(setting, *this, w);
        }
    }
    return w.ok();
}

void QelPublication::Assign(const QelPublication& other)
{
    if (&other == this) {
        return;
    }
    for (const PublicationSetting& setting : kPublicationSettings) {
        if (setting.flags & kCopied) {
            CopySetting(setting, other, *this);
        }
    }
    // Not stored, but counted under the treatment that has just been copied.
    DotFileState.DotFilesFound = other.DotFileState.DotFilesFound;
}

bool QelPublication::SameSettings(const QelPublication& a, const QelPublication& b)
{
    return std::all_of(std::begin(kPublicationSettings), std::end(kPublicationSettings),
                       [&](const PublicationSetting& setting) {
                           return !(setting.flags & kCompared) || SameValue(setting, a, b);
                       });
}

std::string QelPublication::ScramblePassword(const std::string& text, bool encode)
{
    return encode ? Scramble(text) : Unscramble(text);
}

bool QelPublication::IsDamagedScrambledPassword(const std::string& stored)
{
    return stored.starts_with(kScrambleMarker) && Unscramble(stored) == stored;
}

void FillSyncFlags(const QelPublication& site, bool turbo, QelSyncFlags* flags)
{
    flags->Reset();
    flags->CreateDestinationRoot = true;
    flags->ContinueAfterErrors = false;
    flags->DeleteObsolete = site.DeleteOldFiles == 1;
    flags->ListObsoleteOnly = site.DeleteOldFiles == 2;
    flags->DeleteImmediately = site.DeleteOldFilesNow;
    flags->Recurse = true;
    flags->KeepIgnoredOldFiles = true;
    flags->DatesOnly = false;
    flags->ExplainCopy = site.LogExplainCopy;
    flags->ClearReadOnly = true;
    flags->FreeSourceDevice = true;
    flags->FreeDestinationDevice = true;
    flags->FreeOutput = false;
    flags->ExcludeFiles = site.ExcludeFiles;
    flags->IgnoreFiles = site.IgnoreFiles;
    flags->ExcludeFolders = site.ExcludeFolders;
    flags->IgnoreFolders = site.IgnoreFolders;
    flags->TextFiles = site.AsciiFiles;
    flags->FilePermissions = site.FilePermissions;
    flags->DefaultFilePermission = site.DefaultFilePermission;
    flags->TempNameTag = site.UploadViaIntermediary ? kTemporaryNameTag : "";
    flags->TurboFolderDate = 0;
    flags->TurboEntryDate = 0;
    // A last publish later than now (a clock that was set wrong, a damaged or edited value) would
    // hide every edit from every run, as each run stores its own start: the run lists in full
    // and judges every file afresh.
    if (site.LastPublished > NowDateTime()) {
        return;
    }
    flags->LastPublishStart = site.LastPublished;
    if (turbo) {
        // A site published since (or only found changed since) compares folder times; any
        // other compares every entry too.
        if (site.Status == StatusPublished || site.Status == StatusNeedsPublishing) {
            flags->TurboFolderDate = site.LastPublished;
        } else {
            flags->TurboEntryDate = site.LastPublished;
        }
    }
}

std::vector<std::string> ValuesBeyondBounds(const QelPublication& definition)
{
    std::vector<std::string> beyond;
    for (const PublicationSetting& setting : kPublicationSettings) {
        if (!(setting.flags & kChecked)) {
            continue;
        }
        if ((setting.kind == SettingKind::kText &&
             setting.text.get(definition).size() > setting.bytes_at_most) ||
            (setting.kind == SettingKind::kList &&
             (setting.list.get(definition).size() > setting.items_at_most ||
              CommaText(setting.list.get(definition)).size() > setting.bytes_at_most))) {
            beyond.push_back(setting.name);
        }
    }
    return beyond;
}

std::string BoundsText()
{
    return "a text may have " + std::to_string(kSettingTextBytesAtMost) + " bytes, a list " +
           std::to_string(kPatternItemsAtMost) + " patterns and " +
           std::to_string(kPatternListBytesAtMost) + " bytes";
}

std::string BeyondBoundsText(const std::vector<std::string>& value_names)
{
    std::vector<std::string> shown;
    for (const std::string& name : value_names) {
        std::string label = name;
        for (const PublicationSetting& setting : kPublicationSettings) {
            if (name == setting.name && setting.shown_as[0] != '\0') {
                label = setting.shown_as;
            }
        }
        if (std::find(shown.begin(), shown.end(), label) == shown.end()) {
            shown.push_back(label);
        }
    }
    std::string names;
    for (size_t i = 0; i < shown.size(); ++i) {
        names += (i == 0 ? "" : i + 1 == shown.size() ? " and " : ", ") + shown[i];
    }
    return "Too long to be saved: " + names + " (" + BoundsText() + ").";
}

std::string MissingDialUpEntryText(const QelPublication& definition,
                                   const std::vector<std::string>& entry_names)
{
    if (definition.Connection.empty() ||
        std::any_of(entry_names.begin(), entry_names.end(),
                    [&](const std::string& e) { return SameFolded(e, definition.Connection); })) {
        return "";
    }
    return "The web site \"" + definition.GetName() +
           "\" is configured to use the dial-up connection \"" + definition.Connection +
           "\"\r\nThis connection no longer exists and it has been reset to use \"Any/LAN\".";
}

QelPublicationList::QelPublicationList()
    : store_(std::make_unique<TQelRegistry>(platform::RegistryRoot::CurrentUser, kBasePath))
{
    Load();
}

void QelPublicationList::Reload()
{
    items_.clear();
    load_problem_.clear();
    store_.reset();
    platform::CloseRegistryDatabase();
    store_ = std::make_unique<TQelRegistry>(platform::RegistryRoot::CurrentUser, kBasePath);
    Load();
}

void QelPublicationList::Load()
{
    {
        TQelRegistry vendor(platform::RegistryRoot::CurrentUser, kVendorPath);
        if (!vendor.SectionExists(kCurrentKey) && vendor.SectionExists(kOlderKey)) {
            vendor.MoveKey(kOlderKey, kCurrentKey);
        }
    }
    // The key and the stored name of each definition.
    std::vector<std::pair<std::string, std::string>> stored_names;
    store_->BeginReadPass();
    for (const std::string& key_name : store_->GetRootKeyNames()) {
        if (LoadPublication(key_name) != nullptr || LoadRenamedOutside(key_name) != nullptr) {
            stored_names.emplace_back(key_name, store_->ReadString(key_name, kNameValue));
        }
    }
    // A file that cannot be read must not pass for one without web sites: the user would be
    // sent through the first-start wizard, and what it made would never be stored.
    const uint32_t read_error = store_->EndReadPass();
    if (read_error != 0 || !platform::RegistryFault().empty()) {
        items_.clear();
        load_problem_ = platform::RegistryProblemText(read_error);
        return;
    }
    if (items_.empty()) {
        return;
    }
    // Linux lists no dial-up entries: every entry a definition names is gone, and a web site
    // that asked for one would be passed over by every Publish All.
    const std::vector<std::string> entry_names =
        GetDialUpEntryNames().value_or(std::vector<std::string>{});
    for (size_t i = 0; i < items_.size(); ++i) {
        QelPublication& definition = *items_[i];
        const auto& [stored_key, stored_name] = stored_names[i];
        if (stored_name != definition.GetName() || definition.KeyName() != stored_key ||
            !IsUsablePublicationName(stored_name) || stored_name.size() > kSettingTextBytesAtMost) {
            MendStoredName(definition, stored_key, stored_name);
        }
        const std::string missing_entry = MissingDialUpEntryText(definition, entry_names);
        if (!missing_entry.empty()) {
            definition.Connection.clear();
            SaveReset(definition, missing_entry, kMissingDialUpEntryCaption);
        }
    }
}

QelPublication* QelPublicationList::LoadRenamedOutside(const std::string& key_name)
{
    // A sub-key without a name is none of the program's; one whose name was changed outside it
    // (or that was copied under another key) still holds a web site's settings.
    if (store_->ReadString(key_name, kNameValue).empty()) {
        return nullptr;
    }
    auto definition = std::make_unique<QelPublication>();
    if (!definition->LoadFrom(key_name, *store_, true)) {
        return nullptr;
    }
    items_.push_back(std::move(definition));
    return items_.back().get();
}

void QelPublicationList::MendStoredName(QelPublication& definition,
                                        const std::string& stored_key,
                                        const std::string& stored_name)
{
    // A name ends at a NUL, as a stored text does wherever the system reads one.
    std::string cut = stored_name.substr(0, stored_name.find('\0'));
    const bool holds_nul = cut.size() != stored_name.size();
    const size_t cut_bytes = cut.size();
    const bool too_long = cut_bytes > kSettingTextBytesAtMost;
    // The key of a name that was cut is that of the name whole or of what is left of it.
    const bool renamed_outside =
        KeyNameOf(stored_name) != stored_key && KeyNameOf(cut) != stored_key;
    if (too_long) {
        cut = CutToBytes(cut, kSettingTextBytesAtMost);
    }
    const bool blank = !IsUsablePublicationName(cut);
    const std::string base = blank ? "Web site" : cut;
    // A name is taken by another web site, or by a key that is not this web site's.
    const auto taken = [&](const std::string& name) {
        const std::string key = KeyNameOf(name);
        return (key != stored_key && store_->SectionExists(key)) ||
               std::any_of(items_.begin(), items_.end(), [&](const auto& item) {
                   return item.get() != &definition && item->GetName() == name;
               });
    };
    std::string name = base;
    for (int n = 2; taken(name); ++n) {
        const std::string number = " (" + std::to_string(n) + ")";
        name = CutToBytes(base, kSettingTextBytesAtMost - number.size()) + number;
    }
    definition.SetName(name);

    std::string told;
    const std::string of_the_web_site =
        "The name of the web site \"" + ShownName(stored_name) + "\"";
    if (holds_nul) {
        told += of_the_web_site +
                " holds a NUL character, which no name may hold; it has been cut before that "
                "character.\r\n";
    }
    if (too_long) {
        told += of_the_web_site + " has " + std::to_string(cut_bytes) + " bytes, more than the " +
                std::to_string(kSettingTextBytesAtMost) +
                " a name may have; it has been cut to that length.\r\n";
    }
    if (blank) {
        told += of_the_web_site + " is blank, which no name may be.\r\n";
    }
    if (renamed_outside) {
        told += "The web site \"" + ShownName(stored_name) + "\" was stored under the key \"" +
                ShownName(stored_key) +
                "\", which is not that name's key: the name was changed outside Vantrel.\r\n";
    }
    if (name != base) {
        told += "Another web site is called \"" + ShownName(base) +
                "\", and no two web sites may share a name.\r\n";
    }
    told += "The web site is now called \"" + ShownName(name) + "\".";

    // Stored under the key of the name it now bears, with that name, so that the next start
    // finds nothing to mend.
    if (definition.KeyName() != stored_key &&
        !Stored(store_->MoveKey(stored_key, definition.KeyName()))) {
        TellStoreFailure(definition);
    } else if (!Stored(
                   store_->WriteString(definition.KeyName(), kNameValue, definition.GetName()))) {
        TellStoreFailure(definition);
    }
    platform::MessageBox(told, kInvalidSettingsCaption,
                         platform::kMbOk | platform::kMbIconExclamation);
}

void QelPublicationList::SaveReset(QelPublication& definition,
                                   const std::string& text,
                                   const char* caption)
{
    platform::MessageBox(text, caption, platform::kMbOk | platform::kMbIconExclamation);
    // A refused save leaves the stored values, so the next start tells the user again.
    if (!Stored(definition.SaveTo(*store_, false))) {
        TellStoreFailure(definition);
    }
}

bool QelPublicationList::Stored(bool ok)
{
    if (ok) {
        store_failure_told_ = false;
    }
    return ok;
}

void QelPublicationList::TellStoreFailure(const QelPublication& definition, bool asked_by_user)
{
    if (store_failure_told_ && !asked_by_user) {
        return;
    }
    store_failure_told_ = true;
    const uint32_t error =
        store_->LastError() != 0 ? store_->LastError() : platform::GetLastError();
    platform::MessageBox("The settings of the web site \"" + definition.GetName() +
                             "\" could not be saved. " + platform::RegistryProblemText(error) +
                             "\r\n\r\nWhat has not been saved is lost when Vantrel ends. The "
                             "web site is saved again at its next change; no further failure "
                             "is told until saving works again.",
                         "Settings not saved", platform::kMbOk | platform::kMbIconExclamation);
}

QelPublicationList::~QelPublicationList() = default;

QelPublication* QelPublicationList::Items(int32_t index) const
{
    if (index < 1 || index > Count()) {
        return nullptr;
    }
    return items_[static_cast<size_t>(index - 1)].get();
}

int32_t QelPublicationList::IndexOfName(std::string_view name) const
{
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i]->GetName() == name) {
            return static_cast<int32_t>(i + 1);
        }
    }
    return 0;
}

QelPublication* QelPublicationList::FindByName(std::string_view name) const
{
    return Items(IndexOfName(name));
}

QelPublication* QelPublicationList::LoadPublication(const std::string& key_name)
{
    auto definition = std::make_unique<QelPublication>();
    if (!definition->LoadFrom(key_name, *store_, false)) {
        return nullptr;
    }
    items_.push_back(std::move(definition));
    return items_.back().get();
}

bool QelPublicationList::Add(std::unique_ptr<QelPublication>& definition)
{
    if (definition == nullptr || !IsUsablePublicationName(definition->GetName()) ||
        Exists(definition->GetName())) {
        return false;
    }
    QelPublication* added = definition.get();
    items_.push_back(std::move(definition));
    // Writing the name creates the sub-key; SaveTo writes only into an existing one.
    return Stored(store_->WriteString(added->KeyName(), kNameValue, added->GetName()) &&
                  added->SaveTo(*store_, false));
}

bool QelPublicationList::AddNew(const std::string& name,
                                const std::string& source,
                                const std::string& server,
                                const std::string& username,
                                const std::string& password,
                                const std::string& connection,
                                uint8_t connection_type,
                                bool delete_old,
                                bool list_only,
                                uint16_t ftp_port)
{
    auto definition = std::make_unique<QelPublication>();
    // Every value at its default, but the wizard's web site ignores no files and uploads updated
    // files after the new ones.
    for (const PublicationSetting& setting : kPublicationSettings) {
        SetDefault(setting, *definition);
    }
    definition->IgnoreFiles.clear();
    definition->UploadModifiedNow = false;
    definition->SetName(name);
    definition->Source = source;
    definition->Server = server;
    definition->Username = username;
    definition->Password = password;
    definition->Connection = connection;
    definition->ConnectionType = connection_type;
    definition->DeleteOldFiles = list_only ? 2 : delete_old ? 1 : 0;
    definition->FtpPort = ftp_port;
    return Add(definition);
}

bool QelPublicationList::Update(const std::string& old_name, const QelPublication& definition)
{
    QelPublication* listed = FindByName(old_name);
    if (listed == nullptr) {
        return false;
    }
    const bool renamed = old_name != definition.GetName();
    if (renamed && !IsUsablePublicationName(definition.GetName())) {
        return false;
    }
    // Renaming onto another web site's name would overwrite that site's key.
    if (renamed && FindByName(definition.GetName()) != nullptr) {
        return false;
    }
    if (!renamed) {
        listed->Assign(definition);
        // A listed web site whose sub-key could not be made when it was added gets it now:
        // without it the save would write nothing and pass for done.
        if (!store_->SectionExists(listed->KeyName()) &&
            !store_->WriteString(listed->KeyName(), kNameValue, listed->GetName())) {
            return Stored(false);
        }
        return Stored(listed->SaveTo(*store_, false));
    }
    QelPublication previous;
    previous.Assign(*listed);
    listed->Assign(definition);
    const bool new_key_existed = store_->SectionExists(listed->KeyName());
    // The new sub-key is written whole before the old one goes: a crash in between leaves both
    // definitions, never neither.
    if (!store_->WriteString(listed->KeyName(), kNameValue, listed->GetName()) ||
        !listed->SaveTo(*store_, false)) {
        // A rename that cannot be written is undone, so the list shows what the registry holds.
        if (!new_key_existed) {
            store_->DeleteKey(listed->KeyName());
        }
        listed->Assign(previous);
        return Stored(false);
    }
    return Stored(store_->DeleteKey(previous.KeyName()));
}

bool QelPublicationList::Delete(const std::string& name)
{
    const int32_t index = IndexOfName(name);
    if (index <= 0) {
        return false;
    }
    const auto place = items_.begin() + (index - 1);
    const std::unique_ptr<QelPublication> removed = std::move(*place);
    items_.erase(place);
    return store_->DeleteKey(removed->KeyName());
}

bool QelPublicationList::MarkAll(bool only_unpublished)
{
    bool any = false;
    for (const auto& item : items_) {
        item->Marked = !only_unpublished || item->Status != StatusPublished;
        any = any || item->Marked;
    }
    return any;
}

int32_t QelPublicationList::CountMarked() const
{
    return static_cast<int32_t>(std::count_if(items_.begin(), items_.end(), [](const auto& item) {
        return item->Marked && !item->Disabled;
    }));
}

void QelPublicationList::ClearMarks()
{
    for (const auto& item : items_) {
        item->Marked = false;
    }
}

QelPublication* QelPublicationList::NextMarked()
{
    for (const auto& item : items_) {
        if (item->Marked && !item->Disabled) {
            item->Marked = false;
            return item.get();
        }
    }
    return nullptr;
}

}  // namespace vantrel
