// Publishing through the main window against the headless runner, on the same generated tree
// in the same run: the window runs offscreen on a private settings store and is driven through
// its own Publish action. Prints the medians of the samples of each figure.
//
//   gui_publish [--runs N]      (default 5)
//
// Figures: the wall time of an initial and of a no-change publish, through the window and
// through build/bench/publish, and the median of the window-to-runner ratio of each pair; the
// queue messages the window handled and its time in their handler; the longest time the GUI
// thread stayed away from its event loop during a run (how late a 5 ms timer fired); with the
// log pane shown and once with it hidden, "Log why files are copied." set in both. Each on two
// trees: 10,000 files in 500 folders, and 50,000 tiny files (10 to 200 bytes) in 2,500 folders,
// whose log outgrows the log pane's capacity. Then the start-up of the window with 100 web sites
// defined, and the status check of 10 web sites of 10,000 files each after a first check warmed
// the file system cache. The trees, the destinations and the settings are kept on a memory file
// system (/dev/shm) where there is one, else in the temporary folder.
#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/OstrelU.h"
#include "platform/Files.h"
#include "publishing/PublicationInfo.h"
#include "publishing/PublicationStatusHoundU.h"
#include "publishing/PublisherThreadU.h"
#include "tests/support/SettingsSandbox.h"
#include "tests/support/TestSandbox.h"
#include "tests/support/qt/GuiFakes.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {
namespace {

constexpr int kRunTimeoutMs = 600000;
// How often a wait asks its condition while no event comes.
constexpr int kPollMs = 5;
constexpr const char* kMemoryFolder = "/dev/shm";

// The main window, counting the queue messages it handles.
class CountingWindow : public TOstrel
{
public:
    void HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue) override
    {
        ++messages;
        QElapsedTimer busy;
        busy.start();
        TOstrel::HandleQueueMessage(kind, queue);
        handler_ns += busy.nsecsElapsed();
    }

protected:
    // The run's final counters reach the window here, no longer as a queue message.
    void RunFinished(QelPublication& d, const QelSyncStatus& st, RunOutcome outcome) override
    {
        ++messages;
        finished = true;
        QElapsedTimer busy;
        busy.start();
        TOstrel::RunFinished(d, st, outcome);
        handler_ns += busy.nsecsElapsed();
    }

public:
    long messages = 0;
    // The GUI thread's time inside the handler, the end of the run included.
    qint64 handler_ns = 0;
    bool finished = false;
};

// The longest time the GUI thread kept a 5 ms timer waiting beyond its interval: how long the
// event loop was not served.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kIntervalMs);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const double late = since_.nsecsElapsed() / 1e6 - kIntervalMs;
            longest_ms_ = std::max(longest_ms_, late);
            since_.start();
        });
    }
    void Start()
    {
        longest_ms_ = 0;
        since_.start();
        timer_.start();
    }
    double Stop()
    {
        // The last stretch counts too: the end of a run may keep the thread longest.
        timer_.stop();
        longest_ms_ = std::max(longest_ms_, since_.nsecsElapsed() / 1e6 - kIntervalMs);
        return longest_ms_;
    }

private:
    static constexpr int kIntervalMs = 5;
    QTimer timer_;
    QElapsedTimer since_;
    double longest_ms_ = 0;
};

double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Fail(const std::string& what)
{
    std::fprintf(stderr, "gui_publish: %s\n", what.c_str());
    std::exit(1);
}

