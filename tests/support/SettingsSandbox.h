#pragma once

#include <string>

#include "tests/support/TestSandbox.h"

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

private:
    TestSandbox sandbox_;
    ScopedEnv config_home_;
};

}  // namespace vantrel::testing
