#include "app/OstrelU.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMetaObject>
#include <QRegularExpression>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "app/HelpPages.h"
#include "app/LogWriter.h"
#include "app/WindowPlacement.h"
#include "dialogs/AboutBoxU.h"
#include "dialogs/ChmodFormU.h"
#include "dialogs/DebugOutput.h"
#include "dialogs/FormWidthU.h"
#include "dialogs/MemoEx.h"
#include "dialogs/PublicationPropertiesU.h"
#include "dialogs/PublisherWizardU.h"
#include "dialogs/QVRPropertiesU.h"
#include "dialogs/StringGridUtils.h"
#include "dialogs/TimeoutMessageBoxU.h"
#include "dialogs/VDialog.h"
#include "dialogs/VStringGrid.h"
#include "foundation/ApiWrappers.h"
#include "foundation/ApplicationVersion.h"
#include "foundation/QelStringFunctions.h"
#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Threads.h"
#include "platform/Ui.h"
#include "platform/qt/FileChoosers.h"
#include "platform/qt/QtMessageBox.h"
#include "publishing/PublicationInfo.h"
#include "publishing/qvr_functions.h"

static void InitVantrelResources()
{
    Q_INIT_RESOURCE(vantrel);
}

namespace vantrel {
namespace {

constexpr char kCaption[] = "Vantrel";
constexpr int kPanelMinHeight = 116;
constexpr int kLogFrameMinHeight = 60;
// How long a closing waits for a run to end before the program ends without it.
constexpr int kCloseWaitMs = 15000;
// How long a restored window waits for the window manager's frame.
constexpr int kFrameWaitMs = 2000;
// How long the window's bounds rest before they are stored.
constexpr int kSaveDelayMs = 300;
constexpr char kSettingsFileFilter[] = "Vantrel settings file (*.qvr)|*.qvr";

std::function<void(int)>& ProcessExit()
{
    static std::function<void(int)> exit_process = [](int code) { std::_Exit(code); };
    return exit_process;
}

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

}  // namespace

void TOstrel::SetProcessExit(std::function<void(int)> exit_process)
{
    ProcessExit() = std::move(exit_process);
}

TOstrel::TOstrel(QWidget* parent)
    : QMainWindow(parent)
{
    InitVantrelResources();
    setObjectName("TOstrel");
    publications_ = std::make_unique<QelPublicationList>();
    session_ = std::make_unique<PublishSession>(*this, *publications_);
    setWindowTitle(kCaption);

    BuildWindow();
    about_box_ = new TAboutBox(this);
    wizard_ = new TPublisherWizard(this);
    properties_form_ = new TPublicationProperties(this);
    // Hidden until something is reported to it.
    new TDebugOutputForm(this);
    chmod_form_ = new TChmodForm(this);
    options_form_ = new TQVRPropertiesForm(this);

    SetupPublicationsGrid();
    activated_ = false;
    memoLog->clear();
    SetStatusPanel(1, "");
    SetStatusPanel(0, "");
    hang_up_mode_ = 0;
    EnableControls();
    // Settings that cannot be read are not read again value by value: each read would wait for
    // the lock anew. The first show says why and offers to try again.
    if (publications_->LoadProblem().empty()) {
        LoadWindowSettings();
        RestoreWindowPosition();
    }
    AppendLog("Vantrel v" + GetApplicationVersionString() + " started.");
}

TOstrel::~TOstrel()
{
    TPublicationStatusHound::Stop(*this);
    // Closing waits for the session; a window destroyed without closing stops the run, and the
    // session keeps what its threads still use, none of which is in the web site list.
    session_.reset();
}

void TOstrel::BuildWindow()
{
    resize(640, 460);
    tool_bar_ = addToolBar("ToolBar");
    tool_bar_->setObjectName("ToolBar");
    tool_bar_->setMovable(false);
    tool_bar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tool_bar_->setIconSize(QSize(24, 23));
    auto add_button = [this](const char* name, const char* text, QStyle::StandardPixmap icon,
                             const char* hint, void (TOstrel::*handler)()) {
        QAction* action = tool_bar_->addAction(style()->standardIcon(icon), text);
        action->setObjectName(name);
        action->setToolTip(hint);
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
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
    tool_bar_->addSeparator();
    tbnNew = add_button("tbnNew", "New...", QStyle::SP_FileIcon, "Add a new web site.",
                        &TOstrel::tbnNewClick);
    tbnDelete = add_button("tbnDelete", "Delete", QStyle::SP_TrashIcon,
                           "Remove the currently selected web site.", &TOstrel::tbnDeleteClick);
    tbnProperties = add_button("tbnProperties", "Config...", QStyle::SP_FileDialogDetailedView,
                               "Display the configuration settings of the currently selected web "
                               "site.",
                               &TOstrel::tbnPropertiesClick);
    for (QWidget* button : tool_bar_->findChildren<QWidget*>()) {
        button->setToolTipDuration(10000);
    }

    PublicationsPanel = new QWidget;
    PublicationsPanel->setObjectName("PublicationsPanel");
    PublicationsPanel->setMinimumHeight(kPanelMinHeight);
    auto* panel_layout = new QVBoxLayout(PublicationsPanel);
    auto* current = new QLabel("You currently have the following web sites defined:");
    current->setObjectName("lblCurrentWebSites");
    PublicationsGrid = new VStringGrid;
    PublicationsGrid->setObjectName("PublicationsGrid");
    PublicationsGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    PublicationsGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    PublicationsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    PublicationsGrid->verticalHeader()->hide();
    PublicationsGrid->horizontalHeader()->setStretchLastSection(true);
    connect(PublicationsGrid, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int, int) {
                if (row >= 0) {
                    UpdateConfigEnabled(VStringGrid::GridRow(row));
                }
            });
    connect(PublicationsGrid, &QTableWidget::cellDoubleClicked, this,
            [this](int, int) { tbnPropertiesClick(); });
    lblInstructions = new QLabel("To publish a web site select it and then click 'Publish'.");
    lblInstructions->setObjectName("lblInstructions");
    chkShowLog = new QCheckBox(
        "Show publication log. (This shows more information on what is being published.)");
    chkShowLog->setObjectName("chkShowLog");
    SetHint(chkShowLog,
            "Check to show (or hide) the publication log. This shows a record of "
            "what Vantrel has been doing.");
    connect(chkShowLog, &QCheckBox::toggled, this, [this] { chkShowLogClick(); });
    panel_layout->addWidget(current);
    panel_layout->addWidget(PublicationsGrid, 1);
    panel_layout->addWidget(lblInstructions);
    panel_layout->addWidget(chkShowLog);
    // Linux fonts need more room than the documented 116 pixels: the list keeps at least its
    // header and three rows in view beside its texts.
    PublicationsGrid->setMinimumHeight(GridHeightForRows(3));
    PublicationsPanel->setMinimumHeight(
        std::max(kPanelMinHeight, PublicationsPanel->minimumSizeHint().height()));

    PublicationLogFrame = new QGroupBox("Publication Log");
    PublicationLogFrame->setObjectName("PublicationLogFrame");
    PublicationLogFrame->setMinimumHeight(kLogFrameMinHeight);
    auto* log_layout = new QVBoxLayout(PublicationLogFrame);
    memoLog = new TMemoEx;
    memoLog->setObjectName("memoLog");
    memoLog->setReadOnly(true);
    memoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log_layout->addWidget(memoLog);
    log_ = std::make_unique<TLogWriter>(*memoLog);
    PublicationLogFrame->hide();

    LogSplitter = new QSplitter(Qt::Vertical);
    LogSplitter->setObjectName("LogSplitter");
    LogSplitter->setChildrenCollapsible(false);
    LogSplitter->setHandleWidth(5);
    LogSplitter->addWidget(PublicationsPanel);
    LogSplitter->addWidget(PublicationLogFrame);
    LogSplitter->setStretchFactor(0, 0);
    LogSplitter->setStretchFactor(1, 1);
    connect(LogSplitter, &QSplitter::splitterMoved, this, [this] { ScheduleSave(); });
    // A drag moves and sizes the window many times a second: it is stored once it rests.
    save_timer_ = new QTimer(this);
    save_timer_->setSingleShot(true);
    save_timer_->setInterval(kSaveDelayMs);
    connect(save_timer_, &QTimer::timeout, this, [this] { SaveWindowPosition(); });
    setCentralWidget(LogSplitter);

    statusBar()->setObjectName("StatusBar");
    statusBar()->setSizeGripEnabled(true);
    activity_panel_ = new TActivityPanel(*this, this);
    message_panel_ = new QLabel;
    message_panel_->setObjectName("MessagePanel");
    statusBar()->addWidget(activity_panel_, 1);
    statusBar()->addWidget(message_panel_, 1);

    BuildMenus();
}

void TOstrel::BuildMenus()
{
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
        connect(action, &QAction::triggered, this, std::move(handler));
        return action;
    };
    mnuPublishHighlighted = menuBar()->addMenu("File");
    mnuPublishHighlighted->setObjectName("mnuPublishHighlighted");
    mnuPublishHighlighted->setToolTipsVisible(true);
    QMenu* file = mnuPublishHighlighted;
    item(file, "mnuExportToFile", "Export to file ...", QKeySequence("Ctrl+E"),
         "Export web site settings to a file.", [this] { mnuExportToFileClick(); });
    item(file, "mnuImportFromFile", "Import from file ...", QKeySequence("Ctrl+I"),
         "Import web site settings from a file.", [this] { mnuImportFromFileClick(); });
    item(file, "mnuNewWebSite", "New Web Site...", QKeySequence("Ctrl+N"), "Create a new web site.",
         [this] { tbnNewClick(); });
    mnu_Properties = item(file, "mnu_Properties", "Site Configuration...", QKeySequence("F9"),
                          nullptr, [this] { tbnPropertiesClick(); });
    file->addSeparator();
    mnuRecheckStatus = item(file, "mnuRecheckStatus", "Recheck Status", QKeySequence("F8"),
                            "Check whether any web sites have been changed and need to be "
                            "published. Use this if you have made a change since starting and "
                            "the status is listed as published.",
                            [this] { mnuRecheckStatusClick(); });
    file->addSeparator();
    item(file, "mnu_PublishHighlighted", "Publish Highlighted Site", QKeySequence("F4"), nullptr,
         [this] {
             if (tbnPublish->isEnabled()) {
                 tbnPublishClick();
             }
         });
    mnu_PublishAll = item(file, "mnu_PublishAll", "Publish All", QKeySequence("F5"), nullptr,
                          [this] { tbnPublishAllClick(); });
    file->addSeparator();
    item(file, "MenuExit", "Exit", QKeySequence(), nullptr, [this] { close(); });

