#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/QelDateFunctions.h"
#include "publishing/PublicationStatusHoundU.h"
#include "publishing/PublisherMessageQueue.h"
#include "publishing/QVRProperties.h"
#include "storage/FtpStorage.h"
#include "sync/QelSyncFlags.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QSplitter;
class QTimer;
class QToolBar;

// The main window (TOstrel) with its alive callback (TAliveCallback) and the owner-drawn
// activity panel of its status bar (TActivityPanel); MakeSafeFileName for the export.
namespace vantrel {
class QelPublication;
class QelPublicationList;
class QelStorageDevice;
class QelSyncBackupWorker;
class QelSyncLogFileOutput;
class TAboutBox;
class TChmodForm;
class TMemoEx;
class TOstrel;
class TPublicationProperties;
class TPublisherWizard;
class TQVRPropertiesForm;
class VStringGrid;

// Puts an alive message into the queue while an FTP connection shows activity. Called on the
// thread of the FTP call; the pipe output is borrowed from the output chain, which outlives it.
class TAliveCallback : public IFtpAliveInterface
{
public:
    explicit TAliveCallback(TOutputToPipe* pipe)
        : pipe_(pipe)
    {}
    void Alive() override;

private:
    TOutputToPipe* pipe_;
};

// Status panel 0: the progress bar of a run, its activity marker and the panel's text, drawn
// from the main window's counters.
class TActivityPanel : public QWidget
{
    Q_OBJECT
public:
    explicit TActivityPanel(TOstrel& owner);
    QString Text() const { return text_; }
    void SetText(const QString& text);
    // Repaints soon: at once when the last paint is a while ago, else when that while is over,
    // so that a run's stream of messages repaints the panel a few tens of times a second at most.
    void ScheduleRepaint();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TOstrel& owner_;
    QString text_;
    QElapsedTimer painted_;
    QTimer* repaint_timer_ = nullptr;
};

// The file name an export proposes: the name's ASCII letters and digits, each run of other
// characters between two of them as one "_", none at either end.
std::string MakeSafeFileName(const std::string& name);

// The program's main window: the web site grid, publishing one or all web sites, the log pane
// and the progress in the status bar. It owns the message queue with its listener thread, the
// output chain, the run options, the worker and the web site list. Everything runs on the GUI
// thread; the listener and the status check reach it through synchronised calls.
class TOstrel : public QMainWindow, public IQueueListener, public IStatusHoundOwner
{
    Q_OBJECT
public:
    explicit TOstrel(QWidget* parent = nullptr);
    ~TOstrel() override;

    bool ArePublications() const;
    void AppendLog(const std::string& text);

    // Publishing.
    void tbnPublishClick();
    void tbnPublishAllClick();
    void tbnStopClick();
    void StartPublishing();
    void PublishNext();
    void DisableControls();
    void EnableControls();

    void HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue) override;

    // The grid and the commands.
    void SetupPublicationsGrid();
    void RefreshPublicationsGrid() override;
    void UpdateConfigEnabled(int32_t row) override;
    void StatusHoundFinished() override;
    QelPublication* PublicationAtRow(int row) const;
    QelPublication* SelectedPublication() const;
    bool CanConfigure(const QelPublication& definition) const;
    static QString StatusText(const QelPublication& definition);
    void tbnNewClick();
    void tbnDeleteClick();
    void tbnPropertiesClick();
    void tbnTurboClick();
    void mnuOptionsClick();
    void mnuRecheckStatusClick();
    void mnuExportToFileClick();
    void mnuImportFromFileClick();
    void chkShowLogClick();
    void SaveWindowPosition();
    void RestoreWindowPosition();

    QelPublicationList& Publications() { return *publications_; }
    TQVRProperties& Options() { return options_; }
    QelSyncFlags& SyncFlags() { return *sync_flags_; }
    QString StatusPanelText(int panel) const;
    // Whether a run is on: devices being opened, or the publisher thread working.
    bool Publishing() const { return connecting_ || publisher_running_; }
    bool Connecting() const { return connecting_; }

