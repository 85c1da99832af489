#include "tests/support/TestSandbox.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utime.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vantrel::testing {

TestSandbox::TestSandbox()
{
    std::string templ = (std::filesystem::temp_directory_path() / "vantrel-test-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a sandbox folder";
    }
    root_ = templ;
}

TestSandbox::~TestSandbox()
{
    std::error_code ec;
    // Read-only files and folders a test left behind must not keep the sandbox alive.
    for (auto it = std::filesystem::recursive_directory_iterator(root_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink()) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
    }
    std::filesystem::remove_all(root_, ec);
}

std::string TestSandbox::Path(const std::string& relative) const
{
    return relative.empty() ? root_ : root_ + "/" + relative;
}

std::string TestSandbox::SystemPath(const std::string& relative) const
{
    std::string path = Path(relative);
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

void TestSandbox::WriteFile(const std::string& relative,
                            const std::string& content,
                            std::optional<std::time_t> mtime) const
{
    const std::filesystem::path path = Path(relative);
    std::filesystem::create_directories(path.parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out) {
            ADD_FAILURE() << "cannot write " << path;
        }
    }
    if (mtime.has_value()) {
        utimbuf times{*mtime, *mtime};
        if (utime(path.c_str(), &times) != 0) {
            ADD_FAILURE() << "cannot set the time of " << path;
        }
    }
}

void TestSandbox::MakeFolder(const std::string& relative) const
{
    std::filesystem::create_directories(Path(relative));
}

void TestSandbox::SetFolderTimes(const std::string& relative, std::time_t mtime) const
{
    const utimbuf times{mtime, mtime};
    for (auto it = std::filesystem::recursive_directory_iterator(Path(relative));
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        if (it->is_directory()) {
            utime(it->path().c_str(), &times);
        }
    }
    utime(Path(relative).c_str(), &times);
}

std::string TestSandbox::ReadFile(const std::string& relative) const
{
    std::ifstream in(Path(relative), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

ScopedEnv::ScopedEnv(const std::string& name, std::optional<std::string> value)
    : name_(name)
{
    if (const char* old = std::getenv(name.c_str()); old != nullptr) {
        saved_ = old;
    }
    if (value.has_value()) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}

ScopedEnv::~ScopedEnv()
{
    if (saved_.has_value()) {
        setenv(name_.c_str(), saved_->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

ScopedTimeZone::ScopedTimeZone(const std::string& tz)
{
    if (const char* old = std::getenv("TZ"); old != nullptr) {
        saved_ = old;
    }
    setenv("TZ", tz.c_str(), 1);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone()
{
    if (saved_.has_value()) {
        setenv("TZ", saved_->c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

}  // namespace vantrel::testing
