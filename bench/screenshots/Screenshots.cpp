// Pictures every window of the program, with sample data, as PNG files for review:
//
//     screenshots DIR [NAME...]
//
// writes DIR/<window>.png and DIR/<window>-<n>-<page>.png, for every window or only for the
// makers named. It runs offscreen (unless QT_QPA_PLATFORM says otherwise) with settings of its
// own in a temporary folder, so the user's web sites are never read or touched. A second pass,
// the tool started again as "screenshots --scaled DIR [NAME...]", pictures the windows of the
// scaled makers at 200 % on an offscreen 1280 x 800 screen, and fails when one of them does not
// lie inside the screen.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "bench/screenshots/WindowShots.h"
#include "platform/qt/QtPlatform.h"
#include "tests/support/qt/GuiTestMain.h"

namespace {

constexpr char kScaledOption[] = "--scaled";

// An offscreen screen of 1280 x 800 pixels, shown at 200 %.
bool PrepareScaledScreen(const QTemporaryDir& folder)
{
    const QString config = folder.filePath(QStringLiteral("screen.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(R"({"screens": [{"name": "Screen1280x800", "x": 0, "y": 0, "width": 1280,
                  "height": 800, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    setenv("QT_SCALE_FACTOR", "2", 1);
    setenv("QT_QPA_PLATFORM", QFile::encodeName("offscreen:configfile=" + config).constData(), 1);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool scaled = argc >= 2 && std::strcmp(argv[1], kScaledOption) == 0;
    const int first = scaled ? 2 : 1;
    if (argc <= first) {
        std::fprintf(stderr, "Usage: %s DIR [NAME...]\n", argv[0]);
        return 2;
    }
    QTemporaryDir screen_folder;
    if (scaled && (!screen_folder.isValid() || !PrepareScaledScreen(screen_folder))) {
        std::fprintf(stderr, "Cannot describe the scaled screen\n");
        return 1;
    }
    vantrel::testing::PrepareGuiTestProcess();
    QApplication app(argc, argv);
    vantrel::testing::GuiTestSession session;

    const QString folder_path = QString::fromLocal8Bit(argv[first]);
    if (!QDir().mkpath(folder_path)) {
        std::fprintf(stderr, "Cannot create the folder %s\n", argv[first]);
        return 1;
    }
    QStringList wanted;
    for (int i = first + 1; i < argc; ++i) {
        wanted << QString::fromLocal8Bit(argv[i]);
    }

    vantrel::bench::ShotSession shots{QDir(folder_path)};
    int unknown = static_cast<int>(wanted.size());
    bool scaled_wanted = false;
    for (const vantrel::bench::RegisteredShot& shot : vantrel::bench::RegisteredWindowShots()) {
        if (!wanted.isEmpty() && !wanted.contains(QString::fromLatin1(shot.name))) {
            continue;
        }
        --unknown;
        scaled_wanted = scaled_wanted || shot.scaled;
        if (shot.scaled == scaled) {
            shot.maker(shots);
        }
    }
    for (const QString& path : shots.Written()) {
        std::printf("%s\n", qPrintable(path));
    }
    std::fflush(stdout);
    for (const QString& what : shots.Failed()) {
        std::fprintf(stderr, "Failed: %s\n", qPrintable(what));
    }
    if (unknown > 0) {
        std::fprintf(stderr, "No window maker of such a name; the makers are:\n");
        for (const vantrel::bench::RegisteredShot& shot : vantrel::bench::RegisteredWindowShots()) {
            std::fprintf(stderr, "  %s\n", shot.name);
        }
        return 1;
    }
    bool passed = shots.Failed().isEmpty() && (!shots.Written().isEmpty() || scaled_wanted);
    if (!scaled && scaled_wanted) {
        // The scale and the screen are fixed when the application starts: a process of its own.
        QStringList arguments{QString::fromLatin1(kScaledOption), folder_path};
        arguments << wanted;
        QProcess second;
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.start(QCoreApplication::applicationFilePath(), arguments);
        passed = second.waitForFinished(-1) && second.exitStatus() == QProcess::NormalExit &&
                 second.exitCode() == 0 && passed;
    }
    return passed ? 0 : 1;
}