    // How the program ends when a closing cannot wait for a run any longer; tests replace it.
    static void SetProcessExit(std::function<void(int)> exit_process);

    int32_t ProgressMax = 0;
    int32_t ProgressPosition = 0;
    int32_t ActivityCount = 0;

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct OpenAttempt;

    void BuildWindow();
    void BuildMenus();
    void FirstShow();
    void FirstActivation();
    void SetStatusPanel(int panel, const QString& text);
    void RepaintStatusBar();
    void SetPercentTitle(const QString& percent);
    void OpenDestination(std::shared_ptr<OpenAttempt> attempt);
    void DestinationOpened(std::shared_ptr<OpenAttempt> attempt);
    void FailedToConnect(std::shared_ptr<OpenAttempt> attempt);
    void RunFinished(const QelSyncStatus& status);
    std::string SummaryLine(int32_t count, const char* noun, const char* verb) const;
    int ShowCompletionBox(const std::string& text, uint32_t type, int seconds);
    void SetConnectingLock(bool locked);
    void OpenHelpPage(const char* file_name);
    // A run's log texts reach the log pane in batches: each waits at most a few tens of
    // milliseconds, and every other log line flushes the waiting ones first, keeping the order.
    void QueueLogText(const std::string& text);
    void FlushLog();
    void WriteLog(const QString& text, bool drop_empty_last_line);

    // Built in OnCreate's order.
    std::unique_ptr<TPublisherMessageQueue> queue_;
    std::unique_ptr<TListenOnQueue> listener_;
    std::shared_ptr<IFtpAliveInterface> alive_callback_;
    QelSyncLogFileOutput* error_log_ = nullptr;  // owned by the output chain
    std::unique_ptr<QelSyncBaseOutput> output_chain_;
    std::unique_ptr<QelPublicationList> publications_;
    std::unique_ptr<QelSyncFlags> sync_flags_;
    std::unique_ptr<TFtpPersistentInformation> connection_state_;
    std::unique_ptr<QelSyncBackupWorker> worker_;
    TQVRProperties options_;

    bool status_hound_running_ = false;
    bool activated_ = false;
    bool first_shown_ = false;
    bool position_restored_ = false;
    TDateTime start_time_ = 0;
    bool publisher_running_ = false;
    bool connecting_ = false;
    bool closing_ = false;
    QelPublication* current_publication_ = nullptr;
    bool publishing_all_ = false;
    QString last_percent_text_;
    QStringList pending_log_;
    QTimer* log_timer_ = nullptr;
    uint8_t hang_up_mode_ = 0;
    bool first_error_shown_ = false;

    // Windows made once at start.
    TAboutBox* about_box_ = nullptr;
    TPublisherWizard* wizard_ = nullptr;
    TChmodForm* chmod_form_ = nullptr;
    TQVRPropertiesForm* options_form_ = nullptr;
    TPublicationProperties* properties_form_ = nullptr;

    QToolBar* tool_bar_ = nullptr;
    QAction* tbnPublish = nullptr;
    QAction* tbnPublishAll = nullptr;
    QAction* tbnStop = nullptr;
    QAction* tbnTurbo = nullptr;
    QAction* tbnNew = nullptr;
    QAction* tbnDelete = nullptr;
    QAction* tbnProperties = nullptr;
    QMenu* mnuPublishHighlighted = nullptr;
    QAction* mnu_Properties = nullptr;
    QAction* mnuRecheckStatus = nullptr;
    QAction* mnu_PublishAll = nullptr;
    QSplitter* LogSplitter = nullptr;
    QWidget* PublicationsPanel = nullptr;
    VStringGrid* PublicationsGrid = nullptr;
    QLabel* lblInstructions = nullptr;
    QCheckBox* chkShowLog = nullptr;
    QGroupBox* PublicationLogFrame = nullptr;
    TMemoEx* memoLog = nullptr;
    TActivityPanel* activity_panel_ = nullptr;
    QLabel* message_panel_ = nullptr;
};

}  // namespace vantrel