    QMenu* tools = menuBar()->addMenu("Tools");
    item(tools, "mnuOptions", "Options", QKeySequence(), nullptr, [this] { mnuOptionsClick(); });

    QMenu* help = menuBar()->addMenu("Help");
    QMenu* online = help->addMenu("Online Help");
    item(online, "FrequentlyAskedQuestions1", "Frequently Asked Questions ", QKeySequence(),
         nullptr, [] { OpenHelpPage("faq.html"); });
    item(online, "mnuGiveYourSupport1", "Your Support", QKeySequence(), nullptr,
         [] { OpenHelpPage("support.html"); });
    item(online, "mnuTroubleshooting", "Troubleshooting", QKeySequence(), nullptr,
         [] { OpenHelpPage("troubleshooting.html"); });
    item(help, "About2", "About", QKeySequence("F1"), nullptr, [this] { about_box_->Execute(); });
}

bool TOstrel::ArePublications() const
{
    return publications_->Count() > 0;
}

void TOstrel::AppendLog(const std::string& text)
{
    log_->WriteLine(Q(text));
}

QString TOstrel::StatusPanelText(int panel) const
{
    return panel == 0 ? activity_panel_->Text() : message_panel_->text();
}

void TOstrel::SetStatusPanel(int panel, const QString& text)
{
    // A panel shows one line: the lines of a message (an error's code and description, a
    // server's reply) stay apart there.
    QString line = text;
    if (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))) {
        static const QRegularExpression kLineBreaks(QStringLiteral("[\r\n]+"));
        line = text.split(kLineBreaks, Qt::SkipEmptyParts).join(QStringLiteral(" / "));
    }
    if (panel == 0) {
        activity_panel_->SetText(line);
    } else {
        message_panel_->setText(line);
    }
}

