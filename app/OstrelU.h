#pragma once

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "publishing/PublicationStatusHoundU.h"
#include "publishing/PublishSession.h"
#include "publishing/QVRProperties.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QSplitter;

// The main window (TOstrel).
namespace vantrel {
class QelPublication;
class QelPublicationList;
class TAboutBox;
class TActivityPanel;
class TChmodForm;
class TLogWriter;
class TMemoEx;
class TOstrelCommands;
class TPublicationProperties;
class TPublisherWizard;
class TQVRPropertiesForm;
class TStatusPanels;
class MainWindowLayout;
class VStringGrid;

// The program's main window: the web site grid, publishing one or all web sites, the log pane
// and the progress in the status bar. It owns the web site list and the publishing session, which
// assembles and runs every publish and reports to it. Everything runs on the GUI thread; the
// session's listener and the status check reach it through synchronised calls.
class TOstrel : public QMainWindow, public IPublishSessionObserver, public IStatusHoundOwner
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
    void About2Click();
    void SaveWindowPosition();
    void RestoreWindowPosition();

    QelPublicationList& Publications() { return *publications_; }
    TQVRProperties& Options() { return options_; }
    QelSyncFlags& SyncFlags() { return session_->Flags(); }
    QString StatusPanelText(int panel) const;
    // Whether a run is on: devices being opened, or the publisher thread working.
    bool Publishing() const { return session_->Publishing(); }
    bool Connecting() const { return session_->Connecting(); }

    // How the program ends when a closing cannot wait for a run any longer; tests replace it.
    static void SetProcessExit(std::function<void(int)> exit_process);

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    // The session's reports.
    void RunStarting(QelPublication& d) override;
    void Connecting(QelPublication& d) override;
    void ConnectingEnded() override;
    bool RetryAfterTimeout(const QelPublication& d) override;
    void ConnectFailed(QelPublication& d) override;
    void Connected(QelPublication& d) override;
    void PublisherStarted(QelPublication& d, bool started) override;
    void RunFinished(QelPublication& d, const QelSyncStatus& st, RunOutcome outcome) override;
    void SessionShutDown() override;

private:
    void BuildWindow();
    // The options, the log pane's state and Turbo, from the settings store.
    void LoadWindowSettings();
    // While the settings file cannot be read, says why and offers to read it again; false when
    // the user gives up.
    bool SettingsReadable();
    void FirstShow();
    void FirstActivation();
    void SetStatusPanel(int panel, const QString& text);
    void SetPercentTitle(const QString& percent);
    void StartNextMarked();
    // Publish All once its look at the published web sites is over.
    void PublishAllLooked();
    // Marks the web sites to publish and starts with the first, or says none needs it.
    void ChoosePublishAll();
    // A run that failed before its publisher thread ran: a Publish All goes on with the next.
    void GoOnAfterFailure(const QelPublication& d);
    // Keeps a failed web site of a Publish All for its last box.
    void NoteFailure(const QelPublication& d);
    void ForceExitIfStillRunning();
    std::string SummaryLine(int32_t count, const char* noun, const char* verb) const;
    int ShowCompletionBox(const std::string& text, uint32_t type, int seconds);
    void SetConnectingLock(bool locked);
    // Whether the session's listener runs, making the session afresh when it does not; a
    // listener that cannot start is told.
    bool SessionListening();

    std::unique_ptr<QelPublicationList> publications_;
    // Borrows the list, so it goes first.
    std::unique_ptr<PublishSession> session_;
    TQVRProperties options_;

    bool status_hound_running_ = false;
    bool activated_ = false;
    bool first_shown_ = false;
    bool closing_ = false;
    QelPublication* current_publication_ = nullptr;
    bool publishing_all_ = false;
    // A Turbo Publish All looks at the published web sites before it chooses.
    bool looking_ = false;
    // The web sites of this Publish All that failed, each with the first line of its error.
    std::vector<std::string> publish_all_failures_;
    QString last_percent_text_;
    uint8_t hang_up_mode_ = 0;
    bool first_error_shown_ = false;

    // Windows made once at start.
    TAboutBox* about_box_ = nullptr;
    TPublisherWizard* wizard_ = nullptr;
    TChmodForm* chmod_form_ = nullptr;
    TQVRPropertiesForm* options_form_ = nullptr;
    TPublicationProperties* properties_form_ = nullptr;

    std::unique_ptr<TOstrelCommands> commands_;
    QSplitter* LogSplitter = nullptr;
    QWidget* PublicationsPanel = nullptr;
    VStringGrid* PublicationsGrid = nullptr;
    QLabel* lblInstructions = nullptr;
    QCheckBox* chkShowLog = nullptr;
    QGroupBox* PublicationLogFrame = nullptr;
    TMemoEx* memoLog = nullptr;
    std::unique_ptr<TLogWriter> log_;
    // Borrows the list and the widgets above.
    std::unique_ptr<MainWindowLayout> placement_;
    std::unique_ptr<TStatusPanels> status_panels_;
    TActivityPanel* activity_panel_ = nullptr;
};

}  // namespace vantrel
