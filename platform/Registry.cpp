#include "platform/Registry.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sqlite3.h>
#include <unistd.h>
#include <unordered_map>

#include <sys/stat.h>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace vantrel::platform {
namespace {

// The row every key of the current user's hive descends from.
constexpr int64_t kCurrentUserRootId = 1;

std::atomic<uint64_t> key_open_count{0};

// Long enough for another process's write to end, short enough for a start that gives up to say
// so soon.
std::atomic<int64_t> lock_wait_ms{5000};

// How an SQLite failure while the file is first opened is told: a lock that outlasts the wait is
// no damage, and a file of another kind is no damaged settings file.
struct OpenFault
{
    uint32_t code;
    const char* what;
};

OpenFault OpenFaultFromSqlite(int rc)
{
    switch (rc & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return {kErrorSharingViolation, "is locked by another program"};
        case SQLITE_NOTADB:
            return {kErrorBadDatabase, "is not a settings database"};
        case SQLITE_CORRUPT:
            return {kErrorBadDatabase, "is damaged"};
        default:
            return {kErrorCantOpen, "cannot be opened"};
    }
}

std::string WaitText()
{
    const int64_t ms = lock_wait_ms;
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " seconds"
                          : std::to_string(ms) + " milliseconds";
}

// What the user can do about a fault of that kind.
std::string FaultAdvice(uint32_t code)
{
    switch (code) {
        case kErrorSharingViolation:
            return "Vantrel waited " + WaitText() +
                   " for it in vain. Close that program, or wait until it is done.";
        case kErrorBadDatabase:
            return "Vantrel has not changed it and writes nothing into it. Move it aside, or put "
                   "back a copy from a backup; without the file Vantrel starts with no web sites.";
        default:
            return "Make sure that the file and its folder belong to you and can be read and "
                   "written.";
    }
}

using KeyPath = std::vector<std::string>;

KeyPath SplitKeyPath(std::string_view path)
{
    KeyPath components;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end > start) {
            components.emplace_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return components;
}

std::string JoinKeyPath(const KeyPath& components)
{
    std::string path;
    for (const auto& component : components) {
        path += path.empty() ? "" : "\\";
        path += component;
    }
    return path;
}

// Maps an SQLite result to our numbering; damage is told apart so that it can stop every write.
uint32_t ErrorFromSqlite(int rc)
{
    if (rc == SQLITE_CONSTRAINT_FOREIGNKEY) {
        return kErrorKeyDeleted;
    }
    switch (rc & 0xff) {
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return kErrorBadDatabase;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return kErrorAccessDenied;
        case SQLITE_FULL:
            return kErrorDiskFull;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return kErrorSharingViolation;
        case SQLITE_NOMEM:
            return kErrorNotEnoughMemory;
        case SQLITE_CANTOPEN:
            return kErrorCantOpen;
        default:
            return kErrorRegistryIoFailed;
    }
}

// The statements a connection keeps prepared for its life, by the address of their text (each a
// literal of this file), so that a call that runs many of them compiles none.
class PreparedStatements
{
public:
    PreparedStatements() = default;
    ~PreparedStatements() { Clear(); }
    PreparedStatements(const PreparedStatements&) = delete;
    PreparedStatements& operator=(const PreparedStatements&) = delete;