void TOstrel::RepaintStatusBar()
{
    activity_panel_->ScheduleRepaint();
}

void TOstrel::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!first_shown_) {
        first_shown_ = true;
        QTimer::singleShot(0, this, [this] { FirstShow(); });
    }
}

void TOstrel::LoadWindowSettings()
{
    options_.LoadFromRegistry(*publications_->Store());
    chkShowLog->setChecked(options_.OpenLog);
    chkShowLogClick();
    tbnTurbo->setChecked(ReadTurboOn(*publications_->Store()));
}

bool TOstrel::SettingsReadable()
{
    while (!publications_->LoadProblem().empty()) {
        // Cancel is the default: a box nobody answers must not try for ever.
        if (platform::MessageBox(publications_->LoadProblem() +
                                     "\r\n\r\nChoose Retry to read it again, or Cancel to end "
                                     "Vantrel.",
                                 "Settings cannot be read",
                                 platform::kMbIconStop | platform::kMbRetryCancel |
                                     platform::kMbDefaultButton2) != platform::kIdRetry) {
            return false;
        }
        publications_->Reload();
        if (publications_->LoadProblem().empty()) {
            LoadWindowSettings();
            RestoreWindowPosition();
            SetupPublicationsGrid();
        }
    }
    return true;
}

void TOstrel::FirstShow()
{
    // Settings that cannot be read are no first start: the wizard would make a web site that
    // is never stored.
    if (!SettingsReadable()) {
        close();
        QCoreApplication::exit(1);
        return;
    }
    RestorePanelHeight();
    if (!ArePublications()) {
        platform::MessageBox(
            "There are no web sites defined.\r\n\r\nThis probably indicates that this is the "
            "first time you have used Vantrel.\r\nThe first thing you must do is to define a web "
            "site for publishing.\r\n\r\nThe wizard will now run automatically.\r\n\r\nThis "
            "dialog only appears if you do not have any web sites defined.",
            "You need to create a web site definition",
            platform::kMbIconInformation | platform::kMbOk);
        wizard_->Execute(*publications_, true);
        if (!ArePublications()) {
            close();
            QCoreApplication::quit();
            return;
        }
        SetupPublicationsGrid();
    }
    FirstActivation();
}

void TOstrel::FirstActivation()
{
    if (activated_) {
        return;
    }
    activated_ = true;
    mnuRecheckStatusClick();
    publications_->ClearMarks();
}

void TOstrel::StatusHoundFinished()
{
    Q_ASSERT(platform::IsMainThread());
    if (status_hound_running_) {
        status_hound_running_ = false;
        mnuRecheckStatus->setEnabled(mnu_PublishAll->isEnabled());
    }
}

void TOstrel::chkShowLogClick()
{
    const bool checked = chkShowLog->isChecked();
    if (checked != options_.OpenLog) {
        options_.OpenLog = checked;
        if (!options_.SaveToRegistry(*publications_->Store())) {
            AppendLog("The options could not be saved: " + publications_->Store()->LastErrorText());
        }
    }
    if (checked) {
        // The list shows every web site where there is room, keeping the log its least height;
        // the window grows when the two would not fit.
        const int panel = PublicationsPanel->minimumHeight();
        const int needed = panel + LogSplitter->handleWidth() + kLogFrameMinHeight;
        if (LogSplitter->height() < needed && isVisible()) {
            resize(width(), height() + needed - LogSplitter->height());
        }
        PublicationLogFrame->show();
        ShowEveryRow();
    } else {
        PublicationLogFrame->hide();
    }
}

