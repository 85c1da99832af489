#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The current user's registry: keys holding sub-keys and typed values, kept in the SQLite
// database $XDG_CONFIG_HOME/Velko/registry.sqlite (~/.config when XDG_CONFIG_HOME is unset or not
// absolute), file mode 0600 because it holds the stored passwords. Key paths are "\" separated
// from the hive's root; a leading "\" and empty components are ignored. Key and value names
// compare exactly, letter case included. Every write is one transaction that is on disk when the
// call returns. A call waits a few seconds for a lock that another process holds on the file
// before it gives up with last error 32. A database that cannot be opened, is damaged, is no
// settings database or stays locked while it is first opened is never written: every call fails
// (last error 1011, 1009 or 32) and RegistryFault() says which file is at fault, why, and what to
// do. Calls may come from any thread.
namespace vantrel::platform {

inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;

enum class RegistryRoot : uint32_t
{
    CurrentUser = 0x80000001,
};

class RegistryDatabase;

// An open key. Its calls act on the key wherever it is moved; once the key is deleted (through
// any handle or process) they fail with last error 1018.
class RegistryKey
{
public:
    RegistryKey(std::shared_ptr<RegistryDatabase> database, int64_t id, std::string path);
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Whether the key is still in the registry under the path it was opened by (false, 1018,
    // once it was deleted or moved away).
    bool Exists() const;

    // False with last error 2 when the value is missing.
    bool QueryValue(std::string_view name, uint32_t* type, std::string* data) const;
    bool SetValue(std::string_view name, uint32_t type, std::string_view data);
    // False with last error 2 when there was no such value.
    bool DeleteValue(std::string_view name);
    // Names of the sub-keys, sorted by name with ASCII letters folded, then by exact name.
    bool EnumSubKeys(std::vector<std::string>* names) const;

private:
    std::shared_ptr<RegistryDatabase> database_;
    int64_t id_;
    std::string path_;
};

// Null with last error 2 when the key does not exist.
std::unique_ptr<RegistryKey> OpenRegistryKey(RegistryRoot root, std::string_view path);
// Opens the key, creating it and any missing parents in one transaction.
std::unique_ptr<RegistryKey> CreateRegistryKey(RegistryRoot root, std::string_view path);

struct RegistryValue
{
    std::string name;
    uint32_t type = kRegNone;
    std::string data;
};

// Every value of the key, in no particular order, read in one step: the key as one moment of
// the file holds it. False with last error 2 when the key does not exist.
bool ReadRegistryKeyValues(RegistryRoot root,
                           std::string_view path,
                           std::vector<RegistryValue>* values);

// Deletes a key with every sub-key and value below it. The hive's root is refused (87); a
// missing key fails with 2.
bool DeleteRegistryTree(RegistryRoot root, std::string_view path);

// Moves a key with everything below it to a new path, creating the new path's missing parents,
// in one transaction: after a crash either the old or the new key holds the whole tree. Fails
// with 2 when `from` is missing, 183 when `to` exists, 87 for the root or a target inside `from`.
bool MoveRegistryTree(RegistryRoot root, std::string_view from, std::string_view to);

// The database file that the next call opens, in POSIX form.
std::string RegistryDatabasePath();

// Empty while the database can be used; else a text naming the file, its fault and what the user
// can do about it, for the program to show.
std::string RegistryFault();

// What a failed call's last error means for the settings file, as a text that names the file:
// RegistryFault() when the database has a fault, else the error's own account.
std::string RegistryProblemText(uint32_t error);

// How long a call waits for another process's lock before it gives up (5 s unless changed);
// takes effect when the database is next opened. Returns the wait it replaces. For tests.
std::chrono::milliseconds SetRegistryLockWait(std::chrono::milliseconds wait);

// Drops this process's connection to the database, so that the next call opens the file
// afresh; keys still open keep theirs until they go.
void CloseRegistryDatabase();

// How many keys OpenRegistryKey and CreateRegistryKey have opened in this process, for tests of
// the settings store's open-key cache.
uint64_t RegistryKeyOpenCount();

}  // namespace vantrel::platform
