#include "app/OstrelU.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMetaObject>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "app/ActivityPanel.h"
#include "app/LogWriter.h"
#include "app/OstrelCommands.h"
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
#include "platform/Version.h"
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

constexpr int kPanelMinHeight = 116;
constexpr int kLogFrameMinHeight = 60;
// How long a closing waits for a run to end before the program ends without it.
constexpr int kCloseWaitMs = 15000;
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
    setWindowTitle(platform::kApplicationTitle);

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
    commands_ = std::make_unique<TOstrelCommands>(*this);

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
    // Tab moves on to the window's next control; only the arrow keys and the mouse choose the
    // web site that Publish and the other commands act on.
    PublicationsGrid->setTabKeyNavigation(false);
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
    placement_ =
        std::make_unique<MainWindowLayout>(*this, *LogSplitter, *PublicationsGrid, *publications_);
    setCentralWidget(LogSplitter);

    status_panels_ = std::make_unique<TStatusPanels>(*statusBar());
    activity_panel_ = &status_panels_->Activity();

    commands_->BuildMenus();
}

void TOstrel::About2Click()
{
    about_box_->Execute();
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
    return status_panels_->Text(panel);
}

void TOstrel::SetStatusPanel(int panel, const QString& text)
{
    status_panels_->SetText(panel, text);
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
    commands_->tbnTurbo->setChecked(ReadTurboOn(*publications_->Store()));
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
    placement_->FirstShown();
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
        commands_->mnuRecheckStatus->setEnabled(commands_->mnu_PublishAll->isEnabled());
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
    placement_->ShowLog(checked);
}

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
    session_->BeginErrorLog();
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
    // Turbo leaves out the web sites published when the status was last checked; what changed in
    // their sources since then is looked for first, as the status check does.
    std::vector<std::string> published;
    if (commands_->tbnTurbo->isChecked()) {
        for (int32_t i = 1; i <= publications_->Count(); ++i) {
            const QelPublication& d = *publications_->Items(i);
            if (d.Status == StatusPublished && !d.Disabled) {
                published.push_back(d.GetName());
            }
        }
    }
    if (published.empty()) {
        ChoosePublishAll();
        return;
    }
    DisableControls();
    // Behind the look's last synchronised call, so that its thread is not kept waiting by the
    // runs and boxes that follow.
    const auto looked = [this] {
        QMetaObject::invokeMethod(
            this, [this] { PublishAllLooked(); }, Qt::QueuedConnection);
    };
    if (TPublicationStatusHound::Look(*this, *publications_, std::move(published), looked)) {
        looking_ = true;
        return;
    }
    const std::string text =
        "Publishing could not start: " + platform::ErrorMessageText(platform::GetLastError());
    AppendLog(text);
    EnableControls();
    platform::MessageBox(text, "", platform::kMbIconExclamation | platform::kMbOk);
}

void TOstrel::PublishAllLooked()
{
    looking_ = false;
    if (commands_->tbnStop->isChecked()) {
        EnableControls();
        platform::MessageBox("Publish All - Stopped", "Publishing Interrupted",
                             platform::kMbIconInformation | platform::kMbOk);
        return;
    }
    ChoosePublishAll();
}

