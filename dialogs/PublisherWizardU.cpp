#include "dialogs/PublisherWizardU.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "dialogs/BrowseForFolderU.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Threads.h"
#include "platform/Ui.h"
#include "platform/qt/FileChoosers.h"
#include "publishing/PublicationInfo.h"
#include "publishing/qvr_functions.h"
#include "storage/DUN.h"
#include "storage/DiskStorage.h"

namespace vantrel {
namespace {

const QString kAnyConnection = QStringLiteral("Any/LAN connection");
const QString kLanOnly = QStringLiteral("LAN only");
const QString kPrevious = QStringLiteral("< Previous");
const QString kNext = QStringLiteral("Next >");

const QColor kPassedColour(0, 128, 0);
const QColor kFailedColour(255, 0, 0);

std::string Text(const QLineEdit* edit)
{
    return edit->text().toStdString();
}

std::string WithoutTrailingBlanks(std::string name)
{
    while (!name.empty() && static_cast<unsigned char>(name.back()) <= ' ') {
        name.pop_back();
    }
    return name;
}

// Whether the name is taken: the list and its registry keys compare names exactly, so a listed
// "Alpha " refuses "Alpha " itself; and a name that differs from a listed one only by trailing
// blanks and control characters would look the same in every list, so "Alpha  " is taken by
// "Alpha" too.
bool NameTaken(const QelPublicationList& list, const std::string& name)
{
    return list.Exists(name) || list.Exists(WithoutTrailingBlanks(name));
}

// A local path as the user reads it on this platform: with "/" separators, however typed.
std::string ShownPath(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// The destination root as a run takes it: without one trailing separator.
std::string RootFolder(std::string path)
{
    if (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) {
        path.pop_back();
    }
    return path;
}

void WriteFailure(QelSyncBaseOutput& output,
                  const std::string& what,
                  uint32_t error,
                  const std::string& description)
{
    output.Write(kMsgError, what);
    output.Write(kMsgError, "Error code: " + std::to_string(error));
    output.Write(kMsgError, "Description: " + description);
}

// Whether a run could publish into the local folder `destination`, told the way the run meets
// it: a source apart from it, then the folder, which the run makes when only its last part is
// missing. Called on the connection test's thread with the opened disk device.
bool TestLocalDestination(QelStorageDevice& device,
                          const std::string& source,
                          const std::string& destination,
                          QelSyncBaseOutput& output)
{
    // Found here, before the first Publish could copy the site into itself or delete its
    // master copy.
    const std::string overlap = DiskStorageDevice::OverlapError(source, destination);
    if (!overlap.empty()) {
        output.Write(kMsgError, overlap);
        return false;
    }
    const std::string root = RootFolder(destination);
    if (device.ChangeDirectory(root)) {
        return true;
    }
    const uint32_t error = device.GetLastError();
    const std::string shown = ShownPath(destination);
    if (error != platform::kErrorFileNotFound && error != platform::kErrorPathNotFound) {
        WriteFailure(output, "Failed to open folder " + shown, error, device.GetLastErrorText());
        return false;
    }
    // Making the folder and taking it away again tells whether the run could make it: its
    // parent must be there and take a new folder.
    if (!device.CreateDirectory(root)) {
        const uint32_t create_error = device.GetLastError();
        WriteFailure(output, "Failed to create folder " + shown, create_error,
                     device.GetLastErrorText());
        return false;
    }
    if (!device.RemoveDirectory(root)) {
        // The device has said why; the run will find the folder made.
        output.Write(kMsgInformation, "Folder " + shown + " has been created.");
        return true;
    }
    output.Write(kMsgInformation, "Folder " + shown +
                                      " does not exist yet; it will be created when the site "
                                      "is published.");
    return true;
}

QLabel* AddText(QWidget* page, QBoxLayout* layout, const QString& text)
{
    auto* label = new QLabel(text, page);
    label->setWordWrap(true);
    layout->addWidget(label);
    return label;
}

void SetTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

// A bold warning in the failure colour whose room is kept while it is hidden, so that the page
// does not jump when it shows.
QLabel* MakeWarningLabel(QWidget* page, const char* object_name, const QString& text = {})
{
    auto* label = new QLabel(text, page);
    label->setObjectName(QString::fromLatin1(object_name));
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    SetTextColour(label, kFailedColour);
    QSizePolicy keep = label->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    label->setSizePolicy(keep);
    return label;
}

}  // namespace

TPublisherWizard::TPublisherWizard(QWidget* parent)
    : VDialog(parent)
{
    setObjectName(QStringLiteral("PublisherWizard"));
    setWindowTitle(QStringLiteral("Vantrel - New web site Wizard"));
    BuildPages();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageWizard);
    // Enter in these edits has a handler of its own: the next field, or the next page.
    for (QWidget* edit :
         {PublicationName, SourceDirectory, FtpServer, Username, edt_password, edt_password2}) {
        KeepEnter(edit);
    }
    connect(PageWizard, &QTabWidget::currentChanged, this, &TPublisherWizard::PageWizardChange);
}

TPublisherWizard::~TPublisherWizard() = default;

QWidget* TPublisherWizard::AddPage(const char* name, const QString& caption)
{
    auto* page = new QWidget(PageWizard);
    page->setObjectName(QString::fromLatin1(name));
    auto* layout = new QVBoxLayout(page);
    layout->setAlignment(Qt::AlignTop);
    // A page taller than the screen scrolls.
    PageWizard->addTab(ScrollingPage(page), caption);
    return page;
}

QPushButton* TPublisherWizard::AddButton(QWidget* page, const char* name, const QString& text)
{
    auto* button = new QPushButton(text, page);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

void TPublisherWizard::BuildPages()
{
    PageWizard = new QTabWidget(this);
    PageWizard->setObjectName(QStringLiteral("PageWizard"));

    // The bottom row of a page: "< Previous" at the left, "Next >" (or Finish) at the right.
    auto navigation = [this](QWidget* page, QPushButton* previous, QPushButton* next) {
        auto* layout = static_cast<QVBoxLayout*>(page->layout());
        layout->addStretch(1);
        auto* row = new QHBoxLayout;
        if (previous != nullptr) {
            row->addWidget(previous);
            connect(previous, &QPushButton::clicked, this, &TPublisherWizard::SelectPreviousPage);
        }
        row->addStretch(1);
        if (next != nullptr) {
            row->addWidget(next);
        }
        layout->addLayout(row);
    };
    auto plain_next = [this](QPushButton* next) {
        connect(next, &QPushButton::clicked, this, &TPublisherWizard::SelectNextPage);
    };

    // 0: Welcome.
    {
        QWidget* page = AddPage("TabWelcome", QStringLiteral("Welcome"));
        auto* layout = static_cast<QVBoxLayout*>(page->layout());
        AddText(page, layout,
                QStringLiteral("This is the Vantrel Wizard. It will guide you through the process "
                               "of setting up everything needed to publish a web site.\n\n"
                               "Click on 'Next >' to start the wizard."));
        ImportPanel = new QFrame(page);
        ImportPanel->setObjectName(QStringLiteral("ImportPanel"));
        static_cast<QFrame*>(ImportPanel)->setFrameShape(QFrame::StyledPanel);
        auto* panel = new QHBoxLayout(ImportPanel);
        auto* import_text = new QLabel(
            QStringLiteral("Alternately, if you have previously exported your web site settings "
                           "from another machine then you can by-pass this wizard by import them "
                           "now."),
            ImportPanel);
        import_text->setWordWrap(true);
        panel->addWidget(import_text, 1);
        btnImport = AddButton(ImportPanel, "btnImport", QStringLiteral("Import ..."));
        SetHint(btnImport, QStringLiteral("Import previously saved settings."));
        panel->addWidget(btnImport, 0, Qt::AlignVCenter);
        layout->addSpacing(8);
        layout->addWidget(ImportPanel);
        WelcomeNextButton = AddButton(page, "WelcomeNextButton", kNext);
        plain_next(WelcomeNextButton);
        navigation(page, nullptr, WelcomeNextButton);
        connect(btnImport, &QPushButton::clicked, this, &TPublisherWizard::BtnImportClick);
    }

    // 1: Web Site Name.
    {
        QWidget* page = AddPage("TabName", QStringLiteral("Web Site Name"));
        auto* layout = static_cast<QVBoxLayout*>(page->layout());
        AddText(page, layout,
                QStringLiteral("Enter the name of the web site. This is the name that Vantrel will "
                               "use when referring to your website. The website address is "
                               "probably simplest."));
        PublicationName = new QLineEdit(page);
        PublicationName->setObjectName(QStringLiteral("PublicationName"));
        layout->addWidget(PublicationName);
        // Says why "Next >" stays greyed out for a name that is taken.
        lblNameTaken = MakeWarningLabel(page, "lblNameTaken");
        lblNameTaken->setWordWrap(true);
        lblNameTaken->hide();
        layout->addWidget(lblNameTaken);
        AddText(page, layout,
                QStringLiteral("Each web site must have a unique name. It is probably best to "
                               "select a name which you naturally associate with your website - "
                               "and the address (i.e. its URL) is therefore a natural choice."));
        NameNextButton = AddButton(page, "NameNextButton", kNext);
        plain_next(NameNextButton);
        navigation(page, AddButton(page, "Button11", kPrevious), NameNextButton);
        connect(PublicationName, &QLineEdit::textChanged, this,
                &TPublisherWizard::PublicationNameChange);
        connect(PublicationName, &QLineEdit::returnPressed, this, &TPublisherWizard::NameNext);
    }

    // 2: Source.
    {
        QWidget* page = AddPage("TabSource", QStringLiteral("Source"));
        auto* layout = static_cast<QVBoxLayout*>(page->layout());
        AddText(page, layout,
                QStringLiteral("Please enter the full directory path to the folder that contains "
                               "your web site or browse for the folder."));
        auto* row = new QHBoxLayout;
        SourceDirectory = new QLineEdit(page);
        SourceDirectory->setObjectName(QStringLiteral("SourceDirectory"));
        BrowseButton = AddButton(page, "BrowseButton", QStringLiteral("Browse ..."));
        row->addWidget(SourceDirectory, 1);
        row->addWidget(BrowseButton);
        layout->addLayout(row);
        AddText(page, layout,
                QStringLiteral("Everything in this folder (including any sub-folders) will be "
                               "published to your web site."));
        SourceNextButton = AddButton(page, "SourceNextButton", kNext);
        navigation(page, AddButton(page, "Button1", kPrevious), SourceNextButton);
        connect(SourceDirectory, &QLineEdit::textChanged, this,
                &TPublisherWizard::SourceDirectoryChange);
        connect(SourceDirectory, &QLineEdit::returnPressed, this,
                &TPublisherWizard::SourceNextButtonClick);
        connect(SourceNextButton, &QPushButton::clicked, this,
                &TPublisherWizard::SourceNextButtonClick);
        connect(BrowseButton, &QPushButton::clicked, this, &TPublisherWizard::BrowseButtonClick);
    }

    // 3: FTP  Server.
    {
        QWidget* page = AddPage("TabServer", QStringLiteral("FTP  Server"));
        auto* layout = static_cast<QVBoxLayout*>(page->layout());
        AddText(page, layout,
                QStringLiteral("Enter the FTP address that your provider has given you for "
                               "uploading your web site to."));
        FtpServer = new QLineEdit(page);
        FtpServer->setObjectName(QStringLiteral("FtpServer"));
        layout->addWidget(FtpServer);
        AddText(page, layout,
                QStringLiteral("Your internet or web space provider gives you this address. It "
                               "usually differs from the address other people use to view your "
                               "web site: where visitors see www.example.com you may have to "
                               "enter ftp.example.com, or an address with a folder such as "
                               "ftp://upload.example.net/www."));
        ServerNextButton = AddButton(page, "ServerNextButton", kNext);
        plain_next(ServerNextButton);
        navigation(page, AddButton(page, "Button5", kPrevious), ServerNextButton);
        connect(FtpServer, &QLineEdit::textChanged, this, &TPublisherWizard::FtpServerChange);
        connect(FtpServer, &QLineEdit::returnPressed, this, &TPublisherWizard::SelectNextPage);
    }

    // 4: Username && Password.
    {
        QWidget* page = AddPage("TabAuthentication", QStringLiteral("Username && Password"));
        auto* layout = static_cast<QVBoxLayout*>(page->layout());
        auto* fields = new QHBoxLayout;
        auto* user_column = new QVBoxLayout;
        auto* password_column = new QVBoxLayout;
        user_column->addWidget(new QLabel(QStringLiteral("Enter your user or account name"), page));
        Username = new QLineEdit(page);
        Username->setObjectName(QStringLiteral("Username"));
        user_column->addWidget(Username);
        password_column->addWidget(new QLabel(QStringLiteral("and your password."), page));
        edt_password = new QLineEdit(page);
        edt_password->setObjectName(QStringLiteral("edt_password"));
        edt_password->setEchoMode(QLineEdit::Password);
        password_column->addWidget(edt_password);
        fields->addLayout(user_column, 1);
        fields->addLayout(password_column, 1);
        layout->addLayout(fields);
        AddText(page, layout,
                QStringLiteral("This is the user (or account) name that your ISP or Web Space "
                               "provider has given you and the password that you need to connect "
                               "with. The password will be either what your provider originally "
                               "allocated to you or one that you have selected. It must be the "
                               "same as the one your provider has on record."));
        auto* retype = new QHBoxLayout;
        auto* retype_text = new QLabel(QStringLiteral("As a precaution, against typing mistakes, "
                                                      "please retype your password again here:"),
                                       page);
        retype_text->setWordWrap(true);
        edt_password2 = new QLineEdit(page);
        edt_password2->setObjectName(QStringLiteral("edt_password2"));
        edt_password2->setEchoMode(QLineEdit::Password);
        retype->addWidget(retype_text, 1);
        retype->addWidget(edt_password2, 1, Qt::AlignVCenter);
        layout->addLayout(retype);
        lbl_password_error =
            MakeWarningLabel(page, "lbl_password_error",
                             QStringLiteral("Retyped password differs. Please reenter."));
        layout->addWidget(lbl_password_error, 0, Qt::AlignRight);
        AuthenticationNextButton = AddButton(page, "AuthenticationNextButton", kNext);
        plain_next(AuthenticationNextButton);
        navigation(page, AddButton(page, "Button9", kPrevious), AuthenticationNextButton);
        connect(Username, &QLineEdit::textChanged, this, &TPublisherWizard::UsernameChange);
        connect(edt_password, &QLineEdit::textChanged, this, [this] { CheckCredentials(false); });
        connect(edt_password2, &QLineEdit::textChanged, this, [this] { CheckCredentials(true); });
        connect(Username, &QLineEdit::returnPressed, edt_password,
                [this] { edt_password->setFocus(); });
        connect(edt_password, &QLineEdit::returnPressed, edt_password2,
                [this] { edt_password2->setFocus(); });
        connect(edt_password2, &QLineEdit::returnPressed, this,
                &TPublisherWizard::EdtPassword2Return);
    }

    // 5: Internet Connection.
    {
        QWidget* page = AddPage("TabConnection", QStringLiteral("Internet Connection"));
        auto* layout = static_cast<QVBoxLayout*>(page->layout());
        AddText(page, layout, QStringLiteral("Which dial up internet connection should be used?"));
        ConnectionCombo = new QComboBox(page);
        ConnectionCombo->setObjectName(QStringLiteral("ConnectionCombo"));
        // Only the connections this system has can be chosen: a typed name would be dialled
        // as an entry that does not exist.
        ConnectionCombo->setEditable(false);
        layout->addWidget(ConnectionCombo);
        AddText(page, layout,
                QStringLiteral("Some ISPs only allow you to update your web space if you are "
                               "connected to the internet via them. For other providers it may not "
                               "matter how you connect to the internet."));
        AddText(page, layout,
                QStringLiteral("If it does not matter how you connect to the internet or if you "
                               "connect via a LAN, then leave this as 'Any/LAN connection'."));
        AddText(page, layout,
                QStringLiteral("If you have dial-up connections but can only publish your web site "
                               "via your LAN then select 'LAN only'."));
        ConnectionNextButton = AddButton(page, "Button3", kNext);
        plain_next(ConnectionNextButton);
        navigation(page, AddButton(page, "Button7", kPrevious), ConnectionNextButton);
    }

    // 6: Test Connection.
    {
        QWidget* page = AddPage("TestConnection", QStringLiteral("Test Connection"));
        auto* layout = static_cast<QVBoxLayout*>(page->layout());
        AddText(
            page, layout,
            QStringLiteral("Whilst this step is optional, it is strongly suggested that you use "
                           "this opportunity to test the FTP server configuration parameters "
                           "that you have entered. Clickng the button below will verify that a "
                           "connection can be made to your server."));
        auto* row = new QHBoxLayout;
        btnTestConnection = AddButton(page, "btnTestConnection", QStringLiteral("Test Connection"));
        row->addWidget(btnTestConnection);
        row->addSpacing(16);
        row->addWidget(new QLabel(QStringLiteral("Test Status:"), page));
        lblTestStatus = new QLabel(page);
        lblTestStatus->setObjectName(QStringLiteral("lblTestStatus"));
        lblTestStatus->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        lblTestStatus->setAlignment(Qt::AlignCenter);
        lblTestStatus->setMinimumWidth(
            fontMetrics().horizontalAdvance(QStringLiteral("Connection not tested")) + 32);
        row->addWidget(lblTestStatus);
        row->addStretch(1);
        layout->addLayout(row);
        memoTestLog = new QPlainTextEdit(page);
        memoTestLog->setObjectName(QStringLiteral("memoTestLog"));
        memoTestLog->setReadOnly(true);
        memoTestLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        memoTestLog->setLineWrapMode(QPlainTextEdit::NoWrap);
        QPalette face = memoTestLog->palette();
        face.setColor(QPalette::Base, face.color(QPalette::Window));
        memoTestLog->setPalette(face);
        memoTestLog->setFixedHeight(fontMetrics().lineSpacing() * 5 + 8);
        QSizePolicy keep = memoTestLog->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        memoTestLog->setSizePolicy(keep);
        layout->addWidget(memoTestLog);
        lblFailedMessage =
            new QLabel(QStringLiteral("You should go back and review the entered server address, "
                                      "username, password and connection settings."),
                       page);
        lblFailedMessage->setObjectName(QStringLiteral("lblFailedMessage"));
        lblFailedMessage->setWordWrap(true);
        keep = lblFailedMessage->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        lblFailedMessage->setSizePolicy(keep);
        layout->addWidget(lblFailedMessage);
        Button8 = AddButton(page, "Button8", kPrevious);
        Button10 = AddButton(page, "Button10", kNext);
        plain_next(Button10);
        navigation(page, Button8, Button10);
        connect(btnTestConnection, &QPushButton::clicked, this,
                &TPublisherWizard::BtnTestConnectionClick);
    }

    // 7: Behaviour.
    {
        QWidget* page = AddPage("TabBehaviour", QStringLiteral("Behaviour"));
        auto* layout = static_cast<QVBoxLayout*>(page->layout());
        AddText(page, layout,
                QStringLiteral("Would you like Vantrel to delete files from the FTP server that no "
                               "longer exist in the local copy of your website? "));
        rdoDeleteYes =
            new QRadioButton(QStringLiteral("Yes - Delete files that no longer exist."), page);
        rdoDeleteYes->setObjectName(QStringLiteral("rdoDeleteYes"));
        rdoDeleteList =
            new QRadioButton(QStringLiteral("No - but show me where files no longer exist."), page);
        rdoDeleteList->setObjectName(QStringLiteral("rdoDeleteList"));
        rdoDeleteNo = new QRadioButton(QStringLiteral("No - do not delete files."), page);
        rdoDeleteNo->setObjectName(QStringLiteral("rdoDeleteNo"));
        rdoDeleteList->setChecked(true);
        layout->addWidget(rdoDeleteYes);
        layout->addWidget(rdoDeleteList);
        layout->addWidget(rdoDeleteNo);
        BehaviourNextButton = AddButton(page, "Button4", kNext);
        plain_next(BehaviourNextButton);
        navigation(page, AddButton(page, "Button2", kPrevious), BehaviourNextButton);
    }

    // 8: Completed.
    {
        QWidget* page = AddPage("TabSheet1", QStringLiteral("Completed"));
        auto* layout = static_cast<QVBoxLayout*>(page->layout());
        AddText(page, layout,
                QStringLiteral("You have now entered all the information required to create a new "
                               "website."));
        AddText(page, layout,
                QStringLiteral("You can review the information you have entered by going back to "
                               "any of the previous tabs."));
        AddText(page, layout,
                QStringLiteral("If you are happy with the information you have entered then click "
                               "the \"Finish\" button below."));
        layout->addStretch(1);
        FinishButton = AddButton(page, "FinishButton", QStringLiteral("Finish"));
        layout->addWidget(FinishButton, 0, Qt::AlignHCenter);
        navigation(page, AddButton(page, "Button6", kPrevious), nullptr);
        connect(FinishButton, &QPushButton::clicked, this, &TPublisherWizard::FinishButtonClick);
    }

    // Where the screen has room every page's caption stays in view; on a narrow one the tab
    // bar scrolls (setVisible).
    PageWizard->setUsesScrollButtons(true);
    PageWizard->tabBar()->setElideMode(Qt::ElideNone);
}

void TPublisherWizard::setVisible(bool visible)
{
    if (visible) {
        // The longest texts wrap into a few lines, every caption in view: no wider than the
        // screen, whose narrowest gets the tab bar's scroll buttons instead.
        const int wanted = std::max(fontMetrics().averageCharWidth() * 80,
                                    PageWizard->tabBar()->sizeHint().width() + 8);
        const QMargins margins = layout()->contentsMargins();
        const int room = WindowRoom(*this).width() - margins.left() - margins.right();
        PageWizard->setMinimumWidth(room > 0 ? std::min(wanted, room) : wanted);
    }
    VDialog::setVisible(visible);
}

void TPublisherWizard::Execute(QelPublicationList& list, bool show_import)
{
    list_ = &list;
    for (QLineEdit* edit :
         {PublicationName, SourceDirectory, FtpServer, Username, edt_password, edt_password2}) {
        edit->clear();
    }
    memoTestLog->clear();
    memoTestLog->hide();
    lblFailedMessage->hide();
    lblTestStatus->setText(QStringLiteral("Connection not tested"));
    reachable_page_ = kPageName;
    reachable_before_source_failure_ = 0;
    for (QPushButton* next :
         {NameNextButton, SourceNextButton, ServerNextButton, AuthenticationNextButton}) {
        next->setEnabled(false);
    }
    lbl_password_error->hide();
    lblNameTaken->hide();

    ConnectionCombo->clear();
    ConnectionCombo->addItem(kAnyConnection);
    ConnectionCombo->addItem(kLanOnly);
    ConnectionCombo->setCurrentIndex(0);
    if (const auto names = GetDialUpEntryNames()) {
        for (const std::string& name : *names) {
            ConnectionCombo->addItem(QString::fromStdString(name));
        }
    }

    ImportPanel->setVisible(show_import);
    PageWizard->setCurrentIndex(kPageWelcome);
    previous_page_ = kPageWelcome;
    SetDefaultButton(WelcomeNextButton);
    UpdateCredentials();
    first_activation_ = true;
    exec();
}

void TPublisherWizard::showEvent(QShowEvent* event)
{
    VDialog::showEvent(event);
    if (first_activation_) {
        first_activation_ = false;
        WelcomeNextButton->setFocus();
    }
}

void TPublisherWizard::closeEvent(QCloseEvent* event)
{
    // The test's worker reports back to this window: it stays until the test has ended.
    if (testing_) {
        event->ignore();
        return;
    }
    VDialog::closeEvent(event);
}

void TPublisherWizard::keyPressEvent(QKeyEvent* event)
{
    // Through close(), so that Esc too waits for a running test to end.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        close();
        return;
    }
    VDialog::keyPressEvent(event);
}

void TPublisherWizard::PageWizardChange(int index)
{
    // A page past the highest reachable one (or any other page while a test runs) is left
    // again at once, as if it had never been entered.
    if (index > reachable_page_ || (testing_ && index != kPageTestConnection)) {
        const QSignalBlocker block(PageWizard);
        PageWizard->setCurrentIndex(previous_page_);
    }
    previous_page_ = PageWizard->currentIndex();
    FocusFirstControl();
    SetDefaultButton(PageDefaultButton());
}

QPushButton* TPublisherWizard::PageDefaultButton() const
{
    // Enter on a page presses its way on: "Next >", or Finish on the last page.
    const QWidget* page = PageWizard->currentWidget();
    for (QPushButton* button : {WelcomeNextButton, NameNextButton, SourceNextButton,
                                ServerNextButton, AuthenticationNextButton, ConnectionNextButton,
                                Button10, BehaviourNextButton, FinishButton}) {
        if (page != nullptr && page->isAncestorOf(button)) {
            return button;
        }
    }
    return nullptr;
}

void TPublisherWizard::FocusFirstControl()
{
    QWidget* first = nullptr;
    switch (PageWizard->currentIndex()) {
        case kPageWelcome:
            first = WelcomeNextButton;
            break;
        case kPageName:
            first = PublicationName;
            break;
        case kPageSource:
            first = SourceDirectory;
            break;
        case kPageServer:
            first = FtpServer;
            break;
        case kPageAuthentication:
            first = LocalDestination() ? static_cast<QWidget*>(AuthenticationNextButton) : Username;
            break;
        case kPageConnection:
            first = ConnectionCombo;
            break;
        case kPageTestConnection:
            // Enter moves on; the test is a Shift+Tab away.
            first = Button10;
            break;
        case kPageBehaviour:
            first = rdoDeleteNo;
            break;
        case kPageCompleted:
            first = FinishButton;
            break;
        default:
            break;
    }
    if (first != nullptr) {
        first->setFocus();
    }
}

void TPublisherWizard::SelectNextPage()
{
    const int next = PageWizard->currentIndex() + 1;
    if (next < PageWizard->count()) {
        PageWizard->setCurrentIndex(next);
    }
}

void TPublisherWizard::SelectPreviousPage()
{
    const int previous = PageWizard->currentIndex() - 1;
    if (previous >= 0) {
        PageWizard->setCurrentIndex(previous);
    }
}

void TPublisherWizard::Reach(int page)
{
    reachable_page_ = std::max(reachable_page_, page);
}

bool TPublisherWizard::TrimLeft(QLineEdit* edit)
{
    const QString text = edit->text();
    qsizetype cut = 0;
    while (cut < text.size() && text[cut].unicode() <= ' ') {
        ++cut;
    }
    if (cut == 0) {
        return false;
    }
    const qsizetype caret = edit->cursorPosition();
    edit->setText(text.mid(cut));
    edit->setCursorPosition(static_cast<int>(std::max<qsizetype>(0, caret - cut)));
    return true;
}

void TPublisherWizard::PublicationNameChange()
{
    if (TrimLeft(PublicationName)) {
        return;
    }
    const std::string name = Text(PublicationName);
    const bool taken = !name.empty() && list_ != nullptr && NameTaken(*list_, name);
    if (taken) {
        lblNameTaken->setText(QStringLiteral("There is already a web site called \"%1\". "
                                             "Please enter another name.")
                                  .arg(QString::fromStdString(WithoutTrailingBlanks(name))));
    }
    lblNameTaken->setVisible(taken);
    if (name.empty() || list_ == nullptr || taken) {
        NameNextButton->setEnabled(false);
        return;
    }
    NameNextButton->setEnabled(true);
    Reach(kPageCompleted);
}

// Enter moves on even while Next is disabled: a name that was valid once has opened every page.
void TPublisherWizard::NameNext()
{
    SelectNextPage();
}

void TPublisherWizard::SourceDirectoryChange()
{
    if (TrimLeft(SourceDirectory)) {
        return;
    }
    SourceNextButton->setEnabled(!SourceDirectory->text().isEmpty());
}

void TPublisherWizard::SourceNextButtonClick()
{
    if (platform::DirectoryExists(Text(SourceDirectory))) {
        // The mended source gives back every page the failure held back.
        Reach(std::max<int>(kPageServer, reachable_before_source_failure_));
        reachable_before_source_failure_ = 0;
        SelectNextPage();
        return;
    }
    platform::MessageBox(
        "The source directory you have specified does not exist or is inaccessible. Please "
        "check and reenter.",
        "Directory does not exist", platform::kMbIconExclamation | platform::kMbOk);
    reachable_before_source_failure_ = std::max(reachable_before_source_failure_, reachable_page_);
    reachable_page_ = kPageSource;
    SourceDirectory->setFocus();
}

void TPublisherWizard::BrowseButtonClick()
{
    std::string path;
    BrowseForFolder("Source directory", "", false, path);
    if (!path.empty()) {
        SourceDirectory->setText(QString::fromStdString(path));
    }
}

void TPublisherWizard::FtpServerChange()
{
    if (TrimLeft(FtpServer)) {
        return;
    }
    const bool given = !FtpServer->text().isEmpty();
    ServerNextButton->setEnabled(given);
    UpdateCredentials();
    if (given) {
        Reach(kPageAuthentication);
    }
}

bool TPublisherWizard::LocalDestination() const
{
    return DiskStorageDevice::IsDiskPath(Text(FtpServer));
}

void TPublisherWizard::UpdateCredentials()
{
    // A local or network folder is opened without a user name or password.
    const bool ftp = !LocalDestination();
    for (QWidget* field : {Username, edt_password, edt_password2}) {
        field->setEnabled(ftp);
    }
    CheckCredentials(false);
}

void TPublisherWizard::UsernameChange()
{
    if (TrimLeft(Username)) {
        return;
    }
    CheckCredentials(false);
}

bool TPublisherWizard::CheckCredentials(bool show_mismatch)
{
    const bool ftp = !LocalDestination();
    const bool same = !ftp || edt_password->text() == edt_password2->text();
    AuthenticationNextButton->setEnabled(same && (!ftp || !Username->text().isEmpty()));
    if (same) {
        lbl_password_error->hide();
    } else if (show_mismatch) {
        lbl_password_error->show();
    }
    if (AuthenticationNextButton->isEnabled()) {
        Reach(kPageConnection);
    }
    return AuthenticationNextButton->isEnabled();
}

void TPublisherWizard::EdtPassword2Return()
{
    if (CheckCredentials(true)) {
        SelectNextPage();
    }
}

TPublisherWizard::ConnectionChoice TPublisherWizard::Connection() const
{
    switch (ConnectionCombo->currentIndex()) {
        case 0:
            return {};
        case 1:
            return {"", 1};
        default:
            return {ConnectionCombo->currentText().toStdString(), 0};
    }
}

std::string TPublisherWizard::NameProblem() const
{
    const std::string name = WithoutTrailingBlanks(Text(PublicationName));
    if (name.empty()) {
        return "The web site has no name. Please enter a name for it on the \"Web Site Name\" "
               "page.";
    }
    if (NameTaken(*list_, Text(PublicationName))) {
        return "A web site called \"" + name +
               "\" already exists. Each web site must have a unique name: please enter another "
               "one on the \"Web Site Name\" page.";
    }
    return "";
}

void TPublisherWizard::FinishButtonClick()
{
    // The name may have changed since it opened every page; an empty one would be the key of
    // every web site, a used one would add nothing.
    const std::string problem = NameProblem();
    if (!problem.empty()) {
        platform::MessageBox(problem, "Web site name",
                             platform::kMbIconExclamation | platform::kMbOk);
        PageWizard->setCurrentIndex(kPageName);
        PublicationName->setFocus();
        return;
    }
    // Refused as the configuration dialog's Save refuses it: the first Publish would copy the
    // site into itself, or delete its master copy.
    const std::string source = Text(SourceDirectory);
    const std::string server = Text(FtpServer);
    if (DiskStorageDevice::IsDiskPath(server)) {
        const std::string overlap = DiskStorageDevice::OverlapError(source, server);
        if (!overlap.empty()) {
            platform::MessageBox(overlap, "Source and destination",
                                 platform::kMbIconExclamation | platform::kMbOk);
            PageWizard->setCurrentIndex(kPageServer);
            FtpServer->setFocus();
            return;
        }
    }
    const ConnectionChoice connection = Connection();
    const std::string name = Text(PublicationName);
    uint16_t port = 0;
    const bool ftp = !LocalDestination();
    const std::string user = ftp ? Text(Username) : std::string();
    const std::string password = ftp ? Text(edt_password) : std::string();
    {
        QelPublication entered;
        entered.SetName(name);
        entered.Source = source;
        entered.Server = server;
        entered.Username = user;
        entered.Password = password;
        entered.Connection = connection.name;
        const std::vector<std::string> beyond_bounds = ValuesBeyondBounds(entered);
        if (!beyond_bounds.empty()) {
            platform::MessageBox(BeyondBoundsText(beyond_bounds), kBeyondBoundsCaption,
                                 platform::kMbIconExclamation | platform::kMbOk);
            return;
        }
        // Every publish would fail on an address it cannot read, or publish somewhere else.
        const std::string unreadable = SettleServerAddress(entered);
        if (!unreadable.empty()) {
            platform::MessageBox(unreadable, "FTP address",
                                 platform::kMbIconExclamation | platform::kMbOk);
            PageWizard->setCurrentIndex(kPageServer);
            FtpServer->setFocus();
            return;
        }
        port = entered.FtpPort;
    }
    if (!list_->AddNew(name, source, server, user, password, connection.name, connection.type,
                       rdoDeleteYes->isChecked(), rdoDeleteList->isChecked(), port)) {
        // The name was free, so the store refused a write. The web site may be listed with its
        // settings half stored: it goes again, and the wizard stays open with everything typed
        // so that Finish can be tried once more.
        const std::string reason = list_->Store()->LastErrorText();
        if (list_->Exists(name)) {
            list_->Delete(name);
        }
        platform::MessageBox(
            "The new web site could not be saved" + (reason.empty() ? "." : ": " + reason),
            "Web site not saved", platform::kMbIconExclamation | platform::kMbOk);
        return;
    }
    accept();
}

void TPublisherWizard::BtnImportClick()
{
    platform::FileChooserRequest request;
    request.mode = platform::FileChooserRequest::Mode::kOpen;
    request.title = QStringLiteral("Import web site settings from file");
    request.filter = QStringLiteral("Vantrel settings file (*.qvr)|*.qvr");
    request.default_suffix = QStringLiteral("qvr");
    QString file_name;
    if (!platform::FileChooser().ChooseFile(this, request, file_name)) {
        return;
    }
    std::string problem;
    if (ImportSettingsFile(*list_, file_name.toStdString(), &problem)) {
        accept();
        return;
    }
    if (!problem.empty()) {
        platform::MessageBox(problem, "Import web site settings from file",
                             platform::kMbIconExclamation | platform::kMbOk);
    }
}

void TPublisherWizard::SetDeviceFactory(ConnectionTestDeviceFactory factory)
{
    device_factory_ = std::move(factory);
}

std::unique_ptr<QelStorageDevice> TPublisherWizard::MakeTestDevice(
    const ConnectionTestDevice& device, QelSyncBaseOutput& output)
{
    QelPublication site;
    site.Server = device.server;
    site.ConnectionType = device.connection_type;
    // No findings: the test keeps and measures nothing of the server.
    DestinationOptions options;
    options.stop = device.stop;
    return MakeDestinationDevice(site, output, options).device;
}

bool TPublisherWizard::MakeTestObjects()
{
    connection_test_ = std::make_unique<ConnectionTest>(*this);
    if (!connection_test_->Listening()) {
        // Nobody would read the queue: the next test tries again.
        const uint32_t error = platform::GetLastError();
        connection_test_.reset();
        AddLogLine("The connection test could not start: " + platform::ErrorMessageText(error));
        return false;
    }
    return true;
}

void TPublisherWizard::SetTestRunning(bool running)
{
    testing_ = running;
    btnTestConnection->setEnabled(true);
    btnTestConnection->setText(running ? QStringLiteral("Cancel")
                                       : QStringLiteral("Test Connection"));
    PageWizard->tabBar()->setEnabled(!running);
    Button8->setEnabled(!running);
    Button10->setEnabled(!running);
}

void TPublisherWizard::BtnTestConnectionClick()
{
    // While a test runs the button cancels it; the test then ends at once, as failed.
    if (testing_) {
        if (connection_test_ != nullptr) {
            connection_test_->Stop();
        }
        AddLogLine("Connection test cancelled.");
        btnTestConnection->setEnabled(false);
        return;
    }
    memoTestLog->clear();
    lblFailedMessage->hide();
    memoTestLog->show();
    if (connection_test_ == nullptr && !MakeTestObjects()) {
        ConnectionTestDone(false);
        return;
    }
    lblTestStatus->setText(QStringLiteral("Testing..."));

    const std::string server = Text(FtpServer);
    const std::string source = Text(SourceDirectory);
    const std::string user = Text(Username);
    const std::string password = Text(edt_password);
    std::string connection_name;
    ConnectionTestDevice device;
    device.server = server;
    device.disk = DiskStorageDevice::IsDiskPath(server);
    device.stop = connection_test_->StopRequest();
    if (!device.disk) {
        // "LAN only" also asks before publishing over a modem, as the published web site will.
        const ConnectionChoice connection = Connection();
        QelPublication site;
        site.Server = server;
        site.ConnectionType = connection.type;
        device.connection_type = connection.type;
        device.ftp_flags = DestinationFtpFlags(site, DestinationOptions{});
        connection_name = connection.name;
    }

    ConnectionTestDeviceFactory factory = device_factory_ ? device_factory_ : MakeTestDevice;
    SetTestRunning(true);
    auto work = [=](QelSyncBaseOutput& output) {
        std::unique_ptr<QelStorageDevice> opened = factory(device, output);
        if (opened == nullptr) {
            return false;
        }
        const bool opened_ok = opened->Open(server, user, password, connection_name);
        // A local folder opens without being looked at; the test looks as a run would.
        return opened_ok && (!device.disk || TestLocalDestination(*opened, source, server, output));
    };
    // The result follows the device's last lines into the window.
    if (!connection_test_->Run(work)) {
        AddLogLine("The connection test could not start: " +
                   platform::ErrorMessageText(platform::GetLastError()));
        ConnectionTestDone(false);
    }
}

void TPublisherWizard::ConnectionTestEnded(bool passed)
{
    Q_ASSERT(platform::IsMainThread());
    ConnectionTestDone(passed);
}

void TPublisherWizard::ConnectionTestDone(bool passed)
{
    SetTestRunning(false);
    lblTestStatus->setText(passed ? QStringLiteral("Passed") : QStringLiteral("Failed"));
    SetTextColour(lblTestStatus, passed ? kPassedColour : kFailedColour);
    lblFailedMessage->setVisible(!passed);
}

void TPublisherWizard::HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue)
{
    Q_ASSERT(platform::IsMainThread());
    switch (kind) {
        case kQueueError:
            AddLogLine(queue.ReadError());
            break;
        case kQueueLogText:
            AddLogLine(queue.ReadMessage());
            break;
        case kQueueProgress:
        case kQueueFinalStatus: {
            QelSyncStatus ignored;
            queue.ReadStatus(&ignored);
            break;
        }
        default:
            break;
    }
    QTextDocument* document = memoTestLog->document();
    if (document->blockCount() > 1 && document->lastBlock().text().isEmpty()) {
        QTextCursor cursor(document);
        cursor.movePosition(QTextCursor::End);
        cursor.deletePreviousChar();
    }
}

void TPublisherWizard::AddLogLine(const std::string& text)
{
    // The devices join the lines of one message with CR LF.
    QString line = QString::fromStdString(text);
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    line.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    memoTestLog->appendPlainText(line);
}

}  // namespace vantrel
