#pragma once

#include <QDir>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QStackedWidget;
class QTabWidget;
class QWidget;

// The windows the screenshots tool pictures. Each window adds one maker, in a file of its own:
//
//     void ShootAboutBox(vantrel::bench::ShotSession& session)
//     {
//         vantrel::TAboutBox box;   // filled with sample data
//         session.Save(&box, "TAboutBox");
//     }
//     VANTREL_WINDOW_SHOT(ShootAboutBox)
namespace vantrel::bench {

// Saves pictures of windows, shown offscreen, as PNG files in one folder. GUI thread only.
class ShotSession
{
public:
    explicit ShotSession(const QDir& folder);

    // Shows the window as it stands (not modally), lets it lay itself out, saves it as
    // NAME.png under a strip with its title (offscreen windows have no frame) and hides it
    // again. A modal window is pictured from its Execute through RunModal
    // (tests/support/qt/DialogDriver.h), its maker's script calling Save on it.
    void Save(QWidget* window, const QString& name);
    // The same for each page in turn: NAME-N-PAGE.png, N counting from 1, PAGE the page's title
    // (tabs) or object name (stacks) with anything but letters and digits dropped. The page
    // shown before is shown again afterwards.
    void SavePages(QWidget* window, QTabWidget* pages, const QString& name);
    void SavePages(QWidget* window, QStackedWidget* pages, const QString& name);

    // A failure of the run, told with the pictures that could not be saved.
    void Expect(bool holds, const QString& what);
    // The window, frame and all, lies inside the available area of its screen.
    void ExpectInsideScreen(QWidget* window, const QString& name);

    const QStringList& Written() const { return written_; }
    const QStringList& Failed() const { return failed_; }

private:
    void Grab(QWidget* window, const QString& file_name);

    QDir folder_;
    QStringList written_;
    QStringList failed_;
};

using WindowMaker = std::function<void(ShotSession&)>;

// Adds a maker to the list the tool runs, in the order of registration; the macro does it while
// the program starts. A scaled maker runs only in the tool's second pass, at 200 % on a
// 1280 x 800 screen.
bool RegisterWindowShot(const char* name, WindowMaker maker, bool scaled = false);

struct RegisteredShot
{
    const char* name;
    WindowMaker maker;
    bool scaled = false;
};
const std::vector<RegisteredShot>& RegisteredWindowShots();

}  // namespace vantrel::bench

#define VANTREL_WINDOW_SHOT(function)                          \
    [[maybe_unused]] static const bool function##_registered = \
        vantrel::bench::RegisterWindowShot(#function, function);
#define VANTREL_SCALED_WINDOW_SHOT(function)                   \
    [[maybe_unused]] static const bool function##_registered = \
        vantrel::bench::RegisterWindowShot(#function, function, true);
