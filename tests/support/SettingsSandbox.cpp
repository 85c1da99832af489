#include "tests/support/SettingsSandbox.h"

#include <functional>
#include <sqlite3.h>

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

}  // namespace vantrel::testing
