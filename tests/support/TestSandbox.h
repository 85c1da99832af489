#pragma once

#include <ctime>
#include <optional>
#include <string>

// Fixtures shared by the test executables.
namespace vantrel::testing {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// sandbox goes. Paths given to it are relative to the sandbox, "/" separated.
class TestSandbox
{
public:
    TestSandbox();
    ~TestSandbox();
    TestSandbox(const TestSandbox&) = delete;
    TestSandbox& operator=(const TestSandbox&) = delete;

    // POSIX path of the sandbox or of a path inside it.
    std::string Path(const std::string& relative = "") const;
    // The same in the system's own form, with "\" separators.
    std::string SystemPath(const std::string& relative = "") const;

    // Writes a file (making its folders), optionally with a last-write time in seconds since 1970.
    void WriteFile(const std::string& relative,
                   const std::string& content,
                   std::optional<std::time_t> mtime = std::nullopt) const;
    void MakeFolder(const std::string& relative) const;
    // Gives a folder and every folder below it this last-write time (seconds since 1970).
    void SetFolderTimes(const std::string& relative, std::time_t mtime) const;
    std::string ReadFile(const std::string& relative) const;

private:
    std::string root_;
};

// Sets (or, with std::nullopt, unsets) an environment variable until the object goes.
class ScopedEnv
{
public:
    ScopedEnv(const std::string& name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> saved_;
};

// Puts the process in another time zone (a TZ text such as "XYZ-3") until the object goes.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const std::string& tz);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> saved_;
};

}  // namespace vantrel::testing