// --- Publishing ---

void TOstrel::tbnPublishClick()
{
    current_publication_ = SelectedPublication();
    if (current_publication_ == nullptr) {
        return;
    }
    if (current_publication_->Disabled &&
        platform::MessageBox("This website (" + current_publication_->GetName() +
                                 ") has been disabled. Are you sure you want to publish it?",
                             "Publication Disabled - Confirm publication",
                             platform::kMbIconQuestion | platform::kMbYesNoCancel) !=
            platform::kIdYes) {
        return;
    }
    if (!SessionListening()) {
        return;
    }
    publishing_all_ = false;
    publications_->ClearMarks();
    DisableControls();
    StartPublishing();
}

bool TOstrel::SessionListening()
{
    if (session_->Listening()) {
        return true;
    }
    // Nobody would read what a run writes: it would never be seen to end. A session that runs
    // nothing is made afresh, as the wizard's connection test tries again.
    uint32_t error = platform::kErrorNotEnoughMemory;
    if (!session_->Busy()) {
        auto fresh = std::make_unique<PublishSession>(*this, *publications_);
        error = platform::GetLastError();
        session_ = std::move(fresh);
        if (session_->Listening()) {
            return true;
        }
    }
    const std::string text = "Publishing could not start: " + platform::ErrorMessageText(error);
    AppendLog(text);
    platform::MessageBox(text, "", platform::kMbIconExclamation | platform::kMbOk);
    return false;
}

void TOstrel::tbnPublishAllClick()
{
    if (!SessionListening()) {
        return;
    }
    if (!publications_->MarkAll(tbnTurbo->isChecked())) {
        platform::MessageBox(
            publications_->Count() == 1
                ? "Your website does not need publishing, because it is already up to "
                  "date.\r\n\r\nIf you want to force it to be published then uncheck the turbo "
                  "button."
                : "None of your websites need publishing, because they are all up to "
                  "date.\r\n\r\nIf you want to force them to be published then uncheck the turbo "
                  "button\r\nor highlight a website and publish it individually.",
            "No websites need publishing", platform::kMbIconInformation | platform::kMbOk);
        return;
    }
    publishing_all_ = publications_->CountMarked() > 1;
    DisableControls();
    PublishNext();
}

void TOstrel::tbnStopClick()
{
    session_->Stop();
    tbnStop->setEnabled(false);
    tbnStop->setChecked(true);
    AppendLog("User initiated STOP");
}

void TOstrel::PublishNext()
{
    // The previous run's thread may still be freeing its devices, which write to the output
    // chain; the next devices are made only once it has gone.
    session_->AfterRun([this] { StartNextMarked(); });
}

void TOstrel::StartNextMarked()
{
    // Asked here, not before the wait for the last run's thread: Stop stays at hand while the
    // thread goes, and the next run would clear the request.
    if (tbnStop->isChecked()) {
        platform::MessageBox("Publish All - Stopped", "Publishing Interrupted",
                             platform::kMbIconInformation | platform::kMbOk);
        EnableControls();
        return;
    }
    current_publication_ = publications_->NextMarked();
    if (current_publication_ != nullptr) {
        StartPublishing();
        return;
    }
    if (options_.DisplayCompletedMessage) {
        uint32_t type = platform::kMbIconInformation | platform::kMbOk;
        if (options_.CompletedMessageGrabsAttention) {
            QApplication::alert(this);
            type |= platform::kMbSetForeground;
        }
        ShowCompletionBox("Publish All - Completed", type,
                          options_.CompletedMessageTimesout ? options_.CompletedMessageTimeout : 0);
    }
    EnableControls();
}

void TOstrel::StartPublishing()
{
    QelPublication* d = current_publication_;
    SelectGridRow(*PublicationsGrid, FindGridRow(*PublicationsGrid, 0, Q(d->GetName())));
    PublicationsGrid->repaint();
    switch (session_->Start(*d, publishing_all_, tbnTurbo->isChecked())) {
        case PublishSession::StartResult::kOpening:
            break;
        case PublishSession::StartResult::kNotConnected:
            EnableControls();
            break;
        case PublishSession::StartResult::kOtherConnection:
            PublishNext();
            break;
        case PublishSession::StartResult::kSourceFailed:
            RefreshPublicationsGrid();
            EnableControls();
            break;
    }
}

void TOstrel::RunStarting(QelPublication& d)
{
    ProgressMax = 0;
    ProgressPosition = 0;
    ActivityCount = 0;
    first_error_shown_ = false;
    SetStatusPanel(1, Q("Publishing ... " + d.GetName()));
    SetStatusPanel(0, "Connecting ...");
    AppendLog("Publishing " + d.GetName());
    activity_panel_->repaint();
    RefreshPublicationsGrid();
    UpdateConfigEnabled(0);
}

// Stop stays at hand: a stop ends the opening at once.
void TOstrel::SetConnectingLock(bool locked)
{
    menuBar()->setEnabled(!locked);
}

// The window takes no command but Stop while the destination opens.
void TOstrel::Connecting(QelPublication& d)
{
    AppendLog("Connecting to " + platform::ToPosixPath(d.Server));
    SetConnectingLock(true);
}

