#include "tests/support/SettingsSandbox.h"

#include <functional>
#include <sqlite3.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Registry.h"

namespace vantrel::testing {

ScopedConfigHome::ScopedConfigHome()
    : config_home_("XDG_CONFIG_HOME", sandbox_.Path("config"))
{
    platform::CloseRegistryDatabase();
}

ScopedConfigHome::~ScopedConfigHome()
{
    platform::CloseRegistryDatabase();
}

std::string ScopedConfigHome::DatabasePath() const
{
    return sandbox_.Path("config/Velko/registry.sqlite");
}

void ScopedConfigHome::FailWritesOf(const std::string& value_name) const
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(DatabasePath().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << DatabasePath();
        sqlite3_close(db);
        return;
    }
    char* quoted = sqlite3_mprintf("%Q", value_name.c_str());
    const std::string name = quoted;
    sqlite3_free(quoted);
    std::string script;
    for (const char* event : {"INSERT", "UPDATE"}) {
        script += std::string("CREATE TRIGGER IF NOT EXISTS refuse_") + event + "_" +
                  std::to_string(std::hash<std::string>()(value_name)) + " BEFORE " + event +
                  " ON key_values WHEN NEW.name = " + name +
                  " BEGIN SELECT RAISE(ABORT, 'refused'); END;";
    }
    char* error = nullptr;
    if (sqlite3_exec(db, script.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        ADD_FAILURE() << "cannot install the trigger: " << (error != nullptr ? error : "");
    }
    sqlite3_free(error);
    sqlite3_close(db);
}

void ScopedConfigHome::AcceptEveryWrite() const
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(DatabasePath().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << DatabasePath();
        sqlite3_close(db);
        return;
    }
    std::vector<std::string> triggers;
    sqlite3_exec(
        db, "SELECT name FROM sqlite_master WHERE type = 'trigger' AND name LIKE 'refuse_%'",
        [](void* names, int, char** values, char**) {
            static_cast<std::vector<std::string>*>(names)->push_back(values[0]);
            return 0;
        },
        &triggers, nullptr);
    for (const std::string& trigger : triggers) {
        const std::string drop = "DROP TRIGGER \"" + trigger + "\"";
        if (sqlite3_exec(db, drop.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << "cannot drop " << trigger << ": " << sqlite3_errmsg(db);
        }
    }
    sqlite3_close(db);
}

HeldDatabaseLock::HeldDatabaseLock(const std::string& database_path,
                                   std::chrono::milliseconds release_after)
{
    if (sqlite3_open_v2(database_path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot lock " << database_path << ": " << sqlite3_errmsg(db_);
    }
    releaser_ = std::thread([this, release_after] {
        std::unique_lock lock(mutex_);
        released_.wait_for(lock, release_after, [this] { return release_; });
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    });
}

HeldDatabaseLock::~HeldDatabaseLock()
{
    Release();
    releaser_.join();
    sqlite3_close(db_);
}

void HeldDatabaseLock::Release()
{
    {
        std::lock_guard lock(mutex_);
        release_ = true;
    }
    released_.notify_all();
}

}  // namespace vantrel::testing
