#include "foundation/QelRegistryU.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "foundation/QelStringFunctions.h"
#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/Profile.h"

namespace vantrel {
namespace {

// Registry numbers and date-times are stored little-endian, as the registry keeps them.
std::string LittleEndianBytes(uint64_t bits, size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    }
    return bytes;
}

uint64_t FromLittleEndianBytes(const std::string& bytes)
{
    uint64_t bits = 0;
    for (size_t i = 0; i < bytes.size() && i < 8; ++i) {
        bits |= uint64_t{static_cast<uint8_t>(bytes[i])} << (8 * i);
    }
    return bits;
}

std::string DwordBytes(int32_t value)
{
    return LittleEndianBytes(static_cast<uint32_t>(value), 4);
}

int32_t DwordFromBytes(const std::string& bytes)
{
    return static_cast<int32_t>(static_cast<uint32_t>(FromLittleEndianBytes(bytes)));
}

std::string DateTimeBytes(TDateTime value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return LittleEndianBytes(bits, 8);
}

TDateTime DateTimeFromBytes(const std::string& bytes)
{
    const uint64_t bits = FromLittleEndianBytes(bytes);
    TDateTime value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = AsciiLowerChar(c);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

}  // namespace

bool ParseSettingsFileInteger(std::string_view text, int32_t* value)
{
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        text.remove_prefix(1);
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        if (text.size() > 8) {
            return false;
        }
        uint32_t bits = 0;
        for (char c : text) {
            const int digit = HexDigit(c);
            if (digit < 0) {
                return false;
            }
            bits = bits << 4 | static_cast<uint32_t>(digit);
        }
        *value = static_cast<int32_t>(negative ? 0u - bits : bits);
        return true;
    }
    if (text.empty()) {
        return false;
    }
    int64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + (c - '0');
        if (number > int64_t{std::numeric_limits<int32_t>::max()} + 1) {
            return false;
        }
    }
    number = negative ? -number : number;
    if (number > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    *value = static_cast<int32_t>(number);
    return true;
}

namespace {

std::string WithoutLineBreaks(const std::string& text)
{
    std::string flat;
    flat.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            flat += text[i];
        } else if (i == 0 || (text[i - 1] != '\r' && text[i - 1] != '\n')) {
            flat += ' ';
        }
    }
    return flat;
}

}  // namespace

TQelRegistry::TQelRegistry(platform::RegistryRoot root, std::string base_path)
    : root_(root)
    , base_path_(std::move(base_path))
{}

TQelRegistry::~TQelRegistry() = default;

std::string TQelRegistry::KeyPath(const std::string& section) const
{
    return section.empty() ? base_path_ : base_path_ + "\\" + section;
}

platform::RegistryKey* TQelRegistry::OpenKey(const std::string& section, bool create)
{
    const std::string path = KeyPath(section);
    // A key deleted since it was opened (by this store or any other) is opened afresh, so a
    // write after a deletion creates the key again instead of writing into nothing.
    if (open_key_ != nullptr && path == open_key_path_ && open_key_->Exists()) {
        return open_key_.get();
    }
    auto key =
        create ? platform::CreateRegistryKey(root_, path) : platform::OpenRegistryKey(root_, path);
    if (key == nullptr) {
        return nullptr;
    }
    open_key_ = std::move(key);
    open_key_path_ = path;
    return open_key_.get();
}

bool TQelRegistry::QueryValue(const std::string& section,
                              const std::string& name,
                              uint32_t* type,
                              std::string* data)
{
    if (!MayRead()) {
        return false;
    }
    if (read_pass_) {
        const SectionValues* read = PassSection(section);
        if (read == nullptr) {
            return false;
        }
        const auto found = std::find_if(read->values.begin(), read->values.end(),
                                        [&](const auto& value) { return value.name == name; });
        if (found == read->values.end()) {
            return false;
        }
        *type = found->type;
        *data = found->data;
        return true;
    }
    platform::RegistryKey* key = OpenKey(section, false);
    if (key == nullptr || !key->QueryValue(name, type, data)) {
        ReadFailed();
        return false;
    }
    return true;
}

void TQelRegistry::ReadFailed()
{
    const uint32_t error = platform::GetLastError();
    if (read_pass_ && read_error_ == 0 && error != platform::kErrorFileNotFound &&
        error != platform::kErrorKeyDeleted) {
        read_error_ = error;
    }
}

