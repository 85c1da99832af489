#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/QelDateFunctions.h"
#include "platform/Registry.h"

// The settings store: typed values by section and value name, in the registry (TQelRegistry: one
// sub-key of the base path per section) or in an INI-style settings file (QelIniReg: one file
// section per section). Reads never fail: a missing or unreadable value gives the missing-value
// result of each operation. Writes return false when the value was not written; the store's
// LastErrorText() then says why. A store is used by one thread at a time, the main thread.
namespace vantrel {

// An integer text as a settings file holds it: an optional sign, then decimal digits or "0x" and
// up to eight hexadecimal digits (taken as the 32 bits of the number), nothing else.
bool ParseSettingsFileInteger(std::string_view text, int32_t* value);

class TQelRegistry
{
public:
    // `base_path` is the key path under the root, beginning with "\".
    TQelRegistry(platform::RegistryRoot root, std::string base_path);
    virtual ~TQelRegistry();
    TQelRegistry(const TQelRegistry&) = delete;
    TQelRegistry& operator=(const TQelRegistry&) = delete;

    // Whether the section's key exists; it is never created here.
    virtual bool SectionExists(const std::string& section);
    virtual bool ValueExists(const std::string& section, const std::string& name);
    // Failures are swallowed: a value that cannot be deleted stays as it was.
    virtual void DeleteValue(const std::string& section, const std::string& name);
    // 0 when the key or value is missing or is not an 8-byte date-time.
    virtual TDateTime ReadDateTime(const std::string& section, const std::string& name);
    // 0 when the key or value is missing; `default_value` only for a value of another kind.
    virtual int32_t ReadInteger(const std::string& section,
                                const std::string& name,
                                int32_t default_value);
    // Empty when missing or not a text.
    virtual std::string ReadString(const std::string& section, const std::string& name);
    [[nodiscard]] virtual bool WriteDateTime(const std::string& section,
                                             const std::string& name,
                                             TDateTime value);
    [[nodiscard]] virtual bool WriteInteger(const std::string& section,
                                            const std::string& name,
                                            int32_t value);
    [[nodiscard]] virtual bool WriteRootString(const std::string& name, const std::string& value);
    [[nodiscard]] virtual bool WriteString(const std::string& section,
                                           const std::string& name,
                                           const std::string& value);
    // The default when the key or value is missing or is not a number.
    virtual bool ReadBool(const std::string& section, const std::string& name, bool default_value);
    [[nodiscard]] virtual bool WriteBool(const std::string& section,
                                         const std::string& name,
                                         bool value);

    bool ReadRootBool(const std::string& name, bool default_value);
    [[nodiscard]] bool WriteRootBool(const std::string& name, bool value);
    int32_t ReadRootInteger(const std::string& name);
    [[nodiscard]] bool WriteRootInteger(const std::string& name, int32_t value);

    // Names of the sub-keys of the section's key, sorted by ASCII-folded name, then exact name;
    // empty when the key cannot be opened.
    virtual std::vector<std::string> GetKeyNames(const std::string& section);
    std::vector<std::string> GetRootKeyNames();
    // Deletes the section's key with everything below it. The empty section, which is the base
    // key holding every other section, is refused.
    virtual bool DeleteKey(const std::string& section);
    // Moves the old section's key with everything below it to the new section, when the old
    // exists and the new does not; in one step, so a crash never leaves half a copy. Empty
    // sections are refused.
    virtual bool MoveKey(const std::string& old_section, const std::string& new_section);

    // Why the last write failed, as the settings store reports it ("Failed to set data for
    // 'Name'"), and the platform's code.
    const std::string& LastErrorText() const { return last_error_text_; }
    uint32_t LastError() const { return last_error_; }

