#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dialogs/VDialog.h"
#include "publishing/PublishSession.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QWidget;

// The new-web-site wizard (TPublisherWizard) and the device choice of its connection test.
namespace vantrel {

class QelPublicationList;
class QelStorageDevice;
class QelSyncBaseOutput;

// The device a connection test opens: a disk device for a disk path, else an FTP device over
// the internet library with these option bits; the server and connection type it was chosen for.
struct ConnectionTestDevice
{
    bool disk = false;
    uint8_t ftp_flags = 0;
    std::string server;
    uint8_t connection_type = 0;
    // Set when the user cancels the test: the device's waits end at once.
    const std::atomic<bool>* stop = nullptr;
};

// Makes the device of a connection test; called on the test's worker thread. The output is the
// wizard's pipe output, which outlives the device.
using ConnectionTestDeviceFactory = std::function<std::unique_ptr<QelStorageDevice>(
    const ConnectionTestDevice& device, QelSyncBaseOutput& output)>;

// The modal window that leads the user through the definition of one new web site, page by page,
// and adds it to the web site list; page 6 tests the connection before the definition exists.
// Made once and reused: every Execute starts again on the Welcome page with empty fields. The
// list is the caller's and must outlive the wizard's use of it.
//
// The connection test runs the device's creation, Open and release on a thread of the wizard's
// ConnectionTest, so a dead host or a question the device asks never freezes the window; its
// messages and then its end reach the log through the test's queue and listener thread, made at
// the first test and kept while the wizard lives. GUI thread only, but for the factory.
class TPublisherWizard : public VDialog, public IConnectionTestObserver
{
    Q_OBJECT

public:
    // Pages of PageWizard.
    static constexpr int kPageWelcome = 0;
    static constexpr int kPageName = 1;
    static constexpr int kPageSource = 2;
    static constexpr int kPageServer = 3;
    static constexpr int kPageAuthentication = 4;
    static constexpr int kPageConnection = 5;
    static constexpr int kPageTestConnection = 6;
    static constexpr int kPageBehaviour = 7;
    static constexpr int kPageCompleted = 8;

    explicit TPublisherWizard(QWidget* parent = nullptr);
    // Ends the connection test; a test still running is left to finish on its own.
    ~TPublisherWizard() override;

    // Resets the pages, shows the window modally and returns when it closes; the import panel
    // only with show_import. A definition is added by Finish or a successful import only.
    void Execute(QelPublicationList& list, bool show_import);

    // Before showing: no wider than the screen allows.
    void setVisible(bool visible) override;

    // The listener's delivery of the connection test's messages: errors and log texts become
    // lines of memoTestLog; counters are read and dropped.
    void HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue) override;

    // Replaces the connection test's device maker (tests); an empty one puts the real one back.
    void SetDeviceFactory(ConnectionTestDeviceFactory factory);
    // The real maker: the destination device of a definition of the server alone, with the
    // connection test's options (no connection state, alive callback, dot-file state or time
    // drift of its own, port and time-outs 0).
    static std::unique_ptr<QelStorageDevice> MakeTestDevice(const ConnectionTestDevice& device,
                                                            QelSyncBaseOutput& output);

    // The highest page the page control may show now.
    int HighestReachablePage() const { return reachable_page_; }
    bool ConnectionTestRunning() const { return testing_; }
    // The test's listener thread, null before the first test.
    const TListenOnQueue* TestListener() const
    {
        return connection_test_ != nullptr ? connection_test_->Listener() : nullptr;
    }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Esc leaves as the title bar's close does.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // What the definition and the test get from ConnectionCombo.
    struct ConnectionChoice
    {
        std::string name;
        uint8_t type = 0;
    };
    void BuildPages();
    QWidget* AddPage(const char* name, const QString& caption);
    QPushButton* AddButton(QWidget* page, const char* name, const QString& text);

    void PageWizardChange(int index);
    // The button Enter presses on the page shown.
    QPushButton* PageDefaultButton() const;
    void FocusFirstControl();
    void SelectNextPage();
    void SelectPreviousPage();
    void Reach(int page);

    // Cuts leading characters up to code 32 from the edit, keeping the caret; true when the text
    // was put back (the edit's change handler then runs again).
    static bool TrimLeft(QLineEdit* edit);
    void PublicationNameChange();
    void NameNext();
    void SourceDirectoryChange();
    void SourceNextButtonClick();
    void BrowseButtonClick();
    void FtpServerChange();
    // Whether the destination is a local or network folder, which asks for no credentials.
    bool LocalDestination() const;
    void UpdateCredentials();
    void UsernameChange();
    bool CheckCredentials(bool show_mismatch);
    void EdtPassword2Return();
    ConnectionChoice Connection() const;
    // Why Finish cannot add the name now; empty when it can.
    std::string NameProblem() const;
    void FinishButtonClick();
    void BtnImportClick();

    void BtnTestConnectionClick();
    bool MakeTestObjects();
    void SetTestRunning(bool running);
    // GUI thread, behind the test's last message.
    void ConnectionTestEnded(bool passed) override;
    void ConnectionTestDone(bool passed);
    void AddLogLine(const std::string& text);

    QelPublicationList* list_ = nullptr;
    int reachable_page_ = 1;
    // While a failed source check holds back the later pages, the highest page reachable before
    // it; 0 otherwise. A source that then passes frees those pages again.
    int reachable_before_source_failure_ = 0;
    int previous_page_ = 0;
    bool first_activation_ = false;

    QTabWidget* PageWizard;
    QPushButton* WelcomeNextButton;
    QWidget* ImportPanel;
    QPushButton* btnImport;
    QLineEdit* PublicationName;
    QLabel* lblNameTaken;
    QPushButton* NameNextButton;
    QLineEdit* SourceDirectory;
    QPushButton* BrowseButton;
    QPushButton* SourceNextButton;
    QLineEdit* FtpServer;
    QPushButton* ServerNextButton;
    QLineEdit* Username;
    QLineEdit* edt_password;
    QLineEdit* edt_password2;
    QLabel* lbl_password_error;
    QPushButton* AuthenticationNextButton;
    QComboBox* ConnectionCombo;
    QPushButton* ConnectionNextButton;
    QPushButton* btnTestConnection;
    QLabel* lblTestStatus;
    QPlainTextEdit* memoTestLog;
    QLabel* lblFailedMessage;
    QPushButton* Button8;
    QPushButton* Button10;
    QRadioButton* rdoDeleteYes;
    QRadioButton* rdoDeleteList;
    QRadioButton* rdoDeleteNo;
    QPushButton* BehaviourNextButton;
    QPushButton* FinishButton;

    ConnectionTestDeviceFactory device_factory_;
    bool testing_ = false;
    // Made at the first test and kept.
    std::unique_ptr<ConnectionTest> connection_test_;
};

}  // namespace vantrel
