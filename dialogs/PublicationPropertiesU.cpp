#include "dialogs/PublicationPropertiesU.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "dialogs/BrowseForFolderU.h"
#include "dialogs/ChmodFormU.h"
#include "dialogs/ControlStringGrid.h"
#include "dialogs/PublicationPatterns.h"
#include "dialogs/StringGridUtils.h"
#include "dialogs/VSpinEdit.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/Ui.h"
#include "publishing/PublicationInfo.h"
#include "publishing/PublishSession.h"
#include "publishing/qvr_functions.h"
#include "storage/DUN.h"
#include "storage/DiskStorage.h"

namespace vantrel {
namespace {

constexpr uint32_t kMbExclamationOk = platform::kMbIconExclamation | platform::kMbOk;
const QString kAnyLan = QStringLiteral("Any/LAN connection");
const QString kLanOnly = QStringLiteral("LAN only");
constexpr const PublicationSetting& kConnectionTimeout =
    PublicationSettingNamed("ConnectionTimeout");
constexpr const PublicationSetting& kGeneralTimeout = PublicationSettingNamed("GeneralTimeout");
constexpr const PublicationSetting& kFtpPort = PublicationSettingNamed("FtpPort");

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

QLabel* WrappedLabel(const QString& text)
{
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

// A read-only field of the "Information" page, out of the tab order.
QLineEdit* InfoField(const char* name)
{
    auto* edit = Named(new QLineEdit, name);
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::NoFocus);
    return edit;
}

QString StatusText(uint8_t status)
{
    switch (status) {
        case StatusNeverPublished:
            return QStringLiteral("Never published");
        case StatusFailed:
            return QStringLiteral("Error");
        case StatusPublished:
            return QStringLiteral("Published");
        case StatusNeedsPublishing:
            return QStringLiteral("Needs publishing");
        case StatusInterrupted:
            return QStringLiteral("Interrupted");
        default:
            return QStringLiteral("Unknown");
    }
}

QString DateTimeText(double date_time)
{
    return Q(platform::FormatDateTime("c", date_time));
}

// Whether a character may be typed into a pattern cell.
bool IsPatternKey(QChar key)
{
    const char16_t c = key.unicode();
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           QStringLiteral(".?_ -$*\\/").contains(key);
}

bool IsOctalKey(QChar key)
{
    return key >= QLatin1Char('0') && key <= QLatin1Char('7');
}

// The typed character of a key press that a key filter judges; null for keys that type nothing
// (or only control characters: backspace, Tab, Enter, Esc and the editing shortcuts pass).
QChar TypedCharacter(const QEvent* event)
{
    if (event->type() != QEvent::KeyPress) {
        return QChar();
    }
    const QString text = static_cast<const QKeyEvent*>(event)->text();
    if (text.isEmpty() || text.at(0).unicode() < 0x20 || text.at(0).unicode() == 0x7F) {
        return QChar();
    }
    return text.at(0);
}

void AddRow(QGridLayout* layout, int row, const QString& label, QWidget* field)
{
    auto* caption = new QLabel(label);
    caption->setBuddy(field);
    layout->addWidget(caption, row, 0);
    layout->addWidget(field, row, 1);
}

}  // namespace

// The cells of a pattern grid are edited key by key: every change of an editor's text goes to
// the dialog at once (so typing in the last row adds a row, and clearing a row removes it),
// characters the cell may not hold are dropped as they are typed, and the "On Server" column is
// edited with the chooser DynaCombo, whose every change reaches the cell. Esc in an editor
// cancels the dialog, as the Cancel button does. Each grid has a delegate of its own: a view
// takes every editor its delegate closes for one of its own.
class TPublicationProperties::CellDelegate : public QStyledItemDelegate
{
public:
    CellDelegate(TPublicationProperties* dialog, VStringGrid* grid)
        : QStyledItemDelegate(grid)
        , dialog_(dialog)
        , grid_(grid)
    {}

    QWidget* createEditor(QWidget* parent,
                          const QStyleOptionViewItem&,
                          const QModelIndex& index) const override
    {
        // The cell as it moves: a row removed above the edited one moves it up.
        const QPersistentModelIndex cell(index);
        if (IsChooserColumn(index.column())) {
            auto* combo = Named(new QComboBox(parent), "DynaCombo");
            combo->addItems({Q(kActionDelete), Q(kActionIgnore)});
            QObject::connect(combo, &QComboBox::currentTextChanged, combo,
                             [this, cell](const QString& chosen) {
                                 QString text = chosen;
                                 Edited(cell, text);
                             });
            return combo;
        }
        auto* edit = new QLineEdit(parent);
        edit->setFrame(false);
        QObject::connect(edit, &QLineEdit::textEdited, edit,
                         [this, edit, cell](const QString& typed) {
                             QString text = typed;
                             Edited(cell, text);
                             if (text != typed) {
                                 edit->setText(text);
                                 edit->setCursorPosition(static_cast<int>(text.size()));
                             }
                         });
        return edit;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        const QString text = index.data(Qt::EditRole).toString();
        if (auto* combo = qobject_cast<QComboBox*>(editor)) {
            const QSignalBlocker block(combo);
            combo->setCurrentIndex(text == QLatin1String(kActionDelete) ? 0 : 1);
        } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
            // The cell follows the editor key by key; writing the same text back would only move
            // the caret to the end.
            if (edit->text() != text) {
                edit->setText(text);
            }
        }
    }

    void setModelData(QWidget* editor,
                      QAbstractItemModel* model,
                      const QModelIndex& index) const override
    {
        if (auto* combo = qobject_cast<QComboBox*>(editor)) {
            model->setData(index, Q(OnServerAction(combo->currentText().toStdString())));
        } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
            if (index.data(Qt::EditRole).toString() != edit->text()) {
                model->setData(index, edit->text());
            }
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel)) {
            dialog_->CancelButtonClick();
            return true;
        }
        auto* editor = qobject_cast<QWidget*>(watched);
        const QChar key = TypedCharacter(event);
        // A letter typed on the chooser goes after the shown word, and the action follows the
        // whole: "Delete" and x stays "Delete", "Delete" and i becomes "Ignore".
        if (auto* combo = qobject_cast<QComboBox*>(editor); combo != nullptr && !key.isNull()) {
            const std::string typed = (combo->currentText() + key).toStdString();
            combo->setCurrentIndex(OnServerAction(typed) == kActionDelete ? 0 : 1);
            return true;
        }
        if (!key.isNull() && qobject_cast<QLineEdit*>(editor) != nullptr &&
            !dialog_->AcceptsKey(grid_, grid_->currentIndex().column(), key)) {
            return true;
        }
        return QStyledItemDelegate::eventFilter(watched, event);
    }

private:
    void Edited(const QPersistentModelIndex& cell, QString& text) const
    {
        if (cell.isValid()) {
            dialog_->OnCellEdited(grid_, cell.column(), VStringGrid::GridRow(cell.row()), text);
        }
    }

    bool IsChooserColumn(int col) const
    {
        return col == 1 && (grid_ == dialog_->FilesGrid || grid_ == dialog_->FoldersGrid);
    }

    TPublicationProperties* dialog_;
    VStringGrid* grid_;
};