// Runs a program to its end with its output discarded; its wall time in seconds.
double RunProgram(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer wall;
    wall.start();
    process.start(program, arguments);
    if (!process.waitForFinished(kRunTimeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        Fail("failed: " + program.toStdString() + " " + arguments.join(' ').toStdString());
    }
    return wall.nsecsElapsed() / 1e9;
}

// Serves the event loop until the condition holds, as the program's own loop does: asleep while
// nothing comes. The condition is asked whenever the loop has run out of events, and every few
// milliseconds besides, for what changes without an event (a thread that has ended).
void WaitFor(const std::function<bool()>& done, const char* what)
{
    if (done()) {
        return;
    }
    QEventLoop loop;
    const auto check = [&] {
        if (done()) {
            loop.quit();
        }
    };
    QTimer poll;
    poll.setInterval(kPollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &loop, check);
    bool timed_out = false;
    QTimer::singleShot(kRunTimeoutMs, &loop, [&] {
        timed_out = true;
        loop.quit();
    });
    poll.start();
    loop.exec();
    if (timed_out && !done()) {
        Fail(std::string("timed out waiting for ") + what);
    }
}

void FreshFolder(const std::string& path)
{
    std::error_code error;
    std::filesystem::remove_all(path, error);
    std::filesystem::create_directories(path, error);
    if (error) {
        Fail("cannot make " + path + ": " + error.message());
    }
}

void AddSites(const std::vector<std::pair<std::string, std::string>>& name_and_source,
              const std::string& server,
              bool explain)
{
    QelPublicationList list;
    for (const auto& [name, source] : name_and_source) {
        if (!list.AddNew(name, source, server, "", "", "", 0, false, false)) {
            Fail("cannot define " + name);
        }
        QelPublication* d = list.FindByName(name);
        d->LogExplainCopy = explain;
        d->Status = StatusPublished;
        d->LastPublished = NowDateTime();
        list.Update(name, *d);
    }
}

struct RunFigures
{
    double wall_s = 0;
    double messages = 0;
    double stall_ms = 0;
    double handler_s = 0;
};

RunFigures PublishThroughWindow(CountingWindow& w, StallMeter& meter)
{
    QAction* publish = w.findChild<QAction*>("tbnPublish");
    w.messages = 0;
    w.handler_ns = 0;
    w.finished = false;
    meter.Start();
    QElapsedTimer wall;
    wall.start();
    publish->trigger();
    WaitFor(
        [&] {
            return w.finished && !w.Publishing() && PublisherThread::Running() == 0 &&
                   publish->isEnabled();
        },
        "the window's run");
    RunFigures figures;
    figures.wall_s = wall.nsecsElapsed() / 1e9;
    figures.stall_ms = meter.Stop();
    figures.messages = static_cast<double>(w.messages);
    figures.handler_s = w.handler_ns / 1e9;
    if (w.StatusPanelText(0) != "Published: Site") {
        Fail("the window's run ended with: " + w.StatusPanelText(0).toStdString());
    }
    return figures;
}

struct Samples
{
    std::vector<double> window_wall, runner_wall, ratio, messages, stall, handler;
    void Add(const RunFigures& f, double runner)
    {
        window_wall.push_back(f.wall_s);
        runner_wall.push_back(runner);
        // The pair ran back to back, on the same disk's load: their ratio is steadier than the
        // ratio of the medians.
        ratio.push_back(runner > 0 ? f.wall_s / runner : 0);
        messages.push_back(f.messages);
        stall.push_back(f.stall_ms);
        handler.push_back(f.handler_s);
    }
    void Print(const char* what) const
    {
        const double window = Median(window_wall);
        const double runner = Median(runner_wall);
        std::printf(
            "%-34s window %6.3f s  runner %6.3f s  ratio %5.2f  messages %6.0f  "
            "in handler %6.3f s  longest stall %5.1f ms\n",
            what, window, runner, Median(ratio), Median(messages), Median(handler), Median(stall));
    }
};

void PublishFigures(const std::string& work,
                    const std::string& tree,
                    const std::string& runner,
                    bool show_log,
                    int runs)
{
    testing::ScopedConfigHome home;
    const std::string source = work + "/src";
    const std::string window_destination = work + "/window";
    const std::string runner_destination = work + "/runner";
    AddSites({{"Site", platform::ToSystemPath(source)}}, platform::ToSystemPath(window_destination),
             true);
    const QStringList runner_arguments = {QString::fromStdString(source),
                                          QString::fromStdString(runner_destination), "--delete",
                                          "0", "--explain"};
    Samples initial, unchanged;
    StallMeter meter;
    for (int run = 0; run < runs; ++run) {
        FreshFolder(window_destination);
        FreshFolder(runner_destination);
        CountingWindow w;
        w.Options().DisplayCompletedMessage = false;
        w.show();
        if (!QTest::qWaitForWindowExposed(&w)) {
            Fail("the window was never shown");
        }
        WaitFor([] { return TPublicationStatusHound::Running() == 0; }, "the status check");
        w.findChild<QCheckBox*>("chkShowLog")->setChecked(show_log);
        // Deleting and writing the trees leaves the disk busy for a while: the window and the
        // runner take turns at going first, and each initial publish starts after a sync.
        RunFigures first, second;
        double runner_first = 0, runner_second = 0;
        auto through_window = [&] {
            ::sync();
            first = PublishThroughWindow(w, meter);
            second = PublishThroughWindow(w, meter);
        };
        auto through_runner = [&] {
            ::sync();
            runner_first = RunProgram(QString::fromStdString(runner), runner_arguments);
            runner_second = RunProgram(QString::fromStdString(runner), runner_arguments);
        };
        if (run % 2 == 0) {
            through_window();
            through_runner();
        } else {
            through_runner();
            through_window();
        }
        initial.Add(first, runner_first);
        unchanged.Add(second, runner_second);
    }
    const std::string pane = tree + ", " + (show_log ? "log shown" : "log hidden");
    initial.Print(("initial, " + pane + ":").c_str());
    unchanged.Print(("no change, " + pane + ":").c_str());
}

void StartUpFigures(const std::string& work, int runs)
{
    testing::ScopedConfigHome home;
    std::vector<std::pair<std::string, std::string>> sites;
    for (int i = 1; i <= 100; ++i) {
        sites.emplace_back("Site " + std::to_string(i), platform::ToSystemPath(work + "/src"));
    }
    AddSites(sites, platform::ToSystemPath(work + "/window"), false);
    std::vector<double> shown;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer wall;
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
        WaitFor([] { return TPublicationStatusHound::Running() == 0; }, "the status check's end");
    }
    std::printf("%-34s %6.3f s\n", "start-up with 100 web sites:", Median(shown));
}