void TOstrel::ConnectingEnded()
{
    Q_ASSERT(platform::IsMainThread());
    SetConnectingLock(false);
}

bool TOstrel::RetryAfterTimeout(const QelPublication& d)
{
    return platform::MessageBox("Timeout while trying to connect to " +
                                    platform::ToPosixPath(d.Server) + ". Try again?",
                                "Connection attempt has timedout",
                                platform::kMbIconExclamation | platform::kMbYesNoCancel) ==
           platform::kIdYes;
}

void TOstrel::ConnectFailed(QelPublication& d)
{
    AppendLog("Failed to connect to destination " + platform::ToPosixPath(d.Server) + ".");
    RefreshPublicationsGrid();
    SetStatusPanel(0, "Failed to connect.");
    // Nothing is being published any more.
    SetStatusPanel(1, "Idle.");
    EnableControls();
}

void TOstrel::Connected(QelPublication& d)
{
    SetStatusPanel(0, "Publishing ...");
    AppendLog("Connected ... starting to publish");
    ProgressMax = d.SrcFileCount;
    activity_panel_->repaint();
    DisableControls();
}

void TOstrel::PublisherStarted(QelPublication&, bool started)
{
    if (!started) {
        AppendLog("Publishing failed.");
        RefreshPublicationsGrid();
        EnableControls();
        return;
    }
    RefreshPublicationsGrid();
}

void TOstrel::DisableControls()
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
    PublicationsGrid->setEnabled(false);
    UpdateConfigEnabled(0);
}

void TOstrel::EnableControls()
{
    PublicationsGrid->setEnabled(true);
    for (QAction* a : {tbnPublish, tbnPublishAll, tbnTurbo, tbnNew, tbnDelete, tbnProperties}) {
        a->setEnabled(true);
    }
    mnuPublishHighlighted->setEnabled(true);
    for (QAction* a : mnuPublishHighlighted->actions()) {
        a->setEnabled(true);
    }
    mnuRecheckStatus->setEnabled(!status_hound_running_);
    tbnStop->setChecked(false);
    tbnStop->setEnabled(false);
}

// --- Queue messages ---

void TOstrel::SetPercentTitle(const QString& percent)
{
    if (percent != last_percent_text_) {
        setWindowTitle(percent + "% " + kCaption);
        last_percent_text_ = percent;
    }
}

void TOstrel::HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue)
{
    Q_ASSERT(platform::IsMainThread());
    switch (kind) {
        case kQueueError: {
            const std::string text = queue.ReadError();
            AppendLog("Error: " + text);
            SetStatusPanel(0, Q(text));
            if (!first_error_shown_ && !closing_) {
                first_error_shown_ = true;
                platform::MessageBox(text, "", platform::kMbIconExclamation | platform::kMbOk);
            }
            break;
        }
        case kQueueLogText: {
            ++ActivityCount;
            const std::string text = queue.ReadMessage();
            log_->Queue(Q(text));
            SetStatusPanel(0, Q(text));
            break;
        }
        case kQueueProgress: {
            ++ActivityCount;
            QelSyncStatus status;
            queue.ReadStatus(&status);
            if (status.FilesTotal < 1) {
                break;
            }
            ProgressMax = std::max(ProgressMax, status.FilesTotal);
            ProgressPosition = status.FilesProcessed;
            RepaintStatusBar();
            SetPercentTitle(
                QString::number(static_cast<int64_t>(status.FilesProcessed) * 100 / ProgressMax));
            break;
        }
        case kQueueAlive:
            ++ActivityCount;
            RepaintStatusBar();
            break;
        default:
            break;
    }
}

std::string TOstrel::SummaryLine(int32_t count, const char* noun, const char* verb) const
{
    const QString number = PadLeftToTextWidth(fontMetrics(), QString::number(count), "0", 6, " ");
    return number.toStdString() + noun + IfNotOne(count, "s") + verb;
}

int TOstrel::ShowCompletionBox(const std::string& text, uint32_t type, int seconds)
{
    // With no count-down the self-closing box is an ordinary box.
    return ShowTimedMessageBox(text, "Publishing Completed", seconds, type);
}