    // The statement, prepared on its first use; null with the error in `rc`.
    sqlite3_stmt* Get(sqlite3* db, const char* sql, int* rc)
    {
        *rc = SQLITE_OK;
        sqlite3_stmt*& stmt = statements_[sql];
        if (stmt == nullptr) {
            *rc = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        }
        return stmt;
    }
    // Finalises every statement: before the connection closes.
    void Clear()
    {
        for (auto& [sql, stmt] : statements_) {
            sqlite3_finalize(stmt);
        }
        statements_.clear();
    }

private:
    std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

// One prepared statement with positional binding: one of its own, finalised when it goes, or
// one of the connection's kept statements, reset and unbound when it goes. No two of one kept
// statement may be alive at once.
class Statement
{
public:
    Statement(sqlite3* db, const char* sql)
        : owned_(true)
    {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    Statement(PreparedStatements& kept, sqlite3* db, const char* sql)
        : owned_(false)
    {
        stmt_ = kept.Get(db, sql, &rc_);
    }
    ~Statement()
    {
        if (owned_) {
            sqlite3_finalize(stmt_);
        } else if (stmt_ != nullptr) {
            // A statement left stepping would hold its read lock.
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int64_t value)
    {
        Check(sqlite3_bind_int64(stmt_, ++index_, value));
        return *this;
    }
    // Texts and data bind as bytes, never as NULL, whatever they hold.
    Statement& BindText(std::string_view text)
    {
        Check(sqlite3_bind_text(stmt_, ++index_, text.empty() ? "" : text.data(),
                                static_cast<int>(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& BindBlob(std::string_view data)
    {
        Check(sqlite3_bind_blob(stmt_, ++index_, data.empty() ? "" : data.data(),
                                static_cast<int>(data.size()), SQLITE_TRANSIENT));
        return *this;
    }

    // SQLITE_ROW or SQLITE_DONE, or the error (kept in rc()).
    int Step()
    {
        if (rc_ != SQLITE_OK && rc_ != SQLITE_ROW && rc_ != SQLITE_DONE) {
            return rc_;
        }
        rc_ = sqlite3_step(stmt_);
        return rc_;
    }
    // Runs a statement that returns no rows; false on error.
    bool Run() { return Step() == SQLITE_DONE; }
    int rc() const { return rc_; }

    int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string Bytes(int column) const
    {
        const void* bytes = sqlite3_column_blob(stmt_, column);
        const int size = sqlite3_column_bytes(stmt_, column);
        return bytes == nullptr ? std::string()
                                : std::string(static_cast<const char*>(bytes), size);
    }

private:
    void Check(int rc)
    {
        if (rc_ == SQLITE_OK && rc != SQLITE_OK) {
            rc_ = rc;
        }
    }

    sqlite3_stmt* stmt_ = nullptr;
    const bool owned_;
    int rc_ = SQLITE_OK;
    int index_ = 0;
};

constexpr const char* kSchema =
    "CREATE TABLE keys("
    " id INTEGER PRIMARY KEY,"
    " parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL,"
    " UNIQUE(parent, name));"
    "CREATE TABLE key_values("
    " key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(key, name)) WITHOUT ROWID;"
    "INSERT INTO keys(id, parent, name) VALUES(1, NULL, 'HKEY_CURRENT_USER');";

// Makes every missing folder of a POSIX path, private to the user.
bool MakeFolders(const std::string& folder)
{
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string prefix = folder.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat st = {};
    if (stat(folder.c_str(), &st) != 0) {
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

}  // namespace

// The open database file with its connection. Every call takes the lock, so handles of several
// threads may share one connection.
class RegistryDatabase : public std::enable_shared_from_this<RegistryDatabase>
{
public:
    explicit RegistryDatabase(std::string path)
        : path_(std::move(path))
    {
        std::lock_guard lock(mutex_);
        OpenFile();
    }
    ~RegistryDatabase()
    {
        prepared_.Clear();
        sqlite3_close_v2(db_);
    }
    RegistryDatabase(const RegistryDatabase&) = delete;
    RegistryDatabase& operator=(const RegistryDatabase&) = delete;

    const std::string& Path() const { return path_; }

    std::string Fault()
    {
        std::lock_guard lock(mutex_);
        return fault_;
    }

    std::unique_ptr<RegistryKey> Open(std::string_view path, bool create)
    {
        std::lock_guard lock(mutex_);
        if (!Usable()) {
            return nullptr;
        }
        const KeyPath components = SplitKeyPath(path);
        int64_t id = 0;
        if (!Walk(components, components.size(), false, &id)) {
            if (!create || GetLastError() != kErrorFileNotFound || !Begin()) {
                return nullptr;
            }
            if (!Walk(components, components.size(), true, &id) || !Commit()) {
                Rollback();
                return nullptr;
            }
        }
        ++key_open_count;
        return std::make_unique<RegistryKey>(shared_from_this(), id, JoinKeyPath(components));
    }

    // Whether the key is still the one its path names: deleted or moved away, it is not.
    bool KeyStillAt(int64_t id, std::string_view path)
    {
        std::lock_guard lock(mutex_);
        if (!Usable()) {
            return false;
        }
        const KeyPath components = SplitKeyPath(path);
        int64_t found = 0;
        if (!Walk(components, components.size(), false, &found) || found != id) {
            SetLastError(kErrorKeyDeleted);
            return false;
        }
        return true;
    }

    bool QueryValue(int64_t id, std::string_view name, uint32_t* type, std::string* data)
    {
        std::lock_guard lock(mutex_);
        if (!Usable()) {
            return false;
        }
        Statement select(prepared_, db_,
                         "SELECT type, data FROM key_values WHERE key = ? AND name = ?");
        select.Bind(id).BindText(name);
        const int rc = select.Step();
        if (rc == SQLITE_ROW) {
            *type = static_cast<uint32_t>(select.Int(0));
            *data = select.Bytes(1);
            return true;
        }
        if (rc != SQLITE_DONE) {
            return Fail(rc);
        }
        return MissingIn(id);
    }

    // The key's path is walked and its values read inside one read transaction, so what is
    // read is the key as one moment of the file holds it, for the cost of one lock.
    bool ReadKeyValues(std::string_view path, std::vector<RegistryValue>* values)
    {
        std::lock_guard lock(mutex_);
        values->clear();
        if (!Usable()) {
            return false;
        }
        int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            return Fail(rc);
        }
        const KeyPath components = SplitKeyPath(path);
        int64_t id = 0;
        bool ok = Walk(components, components.size(), false, &id);
        if (ok) {
            Statement select(prepared_, db_,
                             "SELECT name, type, data FROM key_values WHERE key = ?");
            select.Bind(id);
            while ((rc = select.Step()) == SQLITE_ROW) {
                values->push_back(
                    {select.Bytes(0), static_cast<uint32_t>(select.Int(1)), select.Bytes(2)});
            }
            ok = rc == SQLITE_DONE || Fail(rc);
        }
        const uint32_t error = GetLastError();
        // A read has nothing to keep: ending it cannot lose anything.
        Rollback();
        if (!ok) {
            values->clear();
            SetLastError(error);
        }
        return ok;
    }

    bool SetValue(int64_t id, std::string_view name, uint32_t type, std::string_view data)
    {
        std::lock_guard lock(mutex_);
        if (!Usable()) {
            return false;
        }
        Statement upsert(prepared_, db_,
                         "INSERT INTO key_values(key, name, type, data) VALUES(?, ?, ?, ?)"
                         " ON CONFLICT(key, name) DO UPDATE SET type = excluded.type,"
                         " data = excluded.data");
        upsert.Bind(id).BindText(name).Bind(type).BindBlob(data);
        return upsert.Run() || Fail(upsert.rc());
    }

    bool DeleteValue(int64_t id, std::string_view name)
    {
        std::lock_guard lock(mutex_);
        if (!Usable()) {
            return false;
        }
        Statement erase(prepared_, db_, "DELETE FROM key_values WHERE key = ? AND name = ?");
        erase.Bind(id).BindText(name);
        if (!erase.Run()) {
            return Fail(erase.rc());
        }
        return sqlite3_changes(db_) > 0 || MissingIn(id);
    }

    bool EnumSubKeys(int64_t id, std::vector<std::string>* names)
    {
        std::lock_guard lock(mutex_);
        names->clear();
        if (!Usable()) {
            return false;
        }
        if (!KeyRowExists(id)) {
            return false;
        }
        // NOCASE folds the ASCII letters only, as the listing order wants.
        Statement select(
            prepared_, db_,
            "SELECT name FROM keys WHERE parent = ? ORDER BY name COLLATE NOCASE, name");
        select.Bind(id);
        int rc;
        while ((rc = select.Step()) == SQLITE_ROW) {
            names->push_back(select.Bytes(0));
        }
        return rc == SQLITE_DONE || Fail(rc);
    }

    bool DeleteTree(std::string_view path)
    {
        std::lock_guard lock(mutex_);
        if (!Usable()) {
            return false;
        }
        const KeyPath components = SplitKeyPath(path);
        if (components.empty()) {
            SetLastError(kErrorInvalidParameter);
            return false;
        }
        int64_t id = 0;
        if (!Walk(components, components.size(), false, &id)) {
            return false;
        }
        // The foreign keys cascade through every sub-key and value in this one statement.
        Statement erase(prepared_, db_, "DELETE FROM keys WHERE id = ?");
        erase.Bind(id);
        return erase.Run() || Fail(erase.rc());
    }

    bool MoveTree(std::string_view from, std::string_view to)
    {
        std::lock_guard lock(mutex_);
        if (!Usable()) {
            return false;
        }
        const KeyPath source = SplitKeyPath(from);
        const KeyPath target = SplitKeyPath(to);
        if (source.empty() || target.empty()) {
            SetLastError(kErrorInvalidParameter);
            return false;
        }
        if (!Begin()) {
            return false;
        }
        if (!MoveWithinTransaction(source, target) || !Commit()) {
            const uint32_t error = GetLastError();
            Rollback();
            SetLastError(error);
            return false;
        }
        return true;
    }

private:
    // Opens the connection and checks the file; on failure records the fault and closes it.
    // Called from the constructor only.
    void OpenFile()
    {
        const size_t slash = path_.rfind('/');
        if (!MakeFolders(path_.substr(0, slash))) {
            SetFault(kErrorCantOpen, "cannot be opened", std::strerror(errno));
            return;
        }
        if (!PrepareFile()) {
            return;
        }
        int rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK) {
            SetFault(kErrorCantOpen, "cannot be opened",
                     db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
            return;
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, static_cast<int>(lock_wait_ms.load()));

        // A damaged or foreign file is only read here, never written.
        {
            Statement check(db_, "PRAGMA quick_check");
            rc = check.Step();
            if (rc != SQLITE_ROW) {
                SetOpenFault(rc, sqlite3_errmsg(db_));
                return;
            }
            const std::string verdict = check.Bytes(0);
            if (verdict != "ok") {
                SetFault(kErrorBadDatabase, "is damaged", verdict);
                return;
            }
        }
        if ((rc = sqlite3_exec(db_, "PRAGMA foreign_keys = ON; PRAGMA synchronous = FULL", nullptr,
                               nullptr, nullptr)) != SQLITE_OK) {
            SetOpenFault(rc, sqlite3_errmsg(db_));
            return;
        }
        Statement tables(db_, "SELECT count(*) FROM sqlite_master");
        if ((rc = tables.Step()) != SQLITE_ROW) {
            SetOpenFault(rc, sqlite3_errmsg(db_));
            return;
        }
        if (tables.Int(0) == 0) {
            // A new file: the schema and the hive's root in one transaction.
            const std::string script = std::string("BEGIN IMMEDIATE;") + kSchema + "COMMIT;";
            if ((rc = sqlite3_exec(db_, script.c_str(), nullptr, nullptr, nullptr)) != SQLITE_OK) {
                const std::string detail = sqlite3_errmsg(db_);
                Rollback();
                SetOpenFault(rc, detail);
                return;
            }
        }
        Statement probe(db_,
                        "SELECT k.id, k.parent, k.name, v.key, v.name, v.type, v.data"
                        " FROM keys k, key_values v WHERE k.id = ?");
        probe.Bind(kCurrentUserRootId);
        rc = probe.Step();
        if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) {
            SetOpenFault(rc, sqlite3_errmsg(db_));
            return;
        }
        if ((rc != SQLITE_ROW && rc != SQLITE_DONE) || !KeyRowExists(kCurrentUserRootId)) {
            SetFault(kErrorBadDatabase, "is not a settings database", sqlite3_errmsg(db_));
        }
    }

    void SetOpenFault(int rc, const std::string& detail)
    {
        const OpenFault fault = OpenFaultFromSqlite(rc);
        SetFault(fault.code, fault.what, detail);
    }

    // Creates the file with mode 0600, or narrows the mode of one that others could read: it
    // holds the stored passwords.
    bool PrepareFile()
    {
        int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 && (errno == EACCES || errno == EROFS)) {
            fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        }
        if (fd < 0) {
            SetFault(kErrorCantOpen, "cannot be opened", std::strerror(errno));
            return false;
        }
        struct stat st = {};
        const bool is_file = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        if (is_file && (st.st_mode & 077) != 0 && st.st_uid == geteuid()) {
            fchmod(fd, 0600);
        }
        close(fd);
        if (!is_file) {
            SetFault(kErrorCantOpen, "cannot be opened", "it is not a file");
        }
        return is_file;
    }

    void SetFault(uint32_t code, const std::string& what, const std::string& detail)
    {
        fault_code_ = code;
        fault_ =
            "The settings file " + path_ + " " + what + " (" + detail + "). " + FaultAdvice(code);
        // The kept statements stay until the database goes: one may be running now. Closed with
        // them, the connection lingers unusable until they are finalised.
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }

    bool Usable() const
    {
        if (db_ == nullptr) {
            SetLastError(fault_code_);
            return false;
        }
        return true;
    }

    // Sets the last error for an SQLite failure; damage found now stops every later call.
    bool Fail(int rc)
    {
        const uint32_t code = ErrorFromSqlite(rc);
        if (code == kErrorBadDatabase) {
            SetFault(code, "is damaged", sqlite3_errstr(rc));
        }
        SetLastError(code);
        return false;
    }

    bool KeyRowExists(int64_t id)
    {
        Statement select(prepared_, db_, "SELECT 1 FROM keys WHERE id = ?");
        select.Bind(id);
        const int rc = select.Step();
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            return Fail(rc);
        }
        if (rc == SQLITE_DONE) {
            SetLastError(kErrorKeyDeleted);
        }
        return rc == SQLITE_ROW;
    }

    // Last error for a value that is not there: 2, or 1018 when its key has gone.
    bool MissingIn(int64_t id)
    {
        if (KeyRowExists(id)) {
            SetLastError(kErrorFileNotFound);
        }
        return false;
    }

    // Finds (and with `create`, makes) the key of the first `count` components.
    bool Walk(const KeyPath& components, size_t count, bool create, int64_t* id)
    {
        int64_t current = kCurrentUserRootId;
        for (size_t i = 0; i < count; ++i) {
            Statement select(prepared_, db_, "SELECT id FROM keys WHERE parent = ? AND name = ?");
            select.Bind(current).BindText(components[i]);
            const int rc = select.Step();
            if (rc == SQLITE_ROW) {
                current = select.Int(0);
                continue;
            }
            if (rc != SQLITE_DONE) {
                return Fail(rc);
            }
            if (!create) {
                SetLastError(kErrorFileNotFound);
                return false;
            }
            Statement insert(prepared_, db_, "INSERT INTO keys(parent, name) VALUES(?, ?)");
            insert.Bind(current).BindText(components[i]);
            if (!insert.Run()) {
                return Fail(insert.rc());
            }
            current = sqlite3_last_insert_rowid(db_);
        }
        *id = current;
        return true;
    }

    bool MoveWithinTransaction(const KeyPath& source, const KeyPath& target)
    {
        int64_t source_id = 0;
        int64_t target_id = 0;
        if (!Walk(source, source.size(), false, &source_id)) {
            return false;
        }
        if (Walk(target, target.size(), false, &target_id)) {
            SetLastError(kErrorAlreadyExists);
            return false;
        }
        if (GetLastError() != kErrorFileNotFound) {
            return false;
        }
        const bool inside_source = target.size() > source.size() &&
                                   std::equal(source.begin(), source.end(), target.begin());
        if (inside_source) {
            SetLastError(kErrorInvalidParameter);
            return false;
        }
        int64_t parent_id = 0;
        if (!Walk(target, target.size() - 1, true, &parent_id)) {
            return false;
        }
        Statement move(prepared_, db_, "UPDATE keys SET parent = ?, name = ? WHERE id = ?");
        move.Bind(parent_id).BindText(target.back()).Bind(source_id);
        return move.Run() || Fail(move.rc());
    }

    bool Begin()
    {
        const int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        return rc == SQLITE_OK || Fail(rc);
    }
    bool Commit()
    {
        const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        return rc == SQLITE_OK || Fail(rc);
    }
    void Rollback()
    {
        if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }

    std::mutex mutex_;
    sqlite3* db_ = nullptr;        // Guarded by mutex_.
    PreparedStatements prepared_;  // Guarded by mutex_.
    const std::string path_;
    std::string fault_;        // Guarded by mutex_.
    uint32_t fault_code_ = 0;  // Guarded by mutex_.
};

namespace {

std::mutex current_mutex;
// The database of the path in force; replaced when XDG_CONFIG_HOME names another file.
std::shared_ptr<RegistryDatabase>* current_database = nullptr;  // Guarded by current_mutex.

std::shared_ptr<RegistryDatabase> CurrentDatabase()
{
    const std::string path = RegistryDatabasePath();
    std::lock_guard lock(current_mutex);
    if (current_database == nullptr) {
        // Never destroyed: keys held by static objects may outlive every other static.
        current_database = new std::shared_ptr<RegistryDatabase>();
    }
    if (*current_database == nullptr || (*current_database)->Path() != path) {
        *current_database = std::make_shared<RegistryDatabase>(path);
    }
    return *current_database;
}

}  // namespace

RegistryKey::RegistryKey(std::shared_ptr<RegistryDatabase> database, int64_t id, std::string path)
    : database_(std::move(database))
    , id_(id)
    , path_(std::move(path))
{}

RegistryKey::~RegistryKey() = default;

bool RegistryKey::Exists() const
{
    return database_->KeyStillAt(id_, path_);
}

bool RegistryKey::QueryValue(std::string_view name, uint32_t* type, std::string* data) const
{
    return database_->QueryValue(id_, name, type, data);
}

bool RegistryKey::SetValue(std::string_view name, uint32_t type, std::string_view data)
{
    return database_->SetValue(id_, name, type, data);
}

bool RegistryKey::DeleteValue(std::string_view name)
{
    return database_->DeleteValue(id_, name);
}

bool RegistryKey::EnumSubKeys(std::vector<std::string>* names) const
{
    return database_->EnumSubKeys(id_, names);
}

std::unique_ptr<RegistryKey> OpenRegistryKey(RegistryRoot, std::string_view path)
{
    return CurrentDatabase()->Open(path, false);
}

std::unique_ptr<RegistryKey> CreateRegistryKey(RegistryRoot, std::string_view path)
{
    return CurrentDatabase()->Open(path, true);
}

bool ReadRegistryKeyValues(RegistryRoot, std::string_view path, std::vector<RegistryValue>* values)
{
    return CurrentDatabase()->ReadKeyValues(path, values);
}

bool DeleteRegistryTree(RegistryRoot, std::string_view path)
{
    return CurrentDatabase()->DeleteTree(path);
}

bool MoveRegistryTree(RegistryRoot, std::string_view from, std::string_view to)
{
    return CurrentDatabase()->MoveTree(from, to);
}

std::string RegistryDatabasePath()
{
    const char* config_home = std::getenv("XDG_CONFIG_HOME");
    const std::string base = config_home != nullptr && config_home[0] == '/'
                                 ? std::string(config_home)
                                 : HomeFolder() + "/.config";
    return base + "/Velko/registry.sqlite";
}

std::string RegistryFault()
{
    return CurrentDatabase()->Fault();
}

std::string RegistryProblemText(uint32_t error)
{
    const std::shared_ptr<RegistryDatabase> database = CurrentDatabase();
    std::string fault = database->Fault();
    if (!fault.empty()) {
        return fault;
    }
    const std::string file = "The settings file " + database->Path();
    if (error == kErrorSharingViolation) {
        return file + " is locked by another program: Vantrel waited " + WaitText() +
               " for it in vain.";
    }
    return file + " could not be used: " + ErrorMessageText(error);
}

std::chrono::milliseconds SetRegistryLockWait(std::chrono::milliseconds wait)
{
    return std::chrono::milliseconds(lock_wait_ms.exchange(wait.count()));
}

void CloseRegistryDatabase()
{
    std::lock_guard lock(current_mutex);
    if (current_database != nullptr) {
        current_database->reset();
    }
}

uint64_t RegistryKeyOpenCount()
{
    return key_open_count;
}

}  // namespace vantrel::platform