void TOstrel::ChoosePublishAll()
{
    if (!publications_->MarkAll(commands_->tbnTurbo->isChecked())) {
        EnableControls();
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
    publish_all_failures_.clear();
    session_->BeginErrorLog();
    DisableControls();
    PublishNext();
}

void TOstrel::tbnStopClick()
{
    if (looking_) {
        TPublicationStatusHound::CancelLooks(*this);
    }
    session_->Stop();
    commands_->tbnStop->setEnabled(false);
    commands_->tbnStop->setChecked(true);
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
    if (commands_->tbnStop->isChecked()) {
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
    if (!publish_all_failures_.empty()) {
        // Told whatever the options say, as a single run's failure is, and never closing by
        // itself: nobody may have been there to see the web sites fail.
        std::string text =
            "Publish All - Completed with errors.\r\n\r\nAn error was encountered while "
            "publishing:";
        for (const std::string& failure : publish_all_failures_) {
            text += "\r\n" + failure;
        }
        uint32_t type = platform::kMbIconExclamation | platform::kMbOk;
        if (options_.CompletedMessageGrabsAttention) {
            QApplication::alert(this);
            type |= platform::kMbSetForeground;
        }
        ShowCompletionBox(text, type, 0);
    } else if (options_.DisplayCompletedMessage) {
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
    switch (session_->Start(*d, publishing_all_, commands_->tbnTurbo->isChecked())) {
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
            GoOnAfterFailure(*d);
            break;
    }
}

void TOstrel::GoOnAfterFailure(const QelPublication& d)
{
    if (!publishing_all_) {
        EnableControls();
        return;
    }
    NoteFailure(d);
    PublishNext();
}

void TOstrel::NoteFailure(const QelPublication& d)
{
    // The first line of the error: enough to tell the web sites' failures apart.
    const std::string& error = d.LastErrorText;
    const std::string reason = error.substr(0, error.find_first_of("\r\n"));
    publish_all_failures_.push_back(reason.empty() ? d.GetName() : d.GetName() + ": " + reason);
}

void TOstrel::RunStarting(QelPublication& d)
{
    activity_panel_->StartRun();
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
    GoOnAfterFailure(d);
}

void TOstrel::Connected(QelPublication& d)
{
    SetStatusPanel(0, "Publishing ...");
    AppendLog("Connected ... starting to publish");
    activity_panel_->StartBar(d.SrcFileCount);
    activity_panel_->repaint();
    DisableControls();
}

void TOstrel::PublisherStarted(QelPublication& d, bool started)
{
    if (!started) {
        AppendLog("Publishing failed.");
        RefreshPublicationsGrid();
        GoOnAfterFailure(d);
        return;
    }
    RefreshPublicationsGrid();
}

void TOstrel::DisableControls()
{
    commands_->Disable();
    PublicationsGrid->setEnabled(false);
    UpdateConfigEnabled(0);
}

void TOstrel::EnableControls()
{
    PublicationsGrid->setEnabled(true);
    commands_->Enable(!status_hound_running_);
}

void TOstrel::SetPercentTitle(const QString& percent)
{
    if (percent != last_percent_text_) {
        setWindowTitle(percent + "% " + platform::kApplicationTitle);
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
            // A Publish All goes on unattended: its last box names the web sites that failed.
            if (!first_error_shown_ && !closing_ && !publishing_all_) {
                first_error_shown_ = true;
                platform::MessageBox(text, "", platform::kMbIconExclamation | platform::kMbOk);
            }
            break;
        }
        case kQueueLogText: {
            activity_panel_->Tick();
            const std::string text = queue.ReadMessage();
            log_->Queue(Q(text));
            SetStatusPanel(0, Q(text));
            break;
        }
        case kQueueProgress: {
            QelSyncStatus status;
            queue.ReadStatus(&status);
            if (const auto percent =
                    activity_panel_->Progress(status.FilesTotal, status.FilesProcessed)) {
                SetPercentTitle(QString::number(*percent));
            }
            break;
        }
        case kQueueAlive:
            activity_panel_->Alive();
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
    activity_panel_->Finish(st.FilesTotal, st.FilesProcessed);
    setWindowTitle(platform::kApplicationTitle);
    // The next run shows its first percentage even when it equals this run's last.
    last_percent_text_.clear();
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
        activity_panel_->Published(st.FilesProcessed);
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
        if (failed) {
            NoteFailure(d);
        }
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
    if (commands_->tbnPublish->isEnabled()) {
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
    commands_->mnu_Properties->setEnabled(enabled);
    commands_->tbnProperties->setEnabled(enabled);
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
    if (!WriteTurboOn(*publications_->Store(), commands_->tbnTurbo->isChecked())) {
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
        commands_->mnuRecheckStatus->setEnabled(false);
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

void TOstrel::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (placement_ != nullptr) {
        placement_->GeometryChanged();
    }
}

void TOstrel::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (placement_ != nullptr) {
        placement_->GeometryChanged();
    }
}

void TOstrel::SaveWindowPosition()
{
    if (publications_ != nullptr) {
        placement_->Save();
    }
}

void TOstrel::RestoreWindowPosition()
{
    placement_->Restore();
}

void TOstrel::closeEvent(QCloseEvent* event)
{
    if (!session_->Busy()) {
        placement_->SaveNow();
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