void TOstrel::RunFinished(QelPublication& d, const QelSyncStatus& st, RunOutcome outcome)
{
    Q_ASSERT(platform::IsMainThread());
    if (session_->DialName() == d.Connection && d.ConnectionBehaviour != 0 && hang_up_mode_ != 1) {
        hang_up_mode_ = d.ConnectionBehaviour;
    }
    if (st.FilesTotal > 0) {
        ProgressMax = std::max(ProgressMax, st.FilesTotal);
        ProgressPosition = st.FilesProcessed;
        RepaintStatusBar();
    }
    setWindowTitle(kCaption);
    // The next run shows its first percentage even when it equals this run's last.
    last_percent_text_.clear();
    ActivityCount = 0;
    SetStatusPanel(1, "Idle.");

    const std::string& name = d.GetName();
    const bool stopped = outcome == RunOutcome::kInterrupted;
    const bool failed = outcome == RunOutcome::kFailed;
    if (stopped) {
        SetStatusPanel(0, Q("Stopped: " + name));
        AppendLog("Publishing was stopped by user.");
    } else if (failed) {
        SetStatusPanel(0, Q("Failed: " + name));
        AppendLog("Publishing failed.");
    } else {
        if (st.FilesProcessed != st.FilesTotal) {
            AppendLog(
                "Warning: Files exist at destination which have been removed from the source.");
        }
        ProgressMax = st.FilesProcessed;
        SetStatusPanel(0, Q("Published: " + name));
        AppendLog("Summary:-");
        AppendLog(SummaryLine(st.FilesProcessed, " file", " scanned"));
        AppendLog(SummaryLine(st.FoldersProcessed, " folder", " scanned"));
        AppendLog(SummaryLine(st.FilesCopied, " file", " copied"));
        AppendLog(SummaryLine(st.FoldersCreated, " folder", " created"));
        AppendLog(SummaryLine(st.FilesDeleted, " file", " deleted"));
        AppendLog(SummaryLine(st.FoldersDeleted, " folder", " deleted"));
        AppendLog("Publishing completed successfully.");
    }
    RefreshPublicationsGrid();

    if (closing_) {
        return;
    }
    if (publishing_all_) {
        PublishNext();
    } else {
        bool show = options_.DisplayCompletedMessage;
        std::string text;
        uint32_t type = platform::kMbOk;
        int seconds = 0;
        if (stopped) {
            text = "Publishing of " + name + " was interrupted and has now stopped.";
            type = platform::kMbIconStop | platform::kMbOk;
            show = true;
        } else if (failed) {
            text = "An error was encountered while publishing " + name;
            type = platform::kMbIconExclamation | platform::kMbOk;
            show = true;
        } else {
            text = "Website " + name + " has been published.\r\n\r\nSummary:-\r\n" +
                   SummaryLine(st.FilesCopied, " file", " copied") + "\r\n" +
                   SummaryLine(st.FilesDeleted, " file", " deleted") + "\r\n";
            type = platform::kMbIconInformation | platform::kMbOk;
            seconds = options_.CompletedMessageTimesout ? options_.CompletedMessageTimeout : 0;
        }
        if (options_.CompletedMessageGrabsAttention) {
            QApplication::alert(this);
            type |= platform::kMbSetForeground;
        }
        bool ask_hang_up = false;
        if (hang_up_mode_ == 2) {
            session_->HangUp();
            hang_up_mode_ = 0;
        } else if (hang_up_mode_ == 1 && session_->DialConnectionUp()) {
            text += "\r\nDo you want to hang up the connection?";
            // The same box as a question: Yes and No, the question mark in place of the
            // information sign.
            type = ((type | platform::kMbYesNo) & ~platform::kMbIconInformation) |
                   platform::kMbIconQuestion;
            show = true;
            ask_hang_up = true;
            hang_up_mode_ = 0;
        }
        if (show) {
            if (ShowCompletionBox(text, type, seconds) == platform::kIdYes && ask_hang_up) {
                session_->HangUp();
            }
        }
        EnableControls();
    }
    UpdateConfigEnabled(0);
}

// --- The grid and the commands ---

QString TOstrel::StatusText(const QelPublication& d)
{
    const bool checking = d.Checking;
    switch (d.Status) {
        case StatusNeverPublished:
            return "Never published";
        case StatusFailed:
            return "Failed!";
        case StatusPublished:
            return checking ? "Checking" : "Published";
        case StatusNeedsPublishing:
            return "Needs publishing";
        case StatusPublishing:
            return "Publishing";
        case StatusInterrupted:
            return "Interrupted";
        default:
            return checking ? "Checking" : "Unknown";
    }
}

void TOstrel::SetupPublicationsGrid()
{
    VStringGrid& grid = *PublicationsGrid;
    grid.SetColCount(3);
    grid.SetRowCount(2);
    grid.SetCell(0, 0, "Web Site");
    grid.SetCell(1, 0, "Status");
    grid.SetCell(2, 0, "Last Published");
    if (publications_->Count() == 0) {
        for (int c = 0; c < 3; ++c) {
            grid.SetCell(c, 1, "");
        }
    } else {
        grid.SetRowCount(publications_->Count() + 1);
        RefreshPublicationsGrid();
    }
    SelectGridRow(grid, 1);
}

void TOstrel::RefreshPublicationsGrid()
{
    Q_ASSERT(platform::IsMainThread());
    VStringGrid& grid = *PublicationsGrid;
    if (grid.RowCount() < publications_->Count() + 1) {
        grid.SetRowCount(publications_->Count() + 1);
    }
    for (int32_t i = 1; i <= publications_->Count(); ++i) {
        const QelPublication& d = *publications_->Items(i);
        grid.SetCell(0, i, Q(d.GetName()));
        grid.SetCell(1, i, StatusText(d));
        grid.SetCell(2, i,
                     d.LastPublished == 0 ? QString("Never")
                                          : Q(platform::FormatDateTime("c", d.LastPublished)));
        FitGridRowHeight(grid, i);
    }
    // The style draws each cell's text inside margins of its own, which the text widths leave
    // out; without them a text that just fits would be cut short.
    const int margins =
        2 * (grid.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &grid) + 1);
    for (int c = 0; c < grid.ColCount(); ++c) {
        grid.SetColWidth(c, std::max(grid.ColWidth(c), GetColumnTextWidth(grid, c) + margins));
    }
    SetGridScrollPage(grid);
}

