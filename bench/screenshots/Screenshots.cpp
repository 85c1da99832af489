// Pictures every window of the program, with sample data, as PNG files for review:
//
//     screenshots DIR [NAME...]
//
// writes DIR/<window>.png and DIR/<window>-<n>-<page>.png, for every window or only for the
// makers named. It runs offscreen (unless QT_QPA_PLATFORM says otherwise) with settings of its
// own in a temporary folder, so the user's web sites are never read or touched.
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <memory>

#include "bench/screenshots/WindowShots.h"
#include "platform/qt/QtPlatform.h"
#include "tests/support/qt/GuiTestMain.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s DIR [NAME...]\n", argv[0]);
        return 2;
    }
    vantrel::testing::PrepareGuiTestProcess();
    QApplication app(argc, argv);
    vantrel::testing::GuiTestSession session;

    const QString folder_path = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder_path)) {
        std::fprintf(stderr, "Cannot create the folder %s\n", argv[1]);
        return 1;
    }
    QStringList wanted;
    for (int i = 2; i < argc; ++i) {
        wanted << QString::fromLocal8Bit(argv[i]);
    }

    vantrel::bench::ShotSession shots{QDir(folder_path)};
    int unknown = static_cast<int>(wanted.size());
    for (const vantrel::bench::RegisteredShot& shot : vantrel::bench::RegisteredWindowShots()) {
        if (!wanted.isEmpty() && !wanted.contains(QString::fromLatin1(shot.name))) {
            continue;
        }
        --unknown;
        shot.maker(shots);
    }
    for (const QString& path : shots.Written()) {
        std::printf("%s\n", qPrintable(path));
    }
    for (const QString& path : shots.Failed()) {
        std::fprintf(stderr, "Could not save %s\n", qPrintable(path));
    }
    if (unknown > 0) {
        std::fprintf(stderr, "No window maker of such a name; the makers are:\n");
        for (const vantrel::bench::RegisteredShot& shot : vantrel::bench::RegisteredWindowShots()) {
            std::fprintf(stderr, "  %s\n", shot.name);
        }
        return 1;
    }
    return shots.Failed().isEmpty() && !shots.Written().isEmpty() ? 0 : 1;
}
