// The start-up of the main window with many web sites defined: from the window's creation until
// it is shown and its first show's work is done, the status check left out. The window runs
// offscreen on a private settings store, kept on a memory file system (/dev/shm) where there is
// one, as gui_publish keeps it, or with --disk in the temporary folder. Prints the median of the
// runs, and the time the web site list alone takes to load.
//
//   start_up [--sites N] [--runs N] [--disk]      (defaults: 5,000 sites, 5 runs)
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/OstrelU.h"
#include "foundation/QelDateFunctions.h"
#include "platform/Files.h"
#include "publishing/PublicationInfo.h"
#include "publishing/PublicationStatusHoundU.h"
#include "tests/support/SettingsSandbox.h"
#include "tests/support/TestSandbox.h"
#include "tests/support/qt/GuiFakes.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {
namespace {

constexpr const char* kMemoryFolder = "/dev/shm";

void Fail(const std::string& what)
{
    std::fprintf(stderr, "start_up: %s\n", what.c_str());
    std::exit(1);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Defines the web sites as gui_publish does: published, so that the status check has them
// all to look at.
void AddSites(int count, const std::string& source, const std::string& server)
{
    QelPublicationList list;
    for (int i = 1; i <= count; ++i) {
        const std::string name = "Site " + std::to_string(i);
        if (!list.AddNew(name, source, server, "", "", "", 0, false, false)) {
            Fail("cannot define " + name);
        }
        QelPublication* d = list.FindByName(name);
        d->Status = StatusPublished;
        d->LastPublished = NowDateTime();
        list.Update(name, *d);
    }
}

// Serves the event loop, sleeping in it, until no status check runs.
void WaitForStatusCheck()
{
    QTimer tick;
    tick.start(10);
    while (TPublicationStatusHound::Running() != 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv)
{
    using namespace vantrel;
    int sites = 5000;
    int runs = 5;
    bool disk = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--sites" && i + 1 < argc) {
            sites = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--disk") {
            disk = true;
        } else {
            std::fprintf(stderr, "usage: start_up [--sites N] [--runs N] [--disk]\n");
            return 2;
        }
    }
    std::error_code error;
    if (!disk && std::filesystem::is_directory(kMemoryFolder, error) &&
        ::access(kMemoryFolder, W_OK | X_OK) == 0) {
        ::setenv("TMPDIR", kMemoryFolder, 1);
    }
    // Offscreen, on a settings store of its own.
    static const QtMessageHandler previous = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (!text.contains("propagateSizeHints")) {
                previous(type, context, text);
            }
        });
    testing::PrepareGuiTestProcess();
    QApplication app(argc, argv);
    testing::GuiTestSession session;
    testing::FakeMessageBoxes boxes;
    testing::TestSandbox work;
    testing::ScopedConfigHome home;
    const std::string source = work.Path("src");
    std::filesystem::create_directories(source, error);
    AddSites(sites, platform::ToSystemPath(source), platform::ToSystemPath(work.Path("dst")));

    std::vector<double> shown;
    std::vector<double> loaded;
    for (int run = 0; run < runs; ++run) {
        // A fresh connection each run, as a new process opens the file.
        platform::CloseRegistryDatabase();
        QElapsedTimer wall;
        wall.start();
        {
            QelPublicationList list;
            if (list.Count() != sites) {
                Fail("the list holds " + std::to_string(list.Count()) + " web sites");
            }
            loaded.push_back(wall.nsecsElapsed() / 1e9);
        }
        platform::CloseRegistryDatabase();
        wall.start();
        {
            TOstrel w;
            w.show();
            if (!QTest::qWaitForWindowExposed(&w)) {
                Fail("the window was never shown");
            }
            // The first show's own work (window position, the status check's start) is done.
            QCoreApplication::processEvents();
            shown.push_back(wall.nsecsElapsed() / 1e9);
        }
        WaitForStatusCheck();
    }
    std::printf("settings in %s, median of %d runs\n",
                std::filesystem::path(home.DatabasePath()).parent_path().c_str(), runs);
    std::printf("%-36s %7.3f s\n",
                ("start-up with " + std::to_string(sites) + " web sites:").c_str(), Median(shown));
    std::printf("%-36s %7.3f s\n", "loading the web site list alone:", Median(loaded));
    if (!boxes.Shown().empty()) {
        std::printf("message boxes shown: %zu, the last: %s\n", boxes.Shown().size(),
                    boxes.LastText().c_str());
    }
    return 0;
}