QelPublication* TOstrel::PublicationAtRow(int row) const
{
    if (row < 1 || row >= PublicationsGrid->RowCount()) {
        return nullptr;
    }
    return publications_->FindByName(PublicationsGrid->Cell(0, row).toStdString());
}

QelPublication* TOstrel::SelectedPublication() const
{
    return PublicationAtRow(PublicationsGrid->Selection().top);
}

bool TOstrel::CanConfigure(const QelPublication& d) const
{
    if (d.Checking) {
        return false;
    }
    if (tbnPublish->isEnabled()) {
        return true;
    }
    return !d.Marked && d.Status != StatusPublishing;
}

void TOstrel::UpdateConfigEnabled(int32_t row)
{
    Q_ASSERT(platform::IsMainThread());
    const QelPublication* d = row == 0 ? SelectedPublication() : PublicationAtRow(row);
    if (d == nullptr) {
        return;
    }
    const bool enabled = CanConfigure(*d);
    mnu_Properties->setEnabled(enabled);
    tbnProperties->setEnabled(enabled);
}

void TOstrel::tbnNewClick()
{
    std::vector<std::string> before;
    for (int32_t i = 1; i <= publications_->Count(); ++i) {
        before.push_back(publications_->Items(i)->GetName());
    }
    wizard_->Execute(*publications_, false);
    SetupPublicationsGrid();
    // The web site just made is the one the user goes on with.
    for (int32_t i = 1; i <= publications_->Count(); ++i) {
        const std::string& name = publications_->Items(i)->GetName();
        if (std::find(before.begin(), before.end(), name) == before.end()) {
            SelectGridRow(*PublicationsGrid, FindGridRow(*PublicationsGrid, 0, Q(name)));
            break;
        }
    }
}

void TOstrel::tbnDeleteClick()
{
    const std::string name =
        PublicationsGrid->Cell(0, PublicationsGrid->Selection().top).toStdString();
    if (name.empty() || !publications_->Exists(name)) {
        return;
    }
    if (platform::MessageBox("Are you sure you wish to delete the publication \"" + name +
                                 "\".\r\nThis cannot be undone.",
                             "Confirm Delete",
                             platform::kMbIconQuestion | platform::kMbYesNoCancel) ==
        platform::kIdYes) {
        if (current_publication_ == publications_->FindByName(name)) {
            current_publication_ = nullptr;
        }
        publications_->Delete(name);
        SetupPublicationsGrid();
    }
}

void TOstrel::tbnPropertiesClick()
{
    const QelPublication* d = SelectedPublication();
    if (d == nullptr || !CanConfigure(*d)) {
        return;
    }
    const std::string old_name = d->GetName();
    const std::unique_ptr<QelPublication> edited = properties_form_->Execute(
        *d, [this](const std::string& name) { return publications_->Exists(name); });
    // The dialog's own event loop let the status check and a running Publish All go on: look
    // the web site up again rather than trust the pointer.
    d = publications_->FindByName(old_name);
    if (d == nullptr || QelPublication::SameSettings(*edited, *d)) {
        return;
    }
    if (!publications_->Update(old_name, *edited)) {
        publications_->TellStoreFailure(*edited, true);
    }
    SetupPublicationsGrid();
    SelectGridRow(*PublicationsGrid,
                  FindGridRow(*PublicationsGrid, 0, QString::fromStdString(edited->GetName())));
    UpdateConfigEnabled(0);
}

void TOstrel::tbnTurboClick()
{
    if (!WriteTurboOn(*publications_->Store(), tbnTurbo->isChecked())) {
        AppendLog("The Turbo setting could not be saved: " +
                  publications_->Store()->LastErrorText());
    }
}

void TOstrel::mnuOptionsClick()
{
    options_form_->Execute(options_);
    if (!options_.SaveToRegistry(*publications_->Store())) {
        platform::MessageBox(
            "The options could not be saved: " + publications_->Store()->LastErrorText(), "",
            platform::kMbIconExclamation | platform::kMbOk);
    }
    chkShowLog->setChecked(options_.OpenLog);
}

void TOstrel::mnuRecheckStatusClick()
{
    if (status_hound_running_ || publications_->Count() == 0) {
        return;
    }
    if (TPublicationStatusHound::Create(*this, *publications_)) {
        status_hound_running_ = true;
        mnuRecheckStatus->setEnabled(false);
    }
}

void TOstrel::mnuExportToFileClick()
{
    QelPublication* d = PublicationAtRow(PublicationsGrid->Selection().top);
    if (d == nullptr) {
        return;
    }
    current_publication_ = d;
    platform::FileChooserRequest request;
    request.mode = platform::FileChooserRequest::Mode::kSave;
    request.title = "Export web site settings to file";
    request.filter = kSettingsFileFilter;
    request.default_suffix = "qvr";
    request.file_name = Q(MakeSafeFileName(d->GetName()));
    QString path;
    if (!platform::FileChooser().ChooseFile(this, request, path)) {
        return;
    }
    QelIniReg store(platform::ToSystemPath(path.toStdString()));
    if (!d->SaveTo(store, true)) {
        platform::MessageBox("The settings could not be written to " + path.toStdString() + ": " +
                                 store.LastErrorText(),
                             "", platform::kMbIconExclamation | platform::kMbOk);
    }
}

