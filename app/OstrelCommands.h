#pragma once

class QAction;
class QMenu;
class QToolBar;

// The main window's tool bar and main menu (TOstrelCommands).
namespace vantrel {

class TOstrel;

// The main window's commands: the tool bar's buttons and the main menu's items by their
// control names (tbnPublish, mnuExportToFile, ...), with their texts, shortcuts and hints, each
// calling the window's handler. The tool bar is made with the object, the menu by BuildMenus. The
// window owns them through Qt's parents and must outlive this object; GUI thread only.
class TOstrelCommands
{
public:
    explicit TOstrelCommands(TOstrel& window);
    TOstrelCommands(const TOstrelCommands&) = delete;
    TOstrelCommands& operator=(const TOstrelCommands&) = delete;

    void BuildMenus();
    // While a publish runs: only Stop, up, and Exit are at hand.
    void Disable();
    // After a publish: every command but Stop, which goes up; "Recheck Status" only with
    // `recheck`.
    void Enable(bool recheck);

    QToolBar* ToolBar = nullptr;
    QAction* tbnPublish = nullptr;
    QAction* tbnPublishAll = nullptr;
    QAction* tbnStop = nullptr;
    QAction* tbnTurbo = nullptr;
    QAction* tbnNew = nullptr;
    QAction* tbnDelete = nullptr;
    QAction* tbnProperties = nullptr;
    // The File menu.
    QMenu* mnuPublishHighlighted = nullptr;
    QAction* mnu_Properties = nullptr;
    QAction* mnuRecheckStatus = nullptr;
    QAction* mnu_PublishAll = nullptr;

private:
    TOstrel& window_;
};

}  // namespace vantrel
