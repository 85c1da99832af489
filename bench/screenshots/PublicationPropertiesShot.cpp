// The web site configuration dialog, every page and the three inner pages of "Files", for a web
// site published once, with patterns in every grid.
#include <QPushButton>
#include <QTabWidget>

#include "bench/screenshots/WindowShots.h"
#include "dialogs/PublicationPropertiesU.h"
#include "publishing/PublicationInfo.h"
#include "tests/support/qt/DialogDriver.h"

namespace {

void ShootPublicationProperties(vantrel::bench::ShotSession& session)
{
    vantrel::TPublicationProperties dialog;
    vantrel::QelPublication site;
    site.SetName("Example site");
    site.Source = "/home/user/www/example";
    site.Server = "ftp://ftp.example.com/public_html";
    site.Username = "webmaster";
    site.Password = "secret";
    site.Status = vantrel::StatusPublished;
    site.LastPublished = 46000.5;
    site.WebFileCount = 412;
    site.WebDirsCount = 23;
    site.WebPageCount = 96;
    site.SrcFileCount = 415;
    site.SrcDirsCount = 23;
    site.SrcPageCount = 97;
    site.SrcMostRecent = 46001.25;
    site.FtpPort = 2121;
    site.ConnectionTimeout = 30;
    site.GeneralTimeout = 20;
    site.DeleteOldFiles = 1;
    site.DotFileState.Treatment = 0;
    site.LogExplainCopy = true;
    site.UploadViaIntermediary = true;
    site.DefaultFilePermission = "644";
    site.IgnoreFiles = {"*\\thumbs.db", "*.bak"};
    site.ExcludeFiles = {"*.log", "*\\drafts\\notes.txt"};
    site.IgnoreFolders = {"\\cgi-bin"};
    site.ExcludeFolders = {"*\\logs\\*", "*\\_private"};
    site.AsciiFiles = {"*.htm", "*.html", "*.php", "*.css", "*.txt"};
    site.FilePermissions = {"*.cgi=755", "*.pl=755", "config.php=600"};
    vantrel::testing::RunModal(
        [&](QWidget* window) {
            auto* files = window->findChild<QTabWidget*>(QStringLiteral("FilesPageControl"));
            auto* pages = window->findChild<QTabWidget*>(QStringLiteral("PropertiesControl"));
            session.SavePages(window, pages, QStringLiteral("TPublicationProperties"));
            pages->setCurrentIndex(pages->indexOf(files->parentWidget()));
            session.SavePages(window, files, QStringLiteral("TPublicationProperties_Files"));
            window->findChild<QPushButton*>(QStringLiteral("CancelButton"))->click();
        },
        [&] { (void)dialog.Execute(site); });
}

}  // namespace

VANTREL_WINDOW_SHOT(ShootPublicationProperties)