    // A pass of reads whose missing results must not be mistaken for missing values (a load of
    // every web site). While it lasts, the first read that fails for another reason than a
    // missing key or value is remembered, and every later read of the registry finds nothing at
    // once instead of waiting on a locked file again. EndReadPass returns that read's error, 0
    // when every read could ask. The first read of a section in the pass reads all its values
    // in one step; the pass's further reads of that section are answered from them, until a
    // read of another section or a write or deletion through this store.
    void BeginReadPass();
    uint32_t EndReadPass();

protected:
    // Records a failed write of `name` and returns false.
    bool WriteFailed(std::string text);

private:
    std::string KeyPath(const std::string& section) const;
    // The section's key through the open-key cache; null (the cache unchanged) when it cannot
    // be opened, or, with `create`, created.
    platform::RegistryKey* OpenKey(const std::string& section, bool create);
    bool QueryValue(const std::string& section,
                    const std::string& name,
                    uint32_t* type,
                    std::string* data);
    bool SetValue(const std::string& section,
                  const std::string& name,
                  uint32_t type,
                  const std::string& data);

    // The values of the section the read pass read last.
    struct SectionValues
    {
        std::string section;
        bool exists = false;
        std::vector<platform::RegistryValue> values;
    };
    // The section's values for a read of the pass, read whole when it is not the last one read;
    // null when they could not be read.
    const SectionValues* PassSection(const std::string& section);
    void ForgetPassSection() { pass_section_.reset(); }

    platform::RegistryRoot root_;
    std::string base_path_;
    std::string open_key_path_;
    std::unique_ptr<platform::RegistryKey> open_key_;
    // Whether a read may ask the registry; false once a read of the pass has failed.
    bool MayRead() const { return !read_pass_ || read_error_ == 0; }
    // Records why a read found nothing when that is not a missing key or value.
    void ReadFailed();

    std::string last_error_text_;
    uint32_t last_error_ = 0;
    bool read_pass_ = false;
    uint32_t read_error_ = 0;
    std::optional<SectionValues> pass_section_;
};

// The same typed operations over an INI-style settings file: every value is a text (integers in
// decimal, Booleans as "1" or "0", date-times in the short date and long time formats). The
// registry operations (GetKeyNames, DeleteKey, MoveKey) do nothing here: the inherited registry
// part has an empty base path, so they would reach the user's whole registry.
class QelIniReg : public TQelRegistry
{
public:
    // `file_name` in the system's form; the file is read and written at every call.
    explicit QelIniReg(std::string file_name);
    ~QelIniReg() override;

    bool SectionExists(const std::string& section) override;
    bool ValueExists(const std::string& section, const std::string& name) override;
    void DeleteValue(const std::string& section, const std::string& name) override;
    TDateTime ReadDateTime(const std::string& section, const std::string& name) override;
    // Decimal, or hexadecimal after "0x"; the default when missing or not a number.
    int32_t ReadInteger(const std::string& section,
                        const std::string& name,
                        int32_t default_value) override;
    std::string ReadString(const std::string& section, const std::string& name) override;
    [[nodiscard]] bool WriteDateTime(const std::string& section,
                                     const std::string& name,
                                     TDateTime value) override;
    [[nodiscard]] bool WriteInteger(const std::string& section,
                                    const std::string& name,
                                    int32_t value) override;
    // A line break cannot live in a settings file line: each run of CR and LF is written as one
    // blank.
    [[nodiscard]] bool WriteString(const std::string& section,
                                   const std::string& name,
                                   const std::string& value) override;
    bool ReadBool(const std::string& section, const std::string& name, bool default_value) override;
    [[nodiscard]] bool WriteBool(const std::string& section,
                                 const std::string& name,
                                 bool value) override;

    std::vector<std::string> GetKeyNames(const std::string& section) override;
    bool DeleteKey(const std::string& section) override;
    bool MoveKey(const std::string& old_section, const std::string& new_section) override;

    const std::string& FileName() const { return file_name_; }

private:
    std::string file_name_;
};

}  // namespace vantrel
