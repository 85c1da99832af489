#pragma once

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "dialogs/VDialog.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

// TPublicationProperties, the web site configuration dialog: every setting of one web site, its
// file, text-file, permission and folder patterns included.
namespace vantrel {

class QelPublication;
class TChmodForm;
class TControlStringGrid;
class VSpinEdit;
class VStringGrid;

// Made once and reused; edits a working copy of the definition it is given and never touches
// that definition. GUI thread only.
class TPublicationProperties : public VDialog
{
    Q_OBJECT

public:
    // Whether another web site already bears a name (exact comparison).
    using NameTaken = std::function<bool(const std::string& name)>;

    explicit TPublicationProperties(QWidget* parent = nullptr);
    ~TPublicationProperties() override;

    // Shows the dialog modally for `definition` and returns the working copy, always: after
    // "Save" it holds the edited settings, after "Cancel", Esc or the title-bar close it equals
    // `definition`. The caller compares it with its definition (QelPublication::SameSettings)
    // and stores it only when they differ. Save refuses a name that is empty, or that differs
    // from the definition's and is taken by another web site (`name_taken`; none: never).
    std::unique_ptr<QelPublication> Execute(const QelPublication& definition,
                                            NameTaken name_taken = {});

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class CellDelegate;

    QWidget* BuildGeneralPage();
    QWidget* BuildInformationPage();
    QWidget* BuildFtpPage();
    QWidget* BuildBehaviourPage();
    QWidget* BuildAdvancedPage();
    QWidget* BuildFilesPage();
    QWidget* BuildFoldersPage();
    VStringGrid* MakePatternGrid(VStringGrid* grid, const char* name, bool always_edit);

    void ShowInformation();
    void FillConnections();
    void FillGrids();
    void WriteGrids();
    void UpdateDialUpGroup(bool enabled);
    void UpdateDeleteTimes();

    void SaveButtonClick();
    // Each false after telling the user and showing the control at fault.
    bool RefuseNumbersBeyondBounds();
    bool RefuseMissingSource(const std::string& source);
    void ShowControl(QWidget* control);
    void CancelButtonClick();
    void btn_browse_sourceClick();
    void combo_connectionChange();
    void EditPortNumber_OnChange();
    void chkDeleteOldFilesClick(bool checked);
    void chkWarnOldFilesClick(bool checked);
    void PropertiesControlOnChange(int index);
    void FilesPageControlOnChange(int index);
    void btnChangeDefFilePermissionClick();

    // Every change of a cell's text while it is edited; may rewrite `text`, which the editor
    // then shows.
    void OnCellEdited(VStringGrid* grid, int col, int row, QString& text);
    void OnFileSetEditText(VStringGrid* grid, int col, int row, const QString& text);
    void OnPermissionsSetEditText(int col, int row, QString& text);
    // Whether a typed character may reach a cell of the grid's column.
    bool AcceptsKey(const VStringGrid* grid, int col, QChar key) const;
    void AddEmptyRow(VStringGrid* grid);
    void AddChangeButton(int col, int row);
    void ChangePermissionClick(QWidget* button);
    // Removes a permission row together with its button, which may be the caller.
    void RemovePermissionRow(int row);
    // Frees the control parked before and parks `control` (hidden), so that a button is never
    // freed inside its own click.
    void DeferFreeControl(QWidget* control);

    const QelPublication* given_ = nullptr;  // The caller's, during Execute.
    std::unique_ptr<QelPublication> copy_;
    NameTaken name_taken_;
    QPointer<QWidget> parked_;
    bool adjusting_port_ = false;

    TChmodForm* chmod_form_;

    QTabWidget* PropertiesControl;
    QPushButton* SaveButton;
    QPushButton* CancelButton;
    // General
    QLineEdit* EditName;
    QLineEdit* edt_source_directory;
    QPushButton* btn_browse_source;
    QCheckBox* chkDisable;
    // Information
    QLineEdit* edt_publication_status;
    QPlainTextEdit* mmo_last_error;
    QLineEdit* edt_website_files;
    QLineEdit* edt_website_directories;
    QLineEdit* edt_website_published;
    QLineEdit* edt_web_pages;
    QLineEdit* edt_source_files;
    QLineEdit* edt_source_directories;
    QLineEdit* edt_source_latest;
    QLineEdit* edt_source_pages;
    // FTP parameters
    QLineEdit* EditFTP;
    QLineEdit* EditUsername;
    QLineEdit* edt_password;
    QLineEdit* edt_password2;
    QComboBox* combo_connection;
    QRadioButton* rdoFtpPortDefault;
    QRadioButton* rdoCustomFtpPort;
    QLineEdit* EditPortNumber;
    QGroupBox* grpDialUp;
    QLabel* lblHangUp;
    QRadioButton* rdoLeaveConnection;
    QRadioButton* rdoAskHangup;
    QRadioButton* rdoHangUp;
    VSpinEdit* edt_ConnectionTimeout;
    QPushButton* btn_DefaultConnectionTimeout;
    VSpinEdit* edt_GeneralTimeout;
    QPushButton* btn_DefaultTimeouts;
    // Behaviour
    QRadioButton* RadioButton1;
    QCheckBox* chkDeleteOldFiles;
    QCheckBox* chkWarnOldFiles;
    QRadioButton* rdoDeleteStraightAway;
    QRadioButton* rdoDeleteLater;
    QGroupBox* grpUpdatedFiles;
    QRadioButton* rdoUpdateStraightAway;
    QRadioButton* rdoUpdateLater;
    // Advanced
    QCheckBox* chkUploadViaTemp;
    QRadioButton* rdoDotAutoActive;
    QRadioButton* rdoDotAutoPassive;
    QRadioButton* rdoDotHidden;
    QRadioButton* rdoDotVisible;
    QCheckBox* chkExplainWhyCopy;
    QCheckBox* chkListServerFiles;
    QRadioButton* rdoUseWininet;
    QRadioButton* rdoUseIndy;
    // Files and Folders
    QTabWidget* FilesPageControl;
    VStringGrid* FilesGrid;
    VStringGrid* AsciiFileGrid;
    TControlStringGrid* FilePermissionsGrid;
    QLineEdit* edtDefaultPermission;
    QPushButton* btnChangeDefFilePermission;
    VStringGrid* FoldersGrid;
};

}  // namespace vantrel
