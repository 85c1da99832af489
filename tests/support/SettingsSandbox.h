#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/TestSandbox.h"

struct sqlite3;

namespace vantrel::testing {

// A settings store in a temporary folder, never the user's: XDG_CONFIG_HOME points into a fresh
// sandbox until the object goes, and the registry connection is dropped on both ends.
class ScopedConfigHome
{
public:
    ScopedConfigHome();
    ~ScopedConfigHome();
    ScopedConfigHome(const ScopedConfigHome&) = delete;
    ScopedConfigHome& operator=(const ScopedConfigHome&) = delete;

    const TestSandbox& Sandbox() const { return sandbox_; }
    // POSIX path of the registry database.
    std::string DatabasePath() const;

    // From now on the database refuses every write of a value of that name, standing in for a
    // write that fails half way through a save. The database must exist.
    void FailWritesOf(const std::string& value_name) const;
    // Takes back every FailWritesOf.
    void AcceptEveryWrite() const;

private:
    TestSandbox sandbox_;
    ScopedEnv config_home_;
};

// Another program's lock on the settings database: an exclusive transaction on a connection of
// its own, which keeps every other connection from reading or writing the file. Held from its
// creation until Release, the end of `release_after` or its destruction. The database must
// exist.
class HeldDatabaseLock
{
public:
    explicit HeldDatabaseLock(const std::string& database_path,
                              std::chrono::milliseconds release_after = std::chrono::hours(1));
    ~HeldDatabaseLock();
    HeldDatabaseLock(const HeldDatabaseLock&) = delete;
    HeldDatabaseLock& operator=(const HeldDatabaseLock&) = delete;

    void Release();

private:
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;  // Guarded by mutex_.
    std::thread releaser_;
};

}  // namespace vantrel::testing