void TOstrel::mnuImportFromFileClick()
{
    platform::FileChooserRequest request;
    request.mode = platform::FileChooserRequest::Mode::kOpen;
    request.title = "Import web site settings from file";
    request.filter = kSettingsFileFilter;
    QString path;
    if (!platform::FileChooser().ChooseFile(this, request, path)) {
        return;
    }
    std::string problem;
    if (ImportSettingsFile(*publications_, platform::ToSystemPath(path.toStdString()), &problem)) {
        SetupPublicationsGrid();
    } else if (!problem.empty()) {
        platform::MessageBox(problem, "", platform::kMbIconExclamation | platform::kMbOk);
    }
}

// --- Window position ---

void TOstrel::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    WindowGeometryChanged();
}

void TOstrel::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    WindowGeometryChanged();
}

void TOstrel::WindowGeometryChanged()
{
    if (pending_outer_) {
        // Framed at last: the saved outer bounds are met once the frame's share comes off.
        if (!FitFrame(*this, *pending_outer_)) {
            return;
        }
        pending_outer_.reset();
    }
    ScheduleSave();
}

void TOstrel::ScheduleSave()
{
    if (position_restored_) {
        save_timer_->start();
    }
}

void TOstrel::SaveWindowPosition()
{
    if (publications_ == nullptr || pending_outer_) {
        return;
    }
    // With the log hidden the pane fills the window: its height beside the log is kept.
    if (PublicationLogFrame->isVisible()) {
        panel_height_ = PublicationsPanel->height();
    }
    TQelRegistry& store = *publications_->Store();
    if (!SaveWindowPlacement(store, {frameGeometry(), panel_height_})) {
        qWarning("The window position could not be saved: %s", store.LastErrorText().c_str());
    }
}

void TOstrel::RestoreWindowPosition()
{
    if (const auto placement = LoadWindowPlacement(*publications_->Store())) {
        const QRect outer = KeepOnDesktop(placement->outer);
        PlaceWindow(*this, outer);
        if (frameGeometry() == geometry()) {
            pending_outer_ = outer;
        }
        panel_height_ = placement->panel_height;
    }
    position_restored_ = true;
}

void TOstrel::RestorePanelHeight()
{
    if (pending_outer_) {
        // A window manager that never frames the window: its outer bounds are its own.
        QTimer::singleShot(kFrameWaitMs, this, [this] {
            pending_outer_.reset();
            SaveWindowPosition();
        });
    }
    if (!PublicationLogFrame->isVisible()) {
        return;
    }
    if (panel_height_ > 0) {
        SetPanelHeight(panel_height_);
    } else {
        ShowEveryRow();
    }
}

void TOstrel::ShowEveryRow()
{
    const int total = LogSplitter->height();
    const int room = std::max(total / 2, total - LogSplitter->handleWidth() - kLogFrameMinHeight);
    SetPanelHeight(std::min(room, PanelHeightForRows(PublicationsGrid->rowCount())));
}

int TOstrel::ListRowHeight() const
{
    // As the rows are fitted to their texts.
    return QFontMetrics(PublicationsGrid->font()).height() + 4;
}

int TOstrel::GridHeightForRows(int rows) const
{
    return PublicationsGrid->horizontalHeader()->sizeHint().height() + rows * ListRowHeight() +
           2 * PublicationsGrid->frameWidth();
}

int TOstrel::PanelHeightForRows(int rows) const
{
    // The grid's least height holds its header and three rows; the rest of the pane is its texts.
    const int others =
        PublicationsPanel->minimumSizeHint().height() - PublicationsGrid->minimumHeight();
    return others + GridHeightForRows(std::max(rows, 3));
}

void TOstrel::SetPanelHeight(int height)
{
    // Whole rows only, so no row of the list is cut in half, and never below the least height.
    const int rows = 3 + std::max(0, height - PanelHeightForRows(3)) / ListRowHeight();
    const int panel = std::max(PublicationsPanel->minimumHeight(), PanelHeightForRows(rows));
    const int total = LogSplitter->height();
    LogSplitter->setSizes({panel, std::max(kLogFrameMinHeight, total - panel)});
    // Kept as a drag of the splitter would be.
    ScheduleSave();
}

// --- Closing ---

void TOstrel::closeEvent(QCloseEvent* event)
{
    if (!session_->Busy()) {
        if (save_timer_->isActive()) {
            save_timer_->stop();
            SaveWindowPosition();
        }
        QMainWindow::closeEvent(event);
        return;
    }
    // Nothing of a run is lost by stopping it: the stopped run is recorded as interrupted, and
    // an upload under a temporary name leaves the published file as it was. The window closes
    // once the session has shut down.
    event->ignore();
    if (closing_) {
        return;
    }
    closing_ = true;
    AppendLog("User initiated STOP");
    QTimer::singleShot(kCloseWaitMs, this, [this] { ForceExitIfStillRunning(); });
    session_->Shutdown();
}

void TOstrel::SessionShutDown()
{
    Q_ASSERT(platform::IsMainThread());
    // Not from inside the session's report.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TOstrel::ForceExitIfStillRunning()
{
    if (!session_->Busy()) {
        return;
    }
    // A device call that hangs: the threads still use the session's objects, so the program
    // ends without destroying them.
    session_->FlushErrorLog();
    platform::SetSynchronizeShutdown(true);
    ProcessExit()(0);
}

}  // namespace vantrel