TPublicationProperties::TPublicationProperties(QWidget* parent)
    : VDialog(parent)
{
    setWindowTitle(QStringLiteral("Web Site Configuration"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    chmod_form_ = new TChmodForm(this);

    PropertiesControl = Named(new QTabWidget(this), "PropertiesControl");
    // One row of tabs, all of them in view: the dialog grows to the tab bar's width.
    PropertiesControl->setUsesScrollButtons(false);
    PropertiesControl->tabBar()->setElideMode(Qt::ElideNone);
    // Each page scrolls where the screen is too small for the dialog; the tab widget asks for
    // the tallest page, so the dialog keeps one size from page to page.
    PropertiesControl->addTab(ScrollingPage(BuildGeneralPage()), QStringLiteral("General"));
    PropertiesControl->addTab(ScrollingPage(BuildInformationPage()), QStringLiteral("Information"));
    PropertiesControl->addTab(ScrollingPage(BuildFtpPage()), QStringLiteral("FTP parameters"));
    PropertiesControl->addTab(ScrollingPage(BuildBehaviourPage()), QStringLiteral("Behaviour"));
    PropertiesControl->addTab(ScrollingPage(BuildAdvancedPage()), QStringLiteral("Advanced"));
    PropertiesControl->addTab(ScrollingPage(BuildFilesPage()), QStringLiteral("Files"));
    PropertiesControl->addTab(ScrollingPage(BuildFoldersPage()), QStringLiteral("Folders"));

    SaveButton = Named(new QPushButton(QStringLiteral("Save"), this), "SaveButton");
    CancelButton = Named(new QPushButton(QStringLiteral("Cancel"), this), "CancelButton");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SaveButton);
    buttons->addWidget(CancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PropertiesControl, 1);
    layout->addLayout(buttons);
    SetDefaultButton(SaveButton);

    connect(SaveButton, &QPushButton::clicked, this, [this] { SaveButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    connect(PropertiesControl, &QTabWidget::currentChanged, this,
            [this](int index) { PropertiesControlOnChange(index); });
    connect(FilesPageControl, &QTabWidget::currentChanged, this,
            [this](int index) { FilesPageControlOnChange(index); });
}

TPublicationProperties::~TPublicationProperties()
{
    DeferFreeControl(nullptr);
}

QWidget* TPublicationProperties::BuildGeneralPage()
{
    auto* page = new QWidget;
    EditName = Named(new QLineEdit, "EditName");
    edt_source_directory = Named(new QLineEdit, "edt_source_directory");
    btn_browse_source = Named(new QPushButton(QStringLiteral("Browse...")), "btn_browse_source");
    chkDisable = Named(new QCheckBox(QStringLiteral("Disable (do not include when publishing)")),
                       "chkDisable");

    auto* layout = new QVBoxLayout(page);
    auto* name_label = new QLabel(QStringLiteral("Web site name:"));
    name_label->setBuddy(EditName);
    layout->addWidget(name_label);
    layout->addWidget(EditName);
    auto* source_label = new QLabel(QStringLiteral("Local source directory:"));
    source_label->setBuddy(edt_source_directory);
    layout->addWidget(source_label);
    auto* source_row = new QHBoxLayout;
    source_row->addWidget(edt_source_directory, 1);
    source_row->addWidget(btn_browse_source);
    layout->addLayout(source_row);
    layout->addSpacing(8);
    layout->addWidget(chkDisable);
    layout->addStretch(1);

    connect(btn_browse_source, &QPushButton::clicked, this, [this] { btn_browse_sourceClick(); });
    return page;
}

QWidget* TPublicationProperties::BuildInformationPage()
{
    auto* page = new QWidget;
    edt_publication_status = InfoField("edt_publication_status");
    mmo_last_error = Named(new QPlainTextEdit, "mmo_last_error");
    mmo_last_error->setReadOnly(true);
    mmo_last_error->setFocusPolicy(Qt::NoFocus);
    mmo_last_error->setFixedHeight(60);
    edt_website_files = InfoField("edt_website_files");
    edt_website_directories = InfoField("edt_website_directories");
    edt_website_published = InfoField("edt_website_published");
    edt_web_pages = InfoField("edt_web_pages");
    edt_source_files = InfoField("edt_source_files");
    edt_source_directories = InfoField("edt_source_directories");
    edt_source_latest = InfoField("edt_source_latest");
    edt_source_pages = InfoField("edt_source_pages");
    SetHint(edt_website_files, QStringLiteral("Number of files up at the server."));
    SetHint(edt_web_pages,
            QStringLiteral("Number of pages (.htm, .html, .php or .asp) up at the server."));
    SetHint(edt_source_files, QStringLiteral("Number of files locally."));
    SetHint(edt_source_pages,
            QStringLiteral("Number of pages (.htm, .html, .php or .asp) locally."));

    auto* top = new QGridLayout;
    AddRow(top, 0, QStringLiteral("Publication status:"), edt_publication_status);
    auto* error_label = new QLabel(QStringLiteral("Last error:"));
    top->addWidget(error_label, 1, 0, Qt::AlignTop);
    top->addWidget(mmo_last_error, 1, 1);

    auto* website = Named(new QGroupBox(QStringLiteral("Website information")), "grpWebsite");
    auto* website_layout = new QGridLayout(website);
    AddRow(website_layout, 0, QStringLiteral("Number of files:"), edt_website_files);
    AddRow(website_layout, 1, QStringLiteral("Number of directories:"), edt_website_directories);
    AddRow(website_layout, 2, QStringLiteral("Date last published:"), edt_website_published);
    AddRow(website_layout, 3, QStringLiteral("Number of pages:"), edt_web_pages);

    auto* source =
        Named(new QGroupBox(QStringLiteral("Source directory information")), "grpSource");
    auto* source_layout = new QGridLayout(source);
    AddRow(source_layout, 0, QStringLiteral("Number of files:"), edt_source_files);
    AddRow(source_layout, 1, QStringLiteral("Number of directories:"), edt_source_directories);
    AddRow(source_layout, 2, QStringLiteral("Most recent change:"), edt_source_latest);
    AddRow(source_layout, 3, QStringLiteral("Number of pages:"), edt_source_pages);

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addWidget(website);
    layout->addWidget(source);
    layout->addStretch(1);
    return page;
}

QWidget* TPublicationProperties::BuildFtpPage()
{
    auto* page = new QWidget;
    auto* server =
        Named(new QGroupBox(QStringLiteral("FTP Server Connection Parameters")), "grpFtpServer");
    EditFTP = Named(new QLineEdit, "EditFTP");
    EditUsername = Named(new QLineEdit, "EditUsername");
    edt_password = Named(new QLineEdit, "edt_password");
    edt_password2 = Named(new QLineEdit, "edt_password2");
    edt_password->setEchoMode(QLineEdit::Password);
    edt_password2->setEchoMode(QLineEdit::Password);
    combo_connection = Named(new QComboBox, "combo_connection");
    // A drop-down list: the connections this system has, never a typed name.
    combo_connection->setEditable(false);
    combo_connection->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    rdoFtpPortDefault = Named(new QRadioButton(QStringLiteral("Default")), "rdoFtpPortDefault");
    rdoCustomFtpPort = Named(new QRadioButton(QStringLiteral("Custom port:")), "rdoCustomFtpPort");
    EditPortNumber = Named(new QLineEdit, "EditPortNumber");
    EditPortNumber->setMaximumWidth(70);
    EditPortNumber->installEventFilter(this);
    SetHint(rdoFtpPortDefault, QStringLiteral("Use the default FTP port (port 21)"));
    SetHint(rdoCustomFtpPort, QStringLiteral("Use a custom port number"));

    auto* server_layout = new QGridLayout(server);
    AddRow(server_layout, 0, QStringLiteral("FTP upload address:"), EditFTP);
    AddRow(server_layout, 1, QStringLiteral("Username:"), EditUsername);
    AddRow(server_layout, 2, QStringLiteral("Password:"), edt_password);
    AddRow(server_layout, 3, QStringLiteral("Re-type:"), edt_password2);
    AddRow(server_layout, 4, QStringLiteral("Connection to use:"), combo_connection);
    auto* port_row = new QHBoxLayout;
    port_row->addWidget(rdoFtpPortDefault);
    port_row->addWidget(rdoCustomFtpPort);
    port_row->addWidget(EditPortNumber);
    port_row->addStretch(1);
    server_layout->addWidget(new QLabel(QStringLiteral("FTP port:")), 5, 0);
    server_layout->addLayout(port_row, 5, 1);

    grpDialUp = Named(new QGroupBox(QStringLiteral("Dial-up Connection Behaviour")), "grpDialUp");
    lblHangUp = Named(new QLabel(QStringLiteral("When finished:")), "lblHangUp");
    rdoLeaveConnection = Named(new QRadioButton(QStringLiteral("Leave the connection (default)")),
                               "rdoLeaveConnection");
    rdoAskHangup =
        Named(new QRadioButton(QStringLiteral("Ask to hang up the connection")), "rdoAskHangup");
    rdoHangUp =
        Named(new QRadioButton(QStringLiteral("Hang up the connection (don't ask)")), "rdoHangUp");
    auto* dial_layout = new QGridLayout(grpDialUp);
    dial_layout->addWidget(lblHangUp, 0, 0, Qt::AlignTop);
    dial_layout->addWidget(rdoLeaveConnection, 0, 1);
    dial_layout->addWidget(rdoAskHangup, 1, 1);
    dial_layout->addWidget(rdoHangUp, 2, 1);
    dial_layout->setColumnStretch(1, 1);

    auto* timeouts = Named(new QGroupBox(QStringLiteral("Timeout Settings")), "grpTimeouts");
    edt_ConnectionTimeout = Named(new VSpinEdit, "edt_ConnectionTimeout");
    edt_GeneralTimeout = Named(new VSpinEdit, "edt_GeneralTimeout");
    edt_ConnectionTimeout->KeepTypedValue(kConnectionTimeout.bounds.min,
                                          kConnectionTimeout.bounds.max);
    edt_GeneralTimeout->KeepTypedValue(kGeneralTimeout.bounds.min, kGeneralTimeout.bounds.max);
    btn_DefaultConnectionTimeout =
        Named(new QPushButton(QStringLiteral("Default")), "btn_DefaultConnectionTimeout");
    btn_DefaultTimeouts = Named(new QPushButton(QStringLiteral("Default")), "btn_DefaultTimeouts");
    auto* timeout_layout = new QGridLayout(timeouts);
    AddRow(timeout_layout, 0, QStringLiteral("Connection timeout (secs):"), edt_ConnectionTimeout);
    timeout_layout->addWidget(btn_DefaultConnectionTimeout, 0, 2);
    AddRow(timeout_layout, 1, QStringLiteral("All other timeouts (secs):"), edt_GeneralTimeout);
    timeout_layout->addWidget(btn_DefaultTimeouts, 1, 2);
    timeout_layout->setColumnStretch(3, 1);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(server);
    layout->addWidget(grpDialUp);
    layout->addWidget(timeouts);
    layout->addStretch(1);

    connect(combo_connection, &QComboBox::activated, this, [this] { combo_connectionChange(); });
    connect(rdoCustomFtpPort, &QRadioButton::toggled, this,
            [this](bool checked) { EditPortNumber->setEnabled(checked); });
    connect(EditPortNumber, &QLineEdit::textChanged, this, [this] { EditPortNumber_OnChange(); });
    connect(btn_DefaultConnectionTimeout, &QPushButton::clicked, this,
            [this] { edt_ConnectionTimeout->setValue(kConnectionTimeout.bounds.default_value); });
    connect(btn_DefaultTimeouts, &QPushButton::clicked, this,
            [this] { edt_GeneralTimeout->setValue(kGeneralTimeout.bounds.default_value); });
    return page;
}

QWidget* TPublicationProperties::BuildBehaviourPage()
{
    auto* page = new QWidget;
    auto* new_files = Named(new QGroupBox(QStringLiteral("New Files")), "grpNewFiles");
    RadioButton1 =
        Named(new QRadioButton(QStringLiteral("Upload new files to the web site straight away.")),
              "RadioButton1");
    RadioButton1->setChecked(true);
    (new QVBoxLayout(new_files))->addWidget(RadioButton1);

    auto* deleted = Named(new QGroupBox(QStringLiteral("Deleted Files")), "grpDeletedFiles");
    chkDeleteOldFiles = Named(
        new QCheckBox(QStringLiteral("Delete files from the web site that no longer exist in the "
                                     "source directory.")),
        "chkDeleteOldFiles");
    chkWarnOldFiles = Named(
        new QCheckBox(QStringLiteral(
            "Warn where files exist on the server that no longer exist in the source directory "
            "(and do not delete them). These are files which could be deleted.")),
        "chkWarnOldFiles");
    rdoDeleteStraightAway = Named(new QRadioButton(QStringLiteral("Delete files straight away.")),
                                  "rdoDeleteStraightAway");
    rdoDeleteLater = Named(new QRadioButton(QStringLiteral(
                               "Delete files after all files have been copied (default).")),
                           "rdoDeleteLater");
    SetHint(rdoDeleteLater,
            QStringLiteral("Delete old files after all copying of new and updated files has taken "
                           "place. Deletion is the last thing done. This is the default."));
    // Long check box texts wrap inside a label beside the box, as the window draws them.
    auto* deleted_layout = new QVBoxLayout(deleted);
    for (QCheckBox* box : {chkDeleteOldFiles, chkWarnOldFiles}) {
        auto* row = new QHBoxLayout;
        auto* text = WrappedLabel(box->text());
        box->setAccessibleName(box->text());
        box->setText(QString());
        row->addWidget(box, 0, Qt::AlignTop);
        row->addWidget(text, 1);
        text->setBuddy(box);
        deleted_layout->addLayout(row);
    }
    auto* times = new QVBoxLayout;
    times->setContentsMargins(20, 0, 0, 0);
    times->addWidget(rdoDeleteStraightAway);
    times->addWidget(rdoDeleteLater);
    deleted_layout->addLayout(times);

    grpUpdatedFiles = Named(new QGroupBox(QStringLiteral("Updated Files")), "grpUpdatedFiles");
    rdoUpdateStraightAway = Named(
        new QRadioButton(QStringLiteral("Upload updated files to the web site straight away.")),
        "rdoUpdateStraightAway");
    rdoUpdateLater = Named(new QRadioButton(QStringLiteral(
                               "Upload updated files after all new files have been copied.")),
                           "rdoUpdateLater");
    rdoUpdateStraightAway->setEnabled(false);
    rdoUpdateLater->setEnabled(false);
    auto* updated_layout = new QVBoxLayout(grpUpdatedFiles);
    updated_layout->addWidget(rdoUpdateStraightAway);
    updated_layout->addWidget(rdoUpdateLater);
    grpUpdatedFiles->hide();

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(new_files);
    layout->addWidget(deleted);
    layout->addWidget(grpUpdatedFiles);
    layout->addStretch(1);

    connect(chkDeleteOldFiles, &QCheckBox::toggled, this,
            [this](bool checked) { chkDeleteOldFilesClick(checked); });
    connect(chkWarnOldFiles, &QCheckBox::toggled, this,
            [this](bool checked) { chkWarnOldFilesClick(checked); });
    return page;
}

QWidget* TPublicationProperties::BuildAdvancedPage()
{
    auto* page = new QWidget;
    auto* upload = Named(new QGroupBox(QStringLiteral("Upload Options")), "grpUploadOptions");
    chkUploadViaTemp = Named(new QCheckBox(QStringLiteral(
                                 "Upload via temporary file (preserves original during upload).")),
                             "chkUploadViaTemp");
    SetHint(chkUploadViaTemp,
            QStringLiteral("Allows a file at the server to be accessible to others while being "
                           "uploaded. It also preserves the original file should the connection "
                           "fail during the upload. It will slow the upload very slightly."));
    (new QVBoxLayout(upload))->addWidget(chkUploadViaTemp);

    auto* security =
        Named(new QGroupBox(QStringLiteral("Server Security (Unix Servers)")), "grpDotFiles");
    rdoDotAutoActive =
        Named(new QRadioButton(QStringLiteral("Auto detect - Active (slow)")), "rdoDotAutoActive");
    rdoDotAutoPassive = Named(new QRadioButton(QStringLiteral("Auto detect - Passive (fast)")),
                              "rdoDotAutoPassive");
    rdoDotHidden = Named(new QRadioButton(QStringLiteral("Hidden (slow)")), "rdoDotHidden");
    rdoDotVisible =
        Named(new QRadioButton(QStringLiteral("Listed normally (fastest)")), "rdoDotVisible");
    SetHint(rdoDotAutoActive,
            QStringLiteral("Active Auto Detect - will actively scan each folder and set 'Hidden' "
                           "or 'Listed normally' as necessary."));
    SetHint(rdoDotAutoPassive,
            QStringLiteral("Passive Detect - not as thorough as 'Auto Detect (Active)' but faster "
                           "- will actively scan each folder and set 'Hidden' or 'Listed "
                           "normally' as necessary."));
    SetHint(rdoDotHidden, QStringLiteral("Server does not list dot files."));
    SetHint(rdoDotVisible,
            QStringLiteral("Server lists dot files with other files. No special treatment "
                           "needed."));
    auto* security_layout = new QGridLayout(security);
    security_layout->addWidget(
        WrappedLabel(QStringLiteral("Does the FTP server list 'dot' files (such as .htaccess) or "
                                    "does it hide them? These are hidden on many Unix servers.")),
        0, 0, 1, 2);
    security_layout->addWidget(rdoDotAutoActive, 1, 0);
    security_layout->addWidget(rdoDotAutoPassive, 1, 1);
    security_layout->addWidget(rdoDotHidden, 2, 0);
    security_layout->addWidget(rdoDotVisible, 2, 1);

    auto* log = Named(new QGroupBox(QStringLiteral("Supplimentary Log Information")), "grpLog");
    chkExplainWhyCopy =
        Named(new QCheckBox(QStringLiteral("Log why files are copied.")), "chkExplainWhyCopy");
    SetHint(chkExplainWhyCopy,
            QStringLiteral("Include in the log the reason why each file was copied."));
    chkListServerFiles =
        Named(new QCheckBox(QStringLiteral("List server files")), "chkListServerFiles");
    auto* log_layout = new QHBoxLayout(log);
    log_layout->addWidget(chkExplainWhyCopy);
    log_layout->addWidget(chkListServerFiles);

    auto* library = Named(new QGroupBox(QStringLiteral("FTP Library")), "grpFtpLibrary");
    // Named for what each choice is on this platform.
    rdoUseWininet =
        Named(new QRadioButton(QStringLiteral("Use the built-in FTP client")), "rdoUseWininet");
    rdoUseIndy =
        Named(new QRadioButton(QStringLiteral("Use the FTP client library (experimental)")),
              "rdoUseIndy");
    rdoUseIndy->setEnabled(false);
    auto* library_layout = new QHBoxLayout(library);
    library_layout->addWidget(rdoUseWininet);
    library_layout->addWidget(rdoUseIndy);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(upload);
    layout->addWidget(security);
    layout->addWidget(log);
    layout->addWidget(library);
    layout->addStretch(1);
    return page;
}

VStringGrid* TPublicationProperties::MakePatternGrid(VStringGrid* grid,
                                                     const char* name,
                                                     bool always_edit)
{
    Named(grid, name);
    grid->setItemDelegate(new CellDelegate(this, grid));
    grid->setTabKeyNavigation(true);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setEditTriggers(
        always_edit ? QAbstractItemView::AllEditTriggers
                    : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    grid->setMinimumHeight(110);
    return grid;
}

QWidget* TPublicationProperties::BuildFilesPage()
{
    auto* page = new QWidget;
    FilesPageControl = Named(new QTabWidget, "FilesPageControl");

    auto* exclusions = Named(new QWidget, "tabExclusions");
    FilesGrid = MakePatternGrid(new VStringGrid, "FilesGrid", true);
    FilesGrid->SetColCount(2);
    auto* exclusions_layout = new QVBoxLayout(exclusions);
    exclusions_layout->addWidget(WrappedLabel(
        QStringLiteral("Specify below any files that should not be copied  to the website.")));
    exclusions_layout->addWidget(FilesGrid, 1);
    exclusions_layout->addWidget(new QLabel(QStringLiteral("Note:")));
    exclusions_layout->addWidget(WrappedLabel(QStringLiteral(
        "1. Use an asterisk ('*') to indicate any combination of characters, or a question mark "
        "('?') to indicate any single character. So *.log will ignore all files with the file "
        "extension .log")));
    exclusions_layout->addWidget(WrappedLabel(QStringLiteral(
        "2. The \"On Server\" field indicates the action to take if a matching file exists on "
        "the server. \"Delete\" means that the file on the server will be deleted, \"Ignore\" "
        "means that it will be left alone.")));

    auto* text_files = Named(new QWidget, "tabTextFiles");
    AsciiFileGrid = MakePatternGrid(new VStringGrid, "AsciiFileGrid", true);
    AsciiFileGrid->SetColCount(1);
    auto* text_layout = new QVBoxLayout(text_files);
    text_layout->addWidget(
        WrappedLabel(QStringLiteral("Enter below files that should be copied as ASCII.")));
    text_layout->addWidget(AsciiFileGrid, 1);
    text_layout->addWidget(new QLabel(QStringLiteral("Note:")));
    text_layout->addWidget(WrappedLabel(
        QStringLiteral("1. Files not included in this list will be copied as binary.")));
    text_layout->addWidget(WrappedLabel(QStringLiteral(
        "2. The distinction between ASCII and BINARY is only significant when copying to an FTP "
        "server.")));
    text_layout->addWidget(
        WrappedLabel(QStringLiteral("3. If in doubt, do not add to the list .")));

    auto* permissions = Named(new QWidget, "tabPermissions");
    auto* defaults =
        Named(new QGroupBox(QStringLiteral("Default Permissions")), "grpDefaultPermissions");
    edtDefaultPermission = Named(new QLineEdit, "edtDefaultPermission");
    edtDefaultPermission->setReadOnly(true);
    edtDefaultPermission->setFocusPolicy(Qt::NoFocus);
    edtDefaultPermission->setMaximumWidth(60);
    btnChangeDefFilePermission =
        Named(new QPushButton(QStringLiteral("Change ...")), "btnChangeDefFilePermission");
    auto* defaults_layout = new QHBoxLayout(defaults);
    auto* default_label = new QLabel(QStringLiteral("Default:"));
    default_label->setBuddy(edtDefaultPermission);
    defaults_layout->addWidget(default_label);
    defaults_layout->addWidget(edtDefaultPermission);
    defaults_layout->addWidget(btnChangeDefFilePermission);
    defaults_layout->addStretch(1);
    auto* custom =
        Named(new QGroupBox(QStringLiteral("Custom Permissions")), "grpCustomPermissions");
    FilePermissionsGrid = new TControlStringGrid;
    MakePatternGrid(FilePermissionsGrid, "FilePermissionsGrid", false);
    FilePermissionsGrid->SetColCount(3);
    auto* custom_layout = new QVBoxLayout(custom);
    custom_layout->addWidget(
        WrappedLabel(QStringLiteral("Enter below file permissions for particular types of file:")));
    custom_layout->addWidget(FilePermissionsGrid, 1);
    custom_layout->addWidget(new QLabel(QStringLiteral("Leave blank if unsure.")));
    auto* permissions_layout = new QVBoxLayout(permissions);
    permissions_layout->addWidget(WrappedLabel(
        QStringLiteral("Not all FTP servers support file permissions (chmod). Settings here will "
                       "be ignored if the server does not support this capability.")));
    permissions_layout->addWidget(WrappedLabel(
        QStringLiteral("Leave blank if unsure. Wrong settings may prevent pages from showing.")));
    permissions_layout->addWidget(defaults);
    permissions_layout->addWidget(custom, 1);

    FilesPageControl->addTab(exclusions, QStringLiteral("Exclusions"));
    FilesPageControl->addTab(text_files, QStringLiteral("Text Files"));
    FilesPageControl->addTab(permissions, QStringLiteral("Permissions"));
    (new QVBoxLayout(page))->addWidget(FilesPageControl);

    connect(btnChangeDefFilePermission, &QPushButton::clicked, this,
            [this] { btnChangeDefFilePermissionClick(); });
    return page;
}

QWidget* TPublicationProperties::BuildFoldersPage()
{
    auto* page = new QWidget;
    FoldersGrid = MakePatternGrid(new VStringGrid, "FoldersGrid", true);
    FoldersGrid->SetColCount(2);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(WrappedLabel(
        QStringLiteral("Specify below any folders that should not be copied  to the website.")));
    layout->addWidget(FoldersGrid, 1);
    layout->addWidget(new QLabel(QStringLiteral("Note:")));
    layout->addWidget(
        WrappedLabel(QStringLiteral("1. Enter or edit file names directly in the grid.")));
    layout->addWidget(WrappedLabel(QStringLiteral(
        "2. Use an asterisk ('*') to indicate any combination of characters, or a question mark "
        "('?') to indicate any single character. So logs\\* will ignore all folders under (but "
        "not including) logs.")));
    layout->addWidget(WrappedLabel(QStringLiteral(
        "3. The \"On Server\" field indicates the action to take if a matching folder exists on "
        "the server. \"Delete\" means that any matching folder on the server will be deleted, "
        "\"Ignore\" means that it will be left.")));
    return page;
}

std::unique_ptr<QelPublication> TPublicationProperties::Execute(const QelPublication& definition,
                                                                NameTaken name_taken)
{
    DeferFreeControl(nullptr);
    given_ = &definition;
    name_taken_ = std::move(name_taken);
    copy_ = std::make_unique<QelPublication>();
    copy_->Assign(definition);
    const QelPublication& site = *copy_;

    EditName->setText(Q(site.GetName()));
    edt_source_directory->setText(Q(site.Source));
    EditFTP->setText(Q(site.Server));
    EditUsername->setText(Q(site.Username));
    edt_password->setText(Q(site.Password));
    edt_password2->setText(Q(site.Password));
    setWindowTitle(QStringLiteral("Properties for ") + Q(site.GetName()));

    const bool custom_port = site.FtpPort != 0 && site.FtpPort != kStandardFtpPort;
    (custom_port ? rdoCustomFtpPort : rdoFtpPortDefault)->setChecked(true);
    EditPortNumber->setText(QString::number(custom_port ? site.FtpPort : kStandardFtpPort));
    EditPortNumber->setEnabled(custom_port);

    ShowInformation();

    chkDeleteOldFiles->setChecked(site.DeleteOldFiles == 1);
    chkWarnOldFiles->setChecked(site.DeleteOldFiles == 2);
    (site.DeleteOldFilesNow ? rdoDeleteStraightAway : rdoDeleteLater)->setChecked(true);
    UpdateDeleteTimes();
    (site.UploadModifiedNow ? rdoUpdateStraightAway : rdoUpdateLater)->setChecked(true);
    chkDisable->setChecked(site.Disabled);
    chkUploadViaTemp->setChecked(site.UploadViaIntermediary);

    FillConnections();
    (site.FtpUseIndy ? rdoUseIndy : rdoUseWininet)->setChecked(true);
    // The group follows the choice shown, as it does when the user chooses: a dial-up entry
    // that this system does not list shows as "Any/LAN connection" (or "LAN only"), and Save
    // then keeps no hang-up setting.
    combo_connectionChange();
    (site.ConnectionBehaviour == 1   ? rdoAskHangup
     : site.ConnectionBehaviour == 2 ? rdoHangUp
                                     : rdoLeaveConnection)
        ->setChecked(true);

    edt_ConnectionTimeout->setValue(site.ConnectionTimeout);
    edt_GeneralTimeout->setValue(site.GeneralTimeout);

    const uint8_t treatment = site.DotFileState.Treatment;
    (treatment == 3   ? rdoDotHidden
     : treatment == 2 ? rdoDotVisible
     : treatment == 0 ? rdoDotAutoPassive
                      : rdoDotAutoActive)
        ->setChecked(true);
    chkExplainWhyCopy->setChecked(site.LogExplainCopy);
    chkListServerFiles->setChecked(site.LogListFiles);

    FillGrids();

    {
        const QSignalBlocker block_pages(PropertiesControl);
        const QSignalBlocker block_inner(FilesPageControl);
        PropertiesControl->setCurrentIndex(0);
        FilesPageControl->setCurrentIndex(0);
    }
    PropertiesControl->setFocus();
    // Cancel, Esc and the title-bar close leave the copy as the definition was: the filling
    // has sorted two of its lists in place.
    if (exec() != QDialog::Accepted) {
        copy_->Assign(definition);
    }
    // An editor left open goes without writing: its text is in the cell already, or dropped
    // with the rest of a cancelled edit.
    for (VStringGrid* grid :
         {FilesGrid, FoldersGrid, AsciiFileGrid, static_cast<VStringGrid*>(FilePermissionsGrid)}) {
        grid->CancelEdit();
    }

    DeferFreeControl(nullptr);
    given_ = nullptr;
    name_taken_ = nullptr;
    return std::move(copy_);
}

void TPublicationProperties::ShowInformation()
{
    const QelPublication& site = *copy_;
    edt_publication_status->setText(StatusText(site.Status));
    mmo_last_error->setPlainText(site.Status == StatusPublished ? QStringLiteral("No error.")
                                                                : Q(site.LastErrorText));
    if (site.Status == StatusNeverPublished) {
        edt_website_published->setText(QStringLiteral("never"));
        edt_website_files->setText(QStringLiteral("unknown"));
        edt_website_directories->setText(QStringLiteral("unknown"));
    } else {
        edt_website_published->setText(DateTimeText(site.LastPublished));
        edt_website_files->setText(QString::number(site.WebFileCount));
        edt_website_directories->setText(QString::number(site.WebDirsCount));
    }
    edt_web_pages->setText(site.WebPageCount < 1 ? QString() : QString::number(site.WebPageCount));
    edt_source_files->setText(QString::number(site.SrcFileCount));
    edt_source_directories->setText(QString::number(site.SrcDirsCount));
    edt_source_latest->setText(site.SrcFileCount < 1 ? QString()
                                                     : DateTimeText(site.SrcMostRecent));
    edt_source_pages->setText(QString::number(site.SrcPageCount));
}

void TPublicationProperties::FillConnections()
{
    const QelPublication& site = *copy_;
    combo_connection->clear();
    int selected = -1;
    // "Any/LAN connection" is offered also where the system has no dial-up entries at all: a web
    // site made with it must show it, and a Save must not turn it into "LAN only".
    combo_connection->addItem(kAnyLan);
    if (const auto names = GetDialUpEntryNames()) {
        for (const std::string& name : *names) {
            if (selected < 0 && name == site.Connection) {
                selected = combo_connection->count();
            }
            combo_connection->addItem(Q(name));
        }
    }
    combo_connection->addItem(kLanOnly);
    if (selected < 0) {
        selected = site.ConnectionType == 1 ? combo_connection->count() - 1 : 0;
    }
    combo_connection->setCurrentIndex(selected);
}

void TPublicationProperties::UpdateDialUpGroup(bool enabled)
{
    grpDialUp->setEnabled(enabled);
}

void TPublicationProperties::UpdateDeleteTimes()
{
    const bool deleting = chkDeleteOldFiles->isChecked();
    rdoDeleteStraightAway->setEnabled(deleting);
    rdoDeleteLater->setEnabled(deleting);
}

void TPublicationProperties::combo_connectionChange()
{
    const QString chosen = combo_connection->currentText();
    UpdateDialUpGroup(chosen != kAnyLan && chosen != kLanOnly);
}

void TPublicationProperties::chkDeleteOldFilesClick(bool checked)
{
    if (checked) {
        chkWarnOldFiles->setChecked(false);
    }
    UpdateDeleteTimes();
}

void TPublicationProperties::chkWarnOldFilesClick(bool checked)
{
    if (checked) {
        chkDeleteOldFiles->setChecked(false);
    }
    UpdateDeleteTimes();
}

void TPublicationProperties::EditPortNumber_OnChange()
{
    if (adjusting_port_) {
        return;
    }
    const QString text = EditPortNumber->text();
    // Only digits can be typed; a pasted text keeps its digits, so the port is always a number.
    QString digits;
    for (const QChar c : text) {
        if (c.isDigit() && c.unicode() < 128) {
            digits += c;
        }
    }
    if (digits.isEmpty()) {
        if (!text.isEmpty()) {
            const QSignalBlocker block(EditPortNumber);
            EditPortNumber->clear();
        }
        return;
    }
    // A number beyond the highest port stays as typed: Save refuses it and says why.
    if (digits == text) {
        return;
    }
    const int caret = EditPortNumber->cursorPosition();
    adjusting_port_ = true;
    EditPortNumber->setText(digits);
    adjusting_port_ = false;
    EditPortNumber->setCursorPosition(
        std::min(caret > 1 ? caret - 1 : caret, static_cast<int>(digits.size())));
}

void TPublicationProperties::btn_browse_sourceClick()
{
    std::string path;
    BrowseForFolder("Select source directory for " + EditName->text().toStdString(),
                    edt_source_directory->text().toStdString(), false, path);
    if (!path.empty()) {
        edt_source_directory->setText(Q(path));
    }
}

bool TPublicationProperties::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == EditPortNumber) {
        const QChar key = TypedCharacter(event);
        if (!key.isNull() && !(key >= QLatin1Char('0') && key <= QLatin1Char('9'))) {
            return true;
        }
    }
    return VDialog::eventFilter(watched, event);
}

void TPublicationProperties::SaveButtonClick()
{
    if (copy_ == nullptr) {
        return;
    }
    if (edt_password->text() != edt_password2->text()) {
        platform::MessageBox(
            "The password and the re-typed password are not the same. Please re-enter the "
            "password.",
            "Please retype password", kMbExclamationOk);
        return;
    }
    // Another web site's name would overwrite that web site's stored settings, and an empty
    // name has no registry key of its own.
    const std::string name = EditName->text().toStdString();
    if (!IsUsablePublicationName(name)) {
        platform::MessageBox("Please enter a name for the web site.", "Web site name",
                             kMbExclamationOk);
        EditName->setFocus();
        return;
    }
    if (given_ != nullptr && name != given_->GetName() && name_taken_ && name_taken_(name)) {
        platform::MessageBox(
            "There is already a web site called \"" + name + "\". Please choose another name.",
            "Web site name", kMbExclamationOk);
        EditName->setFocus();
        return;
    }
    // Said now, not at the first Publish, which would fail on it.
    const std::string server = EditFTP->text().toStdString();
    if (DiskStorageDevice::IsDiskPath(server)) {
        const std::string overlap =
            DiskStorageDevice::OverlapError(edt_source_directory->text().toStdString(), server);
        if (!overlap.empty()) {
            platform::MessageBox(overlap, "Source and destination", kMbExclamationOk);
            for (int i = 0; i < PropertiesControl->count(); ++i) {
                if (PropertiesControl->widget(i)->isAncestorOf(EditFTP)) {
                    PropertiesControl->setCurrentIndex(i);
                }
            }
            EditFTP->setFocus();
            return;
        }
    }

    // A typed number beyond its bounds is refused as the import refuses it, never brought
    // within them behind the user's back.
    const std::string source = edt_source_directory->text().toStdString();
    if (!RefuseNumbersBeyondBounds()) {
        return;
    }

    QelPublication& site = *copy_;
    site.SetName(name);
    site.Source = source;
    site.Server = server;
    site.Username = EditUsername->text().toStdString();
    site.Password = edt_password->text().toStdString();
    site.UploadViaIntermediary = chkUploadViaTemp->isChecked();
    site.Disabled = chkDisable->isChecked();

    uint16_t port = 0;
    if (rdoCustomFtpPort->isChecked() && !EditPortNumber->text().isEmpty()) {
        port = static_cast<uint16_t>(EditPortNumber->text().toUInt());
    }
    site.FtpPort = port == kStandardFtpPort ? 0 : port;

    const QString connection = combo_connection->currentText();
    const bool dial_up = connection != kAnyLan && connection != kLanOnly;
    site.Connection = dial_up ? connection.toStdString() : std::string();
    site.ConnectionType = connection == kLanOnly ? 1 : 0;

    site.ConnectionTimeout = edt_ConnectionTimeout->value();
    site.GeneralTimeout = edt_GeneralTimeout->value();

    site.DotFileState.Treatment = rdoDotHidden->isChecked()        ? 3
                                  : rdoDotVisible->isChecked()     ? 2
                                  : rdoDotAutoPassive->isChecked() ? 0
                                                                   : 1;
    site.ConnectionBehaviour = !dial_up                    ? 0
                               : rdoAskHangup->isChecked() ? 1
                               : rdoHangUp->isChecked()    ? 2
                                                           : 0;
    site.FtpUseIndy = rdoUseIndy->isChecked();
    site.DeleteOldFiles = chkDeleteOldFiles->isChecked() ? 1 : chkWarnOldFiles->isChecked() ? 2 : 0;
    site.DeleteOldFilesNow = rdoDeleteStraightAway->isChecked();
    site.UploadModifiedNow = rdoUpdateStraightAway->isChecked();

    WriteGrids();

    site.LogExplainCopy = chkExplainWhyCopy->isChecked();
    site.LogListFiles = chkListServerFiles->isChecked();
    // Refused here, where the user can still shorten it; stored, it would load as it is.
    const std::vector<std::string> beyond_bounds = ValuesBeyondBounds(site);
    if (!beyond_bounds.empty()) {
        platform::MessageBox(BeyondBoundsText(beyond_bounds), kBeyondBoundsCaption,
                             kMbExclamationOk);
        return;
    }
    // Every publish would fail on an address it cannot read, or publish somewhere else. A port
    // written in the address outweighs the port buttons.
    const std::string unreadable = SettleServerAddress(site);
    if (!unreadable.empty()) {
        platform::MessageBox(unreadable, "FTP address", kMbExclamationOk);
        for (int i = 0; i < PropertiesControl->count(); ++i) {
            if (PropertiesControl->widget(i)->isAncestorOf(EditFTP)) {
                PropertiesControl->setCurrentIndex(i);
            }
        }
        EditFTP->setFocus();
        return;
    }
    if (!RefuseMissingSource(source)) {
        return;
    }
    DeferFreeControl(nullptr);
    accept();
}

void TPublicationProperties::ShowControl(QWidget* control)
{
    for (int i = 0; i < PropertiesControl->count(); ++i) {
        if (PropertiesControl->widget(i)->isAncestorOf(control)) {
            PropertiesControl->setCurrentIndex(i);
        }
    }
    control->setFocus();
}

bool TPublicationProperties::RefuseNumbersBeyondBounds()
{
    struct Typed
    {
        const PublicationSetting* setting;
        QWidget* control;
        QString text;
    };
    edt_ConnectionTimeout->interpretText();
    edt_GeneralTimeout->interpretText();
    std::vector<Typed> typed{
        {&kConnectionTimeout, edt_ConnectionTimeout, edt_ConnectionTimeout->cleanText().trimmed()},
        {&kGeneralTimeout, edt_GeneralTimeout, edt_GeneralTimeout->cleanText().trimmed()}};
    if (rdoCustomFtpPort->isChecked() && !EditPortNumber->text().isEmpty()) {
        typed.insert(typed.begin(), {&kFtpPort, EditPortNumber, EditPortNumber->text()});
    }
    for (const Typed& value : typed) {
        const std::string problem = NumberValueProblem(*value.setting, value.text.toStdString());
        if (!problem.empty()) {
            platform::MessageBox("The web site settings give " + problem +
                                     ", so they were not saved. Please enter a value within "
                                     "its range.",
                                 "Value out of range", kMbExclamationOk);
            ShowControl(value.control);
            return false;
        }
    }
    // A time-out of 0 stands for its default.
    if (edt_ConnectionTimeout->value() == 0) {
        edt_ConnectionTimeout->setValue(kConnectionTimeout.bounds.default_value);
    }
    if (edt_GeneralTimeout->value() == 0) {
        edt_GeneralTimeout->setValue(kGeneralTimeout.bounds.default_value);
    }
    return true;
}

bool TPublicationProperties::RefuseMissingSource(const std::string& source)
{
    // A source that has gone since it was chosen (a drive not mounted now) does not hold up
    // the other changes; a newly typed one must be there.
    if ((given_ != nullptr && source == given_->Source) || platform::DirectoryExists(source)) {
        return true;
    }
    platform::MessageBox("The source directory " + platform::ToPosixPath(source) +
                             " does not exist or is inaccessible. Please check and reenter.",
                         "Directory does not exist", kMbExclamationOk);
    ShowControl(edt_source_directory);
    return false;
}

void TPublicationProperties::CancelButtonClick()
{
    reject();
}

// ---- The pattern and permission grids ----

namespace {

void ResetGrid(VStringGrid* grid, const QStringList& headers)
{
    grid->SetRowCount(2);
    for (int col = 0; col < headers.size(); ++col) {
        grid->SetCell(col, 0, headers[col]);
        grid->SetCell(col, 1, QString());
    }
    FitGridRowHeight(*grid, 0);
    grid->SetRowHeight(1, grid->RowHeight(0));
}

}  // namespace

void TPublicationProperties::AddEmptyRow(VStringGrid* grid)
{
    grid->SetRowCount(grid->RowCount() + 1);
    grid->SetRowHeight(grid->RowCount() - 1, grid->RowHeight(0));
}

void TPublicationProperties::FillGrids()
{
    QelPublication& site = *copy_;
    const auto fill_exclusions = [this](VStringGrid* grid, const QString& header,
                                        const std::vector<PatternRow>& rows) {
        ResetGrid(grid, {header, QStringLiteral("On Server")});
        for (const PatternRow& row : rows) {
            const int r = grid->RowCount() - 1;
            grid->SetCell(0, r, Q(row.pattern));
            grid->SetCell(1, r, Q(row.value));
            AddEmptyRow(grid);
        }
    };
    fill_exclusions(FilesGrid, QStringLiteral("File"),
                    ExclusionRows(site.IgnoreFiles, site.ExcludeFiles));
    fill_exclusions(FoldersGrid, QStringLiteral("Folder"),
                    ExclusionRows(site.IgnoreFolders, site.ExcludeFolders));

    ResetGrid(AsciiFileGrid, {QStringLiteral("File")});
    for (const std::string& pattern : TextFileRows(site.AsciiFiles)) {
        AsciiFileGrid->SetCell(0, AsciiFileGrid->RowCount() - 1, Q(pattern));
        AddEmptyRow(AsciiFileGrid);
    }

    edtDefaultPermission->setText(Q(site.DefaultFilePermission));

    FilePermissionsGrid->FreeCellControls();
    ResetGrid(FilePermissionsGrid, {QStringLiteral("File"), QStringLiteral("Permission"),
                                    QStringLiteral(" Change ... ")});
    for (const PatternRow& row : PermissionRows(site.FilePermissions)) {
        const int r = FilePermissionsGrid->RowCount() - 1;
        FilePermissionsGrid->SetCell(0, r, Q(row.pattern));
        FilePermissionsGrid->SetCell(1, r, Q(row.value));
        AddChangeButton(2, r);
        AddEmptyRow(FilePermissionsGrid);
    }
    for (VStringGrid* grid :
         {FilesGrid, FoldersGrid, AsciiFileGrid, static_cast<VStringGrid*>(FilePermissionsGrid)}) {
        grid->SetCurrentCell(0, 1);
    }
}

void TPublicationProperties::WriteGrids()
{
    QelPublication& site = *copy_;
    const auto rows_of = [](const VStringGrid* grid) {
        std::vector<PatternRow> rows;
        for (int r = 1; r < grid->RowCount(); ++r) {
            rows.push_back({grid->Cell(0, r).toStdString(), grid->Cell(1, r).toStdString()});
        }
        return rows;
    };
    WriteExclusionRows(rows_of(FilesGrid), false, site.IgnoreFiles, site.ExcludeFiles);
    WriteExclusionRows(rows_of(FoldersGrid), true, site.IgnoreFolders, site.ExcludeFolders);
    std::vector<std::string> text_files;
    for (int r = 1; r < AsciiFileGrid->RowCount(); ++r) {
        text_files.push_back(AsciiFileGrid->Cell(0, r).toStdString());
    }
    site.AsciiFiles = WriteTextFileRows(text_files);
    site.DefaultFilePermission = edtDefaultPermission->text().trimmed().toStdString();
    site.FilePermissions = WritePermissionRows(rows_of(FilePermissionsGrid));
}

bool TPublicationProperties::AcceptsKey(const VStringGrid* grid, int col, QChar key) const
{
    if (grid == FilePermissionsGrid && col == 1) {
        return IsOctalKey(key);
    }
    return IsPatternKey(key);
}

void TPublicationProperties::OnCellEdited(VStringGrid* grid, int col, int row, QString& text)
{
    if (grid == FilePermissionsGrid) {
        OnPermissionsSetEditText(col, row, text);
    } else {
        OnFileSetEditText(grid, col, row, text);
    }
}

void TPublicationProperties::OnFileSetEditText(VStringGrid* grid,
                                               int col,
                                               int row,
                                               const QString& text)
{
    if (row < 1 || row >= grid->RowCount()) {
        return;
    }
    const bool has_action = grid != AsciiFileGrid;
    if (has_action && col == 1) {
        grid->SetCell(1, row, Q(OnServerAction(text.toStdString())));
        return;
    }
    if (col != 0) {
        return;
    }
    grid->SetCell(0, row, text);
    if (!text.isEmpty()) {
        if (row == grid->RowCount() - 1) {
            AddEmptyRow(grid);
        }
        if (has_action && grid->Cell(1, row).isEmpty()) {
            grid->SetCell(1, row, Q(kActionIgnore));
        }
        FitGridColumns(*grid, {0});
    } else if (row != grid->RowCount() - 1) {
        DeleteGridRow(*grid, row, false);
        // The row below takes the removed one's place with its editor open: its text is not
        // selected, so a Backspace more than was needed cannot clear that row too.
        if (auto* edit = qobject_cast<QLineEdit*>(grid->indexWidget(grid->currentIndex()))) {
            edit->deselect();
            edit->home(false);
        }
    }
}

void TPublicationProperties::OnPermissionsSetEditText(int col, int row, QString& text)
{
    TControlStringGrid* grid = FilePermissionsGrid;
    if (row < 1 || row >= grid->RowCount()) {
        return;
    }
    if (col == 1) {
        // Up to three octal digits, whatever way they came (a paste passes the key filter).
        QString digits;
        for (const QChar c : text) {
            if (IsOctalKey(c)) {
                digits += c;
            }
        }
        text = digits.right(3);
        grid->SetCell(1, row, text);
        return;
    }
    if (col != 0) {
        return;
    }
    grid->SetCell(0, row, text);
    const bool last = row == grid->RowCount() - 1;
    if (!text.trimmed().isEmpty()) {
        if (last) {
            AddChangeButton(2, row);
            AddEmptyRow(grid);
        }
        FitGridColumns(*grid, {0});
    } else if (!last) {
        RemovePermissionRow(row);
    }
}

void TPublicationProperties::AddChangeButton(int col, int row)
{
    auto* button = new QPushButton(QStringLiteral("Change ..."), FilePermissionsGrid);
    // Made also while the dialog is shown, after it has settled its buttons: a button that is
    // auto-default stays drawn as the default once it has had the focus.
    button->setAutoDefault(false);
    FilePermissionsGrid->SetCellControl(button, col, row);
    QPointer<QPushButton> guarded(button);
    connect(button, &QPushButton::clicked, this, [this, guarded] {
        if (guarded != nullptr) {
            ChangePermissionClick(guarded);
        }
    });
}

void TPublicationProperties::ChangePermissionClick(QWidget* button)
{
    TControlStringGrid* grid = FilePermissionsGrid;
    int col = 0;
    int row = 0;
    if (!grid->FindControlCell(button, col, row)) {
        return;
    }
    grid->SetCurrentCell(col, row);
    const QString result = chmod_form_->Execute(grid->Cell(1, row));
    // The permission dialog's loop may have let the row go meanwhile; look for it again.
    if (!grid->FindControlCell(button, col, row)) {
        return;
    }
    if (!result.isEmpty()) {
        grid->SetCell(1, row, result);
        return;
    }
    RemovePermissionRow(row);
    grid->FocusCurrentControl();
}

void TPublicationProperties::RemovePermissionRow(int row)
{
    TControlStringGrid* grid = FilePermissionsGrid;
    QWidget* button = grid->GetCellControl(2, row);
    DeferFreeControl(button);
    grid->SetCellControl(nullptr, 2, row);
    DeleteGridRow(*grid, row, true);
}

void TPublicationProperties::DeferFreeControl(QWidget* control)
{
    if (parked_ != nullptr) {
        QWidget* old = parked_;
        parked_ = nullptr;
        old->setParent(nullptr);
        delete old;
    }
    parked_ = control;
    if (control != nullptr) {
        control->hide();
    }
}

void TPublicationProperties::btnChangeDefFilePermissionClick()
{
    edtDefaultPermission->setText(chmod_form_->Execute(edtDefaultPermission->text()));
}

void TPublicationProperties::PropertiesControlOnChange(int index)
{
    QWidget* page = PropertiesControl->widget(index);
    if (page != nullptr && page->isAncestorOf(FilesGrid)) {
        FitGridColumns(*FilesGrid, {0});
        FitGridColumns(*AsciiFileGrid, {0});
        FitGridColumns(*FilePermissionsGrid, {0});
    } else if (page != nullptr && page->isAncestorOf(FoldersGrid)) {
        FitGridColumns(*FoldersGrid, {0});
    }
}

void TPublicationProperties::FilesPageControlOnChange(int index)
{
    VStringGrid* grids[] = {FilesGrid, AsciiFileGrid, FilePermissionsGrid};
    if (index >= 0 && index < 3) {
        FitGridColumns(*grids[index], {0});
    }
}

}  // namespace vantrel
