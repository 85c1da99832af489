#include "app/OstrelCommands.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>
#include <functional>

#include "app/HelpPages.h"
#include "app/OstrelU.h"

namespace vantrel {

TOstrelCommands::TOstrelCommands(TOstrel& window)
    : window_(window)
{
    ToolBar = window_.addToolBar("ToolBar");
    ToolBar->setObjectName("ToolBar");
    ToolBar->setMovable(false);
    ToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar->setIconSize(QSize(24, 23));
    auto add_button = [this](const char* name, const char* text, QStyle::StandardPixmap icon,
                             const char* hint, void (TOstrel::*handler)()) {
        QAction* action = ToolBar->addAction(window_.style()->standardIcon(icon), text);
        // The icon text derived from the text loses a trailing "...", which the buttons show.
        action->setIconText(text);
        action->setObjectName(name);
        action->setToolTip(hint);
        QObject::connect(action, &QAction::triggered, &window_,
                         [this, handler] { (window_.*handler)(); });
        return action;
    };
    tbnPublish = add_button("tbnPublish", "Publish", QStyle::SP_ArrowUp,
                            "Publish the currently selected web site.", &TOstrel::tbnPublishClick);
    tbnPublishAll = add_button(
        "tbnPublishAll", "All", QStyle::SP_FileDialogToParent,
        "Publish all the web sites that can be published on the current internet connection.",
        &TOstrel::tbnPublishAllClick);
    tbnStop = add_button("tbnStop", "Stop", QStyle::SP_BrowserStop,
                         "Immediatly stop publishing web site(s).", &TOstrel::tbnStopClick);
    tbnStop->setCheckable(true);
    tbnStop->setEnabled(false);
    tbnTurbo = add_button("tbnTurbo", "Turbo", QStyle::SP_MediaSeekForward,
                          "Turbo boost - works faster by using knowledge of when it last updated "
                          "the website (but might miss updates done by third party tools).",
                          &TOstrel::tbnTurboClick);
    tbnTurbo->setCheckable(true);
    ToolBar->addSeparator();
    tbnNew = add_button("tbnNew", "New...", QStyle::SP_FileIcon, "Add a new web site.",
                        &TOstrel::tbnNewClick);
    tbnDelete = add_button("tbnDelete", "Delete", QStyle::SP_TrashIcon,
                           "Remove the currently selected web site.", &TOstrel::tbnDeleteClick);
    tbnProperties = add_button("tbnProperties", "Config...", QStyle::SP_FileDialogDetailedView,
                               "Display the configuration settings of the currently selected web "
                               "site.",
                               &TOstrel::tbnPropertiesClick);
    for (QWidget* button : ToolBar->findChildren<QWidget*>()) {
        button->setToolTipDuration(10000);
    }
}

void TOstrelCommands::BuildMenus()
{
    // Each menu and entry has an Alt mnemonic, underlined, as on every desktop.
    auto item = [this](QMenu* menu, const char* name, const char* text, QKeySequence key,
                       const char* hint, std::function<void()> handler) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        if (!key.isEmpty()) {
            action->setShortcut(key);
        }
        if (hint != nullptr) {
            action->setToolTip(hint);
        }
        QObject::connect(action, &QAction::triggered, &window_, std::move(handler));
        return action;
    };
    mnuPublishHighlighted = window_.menuBar()->addMenu("&File");
    mnuPublishHighlighted->setObjectName("mnuPublishHighlighted");
    mnuPublishHighlighted->setToolTipsVisible(true);
    QMenu* file = mnuPublishHighlighted;
    item(file, "mnuExportToFile", "&Export to file ...", QKeySequence("Ctrl+E"),
         "Export web site settings to a file.", [this] { window_.mnuExportToFileClick(); });
    item(file, "mnuImportFromFile", "&Import from file ...", QKeySequence("Ctrl+I"),
         "Import web site settings from a file.", [this] { window_.mnuImportFromFileClick(); });
    item(file, "mnuNewWebSite", "&New Web Site...", QKeySequence("Ctrl+N"),
         "Create a new web site.", [this] { window_.tbnNewClick(); });
    mnu_Properties = item(file, "mnu_Properties", "Site &Configuration...", QKeySequence("F9"),
                          nullptr, [this] { window_.tbnPropertiesClick(); });
    file->addSeparator();
    mnuRecheckStatus = item(file, "mnuRecheckStatus", "&Recheck Status", QKeySequence("F8"),
                            "Check whether any web sites have been changed and need to be "
                            "published. Use this if you have made a change since starting and "
                            "the status is listed as published.",
                            [this] { window_.mnuRecheckStatusClick(); });
    file->addSeparator();
    item(file, "mnu_PublishHighlighted", "&Publish Highlighted Site", QKeySequence("F4"), nullptr,
         [this] {
             if (tbnPublish->isEnabled()) {
                 window_.tbnPublishClick();
             }
         });
    mnu_PublishAll = item(file, "mnu_PublishAll", "Publish &All", QKeySequence("F5"), nullptr,
                          [this] { window_.tbnPublishAllClick(); });
    file->addSeparator();
    item(file, "MenuExit", "E&xit", QKeySequence(), nullptr, [this] { window_.close(); });

    QMenu* tools = window_.menuBar()->addMenu("&Tools");
    item(tools, "mnuOptions", "&Options", QKeySequence(), nullptr,
         [this] { window_.mnuOptionsClick(); });

    QMenu* help = window_.menuBar()->addMenu("&Help");
    QMenu* online = help->addMenu("&Online Help");
    item(online, "FrequentlyAskedQuestions1", "&Frequently Asked Questions ", QKeySequence(),
         nullptr, [] { OpenHelpPage("faq.html"); });
    item(online, "mnuGiveYourSupport1", "&Your Support", QKeySequence(), nullptr,
         [] { OpenHelpPage("support.html"); });
    item(online, "mnuTroubleshooting", "&Troubleshooting", QKeySequence(), nullptr,
         [] { OpenHelpPage("troubleshooting.html"); });
    item(help, "About2", "&About", QKeySequence("F1"), nullptr, [this] { window_.About2Click(); });
}

void TOstrelCommands::Disable()
{
    for (QAction* a : {tbnPublish, tbnPublishAll, tbnTurbo, tbnNew, tbnDelete, tbnProperties}) {
        a->setEnabled(false);
    }
    mnu_Properties->setEnabled(false);
    mnuPublishHighlighted->setEnabled(false);
    for (QAction* a : mnuPublishHighlighted->actions()) {
        a->setEnabled(a->objectName() == "MenuExit");
    }
    tbnStop->setChecked(false);
    tbnStop->setEnabled(true);
}

void TOstrelCommands::Enable(bool recheck)
{
    for (QAction* a : {tbnPublish, tbnPublishAll, tbnTurbo, tbnNew, tbnDelete, tbnProperties}) {
        a->setEnabled(true);
    }
    mnuPublishHighlighted->setEnabled(true);
    for (QAction* a : mnuPublishHighlighted->actions()) {
        a->setEnabled(true);
    }
    mnuRecheckStatus->setEnabled(recheck);
    tbnStop->setChecked(false);
    tbnStop->setEnabled(false);
}

}  // namespace vantrel