class HoundOwner : public IStatusHoundOwner
{
public:
    void RefreshPublicationsGrid() override {}
    void UpdateConfigEnabled(int32_t) override {}
    void StatusHoundFinished() override { finished = true; }
    bool finished = false;
};

void StatusCheckFigures(const std::string& work, int runs)
{
    testing::ScopedConfigHome home;
    std::vector<std::pair<std::string, std::string>> sites;
    for (int i = 1; i <= 10; ++i) {
        // Hard links: ten trees of their own folders and names at no cost in disk space.
        const std::string copy = work + "/check" + std::to_string(i);
        RunProgram("cp",
                   {"-al", QString::fromStdString(work + "/src"), QString::fromStdString(copy)});
        sites.emplace_back("Check " + std::to_string(i), platform::ToSystemPath(copy));
    }
    AddSites(sites, platform::ToSystemPath(work + "/window"), false);
    QelPublicationList list;
    std::vector<double> checks;
    for (int run = 0; run <= runs; ++run) {
        HoundOwner owner;
        QElapsedTimer wall;
        wall.start();
        if (!TPublicationStatusHound::Create(owner, list)) {
            Fail("the status check could not start");
        }
        WaitFor([&] { return owner.finished; }, "the status check");
        // The first check warms the file system cache and is not counted.
        if (run > 0) {
            checks.push_back(wall.nsecsElapsed() / 1e9);
        }
        WaitFor([] { return TPublicationStatusHound::Running() == 0; }, "the status check's end");
    }
    std::printf("%-34s %6.3f s\n", "status check, 10 x 10,000 files:", Median(checks));

    // The look a Turbo Publish All takes at the published web sites before it chooses.
    std::vector<std::string> names;
    for (const auto& site : sites) {
        names.push_back(site.first);
    }
    std::vector<double> looks;
    for (int run = 0; run < runs; ++run) {
        HoundOwner owner;
        bool looked = false;
        QElapsedTimer wall;
        wall.start();
        if (!TPublicationStatusHound::Look(owner, list, names, [&] { looked = true; })) {
            Fail("the look could not start");
        }
        WaitFor([&] { return looked; }, "the look");
        looks.push_back(wall.nsecsElapsed() / 1e9);
        WaitFor([] { return TPublicationStatusHound::Running() == 0; }, "the look's end");
    }
    std::printf("%-34s %6.3f s\n", "Publish All's look, 10 x 10,000:", Median(looks));
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv)
{
    using namespace vantrel;
    // The offscreen platform's remark on every window shown says nothing about the figures.
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
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: gui_publish [--runs N]\n");
            return 2;
        }
    }
    // Every temporary folder of this process and of the runners it starts goes to memory, so
    // that the figures are the programs' own and not the disk's.
    std::error_code error;
    const bool in_memory = std::filesystem::is_directory(kMemoryFolder, error) &&
                           ::access(kMemoryFolder, W_OK | X_OK) == 0;
    if (in_memory) {
        ::setenv("TMPDIR", kMemoryFolder, 1);
    }
    testing::TestSandbox work;
    testing::TestSandbox tiny;
    const QString make_tree = VANTREL_BENCH_DIR "/make_tree.py";
    RunProgram("python3", {make_tree, QString::fromStdString(work.Path("src"))});
    RunProgram("python3", {make_tree, QString::fromStdString(tiny.Path("src")), "--tiny"});
    std::printf(
        "medians of %d runs in %s; standard: 10,000 files in 500 folders, tiny: 50,000 "
        "files of 10-200 bytes in 2,500 folders\n",
        runs, std::filesystem::temp_directory_path().c_str());
    std::fflush(stdout);
    for (const bool show_log : {true, false}) {
        PublishFigures(work.Path(), "standard", VANTREL_PUBLISH_RUNNER, show_log, runs);
        std::fflush(stdout);
        PublishFigures(tiny.Path(), "tiny", VANTREL_PUBLISH_RUNNER, show_log, runs);
        std::fflush(stdout);
    }
    StartUpFigures(work.Path(), runs);
    std::fflush(stdout);
    StatusCheckFigures(work.Path(), runs);
    if (!boxes.Shown().empty()) {
        std::printf("message boxes shown: %zu, the last: %s\n", boxes.Shown().size(),
                    boxes.LastText().c_str());
    }
    return 0;
}