const TQelRegistry::SectionValues* TQelRegistry::PassSection(const std::string& section)
{
    if (pass_section_.has_value() && pass_section_->section == section) {
        return &*pass_section_;
    }
    pass_section_.reset();
    SectionValues read;
    read.section = section;
    read.exists = platform::ReadRegistryKeyValues(root_, KeyPath(section), &read.values);
    if (!read.exists && platform::GetLastError() != platform::kErrorFileNotFound) {
        ReadFailed();
        return nullptr;
    }
    return &pass_section_.emplace(std::move(read));
}

void TQelRegistry::BeginReadPass()
{
    read_pass_ = true;
    read_error_ = 0;
    ForgetPassSection();
}

uint32_t TQelRegistry::EndReadPass()
{
    read_pass_ = false;
    ForgetPassSection();
    return std::exchange(read_error_, 0);
}

bool TQelRegistry::SetValue(const std::string& section,
                            const std::string& name,
                            uint32_t type,
                            const std::string& data)
{
    ForgetPassSection();
    platform::RegistryKey* key = OpenKey(section, true);
    if (key == nullptr || !key->SetValue(name, type, data)) {
        return WriteFailed("Failed to set data for '" + name + "'");
    }
    return true;
}

bool TQelRegistry::WriteFailed(std::string text)
{
    last_error_ = platform::GetLastError();
    last_error_text_ = std::move(text);
    return false;
}

bool TQelRegistry::SectionExists(const std::string& section)
{
    if (!MayRead()) {
        return false;
    }
    if (read_pass_) {
        const SectionValues* read = PassSection(section);
        return read != nullptr && read->exists;
    }
    if (OpenKey(section, false) == nullptr) {
        ReadFailed();
        return false;
    }
    return true;
}

bool TQelRegistry::ValueExists(const std::string& section, const std::string& name)
{
    uint32_t type = 0;
    std::string data;
    return QueryValue(section, name, &type, &data);
}

void TQelRegistry::DeleteValue(const std::string& section, const std::string& name)
{
    ForgetPassSection();
    if (platform::RegistryKey* key = OpenKey(section, false); key != nullptr) {
        key->DeleteValue(name);
    }
}

TDateTime TQelRegistry::ReadDateTime(const std::string& section, const std::string& name)
{
    uint32_t type = 0;
    std::string data;
    if (!QueryValue(section, name, &type, &data) || type != platform::kRegBinary ||
        data.size() != 8) {
        return 0;
    }
    return DateTimeFromBytes(data);
}

int32_t TQelRegistry::ReadInteger(const std::string& section,
                                  const std::string& name,
                                  int32_t default_value)
{
    uint32_t type = 0;
    std::string data;
    if (!QueryValue(section, name, &type, &data)) {
        return 0;
    }
    if (type != platform::kRegDword || data.size() != 4) {
        return default_value;
    }
    return DwordFromBytes(data);
}

std::string TQelRegistry::ReadString(const std::string& section, const std::string& name)
{
    uint32_t type = 0;
    std::string data;
    if (!QueryValue(section, name, &type, &data) ||
        (type != platform::kRegSz && type != platform::kRegExpandSz)) {
        return "";
    }
    return data;
}

bool TQelRegistry::WriteDateTime(const std::string& section,
                                 const std::string& name,
                                 TDateTime value)
{
    return SetValue(section, name, platform::kRegBinary, DateTimeBytes(value));
}

bool TQelRegistry::WriteInteger(const std::string& section, const std::string& name, int32_t value)
{
    return SetValue(section, name, platform::kRegDword, DwordBytes(value));
}

bool TQelRegistry::WriteRootString(const std::string& name, const std::string& value)
{
    return WriteString("", name, value);
}

bool TQelRegistry::WriteString(const std::string& section,
                               const std::string& name,
                               const std::string& value)
{
    return SetValue(section, name, platform::kRegSz, value);
}

bool TQelRegistry::ReadBool(const std::string& section, const std::string& name, bool default_value)
{
    uint32_t type = 0;
    std::string data;
    if (!QueryValue(section, name, &type, &data) || type != platform::kRegDword ||
        data.size() != 4) {
        return default_value;
    }
    return DwordFromBytes(data) != 0;
}

bool TQelRegistry::WriteBool(const std::string& section, const std::string& name, bool value)
{
    return WriteInteger(section, name, value ? 1 : 0);
}

bool TQelRegistry::ReadRootBool(const std::string& name, bool default_value)
{
    return ReadBool("", name, default_value);
}

bool TQelRegistry::WriteRootBool(const std::string& name, bool value)
{
    return WriteBool("", name, value);
}

int32_t TQelRegistry::ReadRootInteger(const std::string& name)
{
    return ReadInteger("", name, 0);
}

bool TQelRegistry::WriteRootInteger(const std::string& name, int32_t value)
{
    return WriteInteger("", name, value);
}

std::vector<std::string> TQelRegistry::GetKeyNames(const std::string& section)
{
    std::vector<std::string> names;
    if (!MayRead()) {
        return names;
    }
    platform::RegistryKey* key = OpenKey(section, false);
    if (key == nullptr || !key->EnumSubKeys(&names)) {
        ReadFailed();
    }
    return names;
}

std::vector<std::string> TQelRegistry::GetRootKeyNames()
{
    return GetKeyNames("");
}

bool TQelRegistry::DeleteKey(const std::string& section)
{
    if (section.empty()) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    ForgetPassSection();
    return platform::DeleteRegistryTree(root_, KeyPath(section));
}

bool TQelRegistry::MoveKey(const std::string& old_section, const std::string& new_section)
{
    if (old_section.empty() || new_section.empty()) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    ForgetPassSection();
    return platform::MoveRegistryTree(root_, KeyPath(old_section), KeyPath(new_section));
}

QelIniReg::QelIniReg(std::string file_name)
    : TQelRegistry(platform::RegistryRoot::CurrentUser, "")
    , file_name_(std::move(file_name))
{}

QelIniReg::~QelIniReg() = default;

bool QelIniReg::SectionExists(const std::string& section)
{
    std::vector<std::string> names;
    return platform::ReadProfileSection(file_name_, section, &names) && !names.empty();
}

bool QelIniReg::ValueExists(const std::string& section, const std::string& name)
{
    std::vector<std::string> names;
    if (!platform::ReadProfileSection(file_name_, section, &names)) {
        return false;
    }
    const std::string folded = AsciiLowerCase(name);
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return AsciiLowerCase(n) == folded; });
}

void QelIniReg::DeleteValue(const std::string& section, const std::string& name)
{
    platform::DeleteProfileString(file_name_, section, name);
}

TDateTime QelIniReg::ReadDateTime(const std::string& section, const std::string& name)
{
    const std::string text = ReadString(section, name);
    double value = 0;
    if (text.empty() || !platform::TryParseDateTime(text, &value)) {
        return 0;
    }
    return value;
}

int32_t QelIniReg::ReadInteger(const std::string& section,
                               const std::string& name,
                               int32_t default_value)
{
    std::string text;
    int32_t value = 0;
    if (!platform::ReadProfileString(file_name_, section, name, &text) ||
        !ParseSettingsFileInteger(text, &value)) {
        return default_value;
    }
    return value;
}

std::string QelIniReg::ReadString(const std::string& section, const std::string& name)
{
    std::string value;
    if (!platform::ReadProfileString(file_name_, section, name, &value)) {
        return "";
    }
    return value;
}

bool QelIniReg::WriteDateTime(const std::string& section, const std::string& name, TDateTime value)
{
    return WriteString(section, name, platform::FormatDateTime("c", value));
}

bool QelIniReg::WriteInteger(const std::string& section, const std::string& name, int32_t value)
{
    return WriteString(section, name, std::to_string(value));
}

bool QelIniReg::WriteString(const std::string& section,
                            const std::string& name,
                            const std::string& value)
{
    if (!platform::WriteProfileString(file_name_, section, name, WithoutLineBreaks(value))) {
        return WriteFailed("Unable to write to " + file_name_);
    }
    return true;
}

bool QelIniReg::ReadBool(const std::string& section, const std::string& name, bool default_value)
{
    return ReadInteger(section, name, default_value ? 1 : 0) != 0;
}

bool QelIniReg::WriteBool(const std::string& section, const std::string& name, bool value)
{
    return WriteString(section, name, value ? "1" : "0");
}

std::vector<std::string> QelIniReg::GetKeyNames(const std::string&)
{
    return {};
}

bool QelIniReg::DeleteKey(const std::string&)
{
    platform::SetLastError(platform::kErrorInvalidFunction);
    return false;
}

bool QelIniReg::MoveKey(const std::string&, const std::string&)
{
    platform::SetLastError(platform::kErrorInvalidFunction);
    return false;
}

}  // namespace vantrel
