#include "tests/support/PublicationSamples.h"

namespace vantrel::testing {

std::unique_ptr<QelPublication> EveryValueAwayFromDefault(const std::string& name)
{
    auto p = std::make_unique<QelPublication>();
    p->SetName(name);
    p->LastPublished = 45123.5;
    p->LastSuccessfullyPublished = 45120.25;
    p->Source = "\\home\\me\\site";
    p->Server = "ftp:ftp.example.net\\www";
    p->Username = "me";
    p->Password = "p\"a ss,=word";
    p->Status = StatusNeedsPublishing;
    p->IgnoreFiles = {"*\\thumbs.db", "my file.htm"};
    p->ExcludeFiles = {"*.bak", "say \"hi\".txt", "a,b"};
    p->IgnoreFolders = {"*\\cgi-bin"};
    p->ExcludeFolders = {"*\\private folder"};
    for (int i = 0; i < 300; ++i) {
        p->AsciiFiles.push_back("*.ext" + std::to_string(1000 + i));
    }
    p->FilePermissions = {"*.pl=755", "*.cgi=750"};
    p->DefaultFilePermission = "644";
    p->UploadModifiedNow = false;
    p->DeleteOldFiles = 2;
    p->DeleteOldFilesNow = true;
    p->LastErrorText = "Could not connect";
    p->WebFileCount = 11;
    p->WebDirsCount = 12;
    p->WebPageCount = 13;
    p->SrcFileCount = 14;
    p->SrcPageCount = 15;
    p->SrcDirsCount = 16;
    p->SrcMostRecent = 45122.75;
    p->ServerTimeDrift = 30.0 / 86400;
    p->ConnectionType = 1;
    p->ConnectionBehaviour = 2;
    p->Connection = "Home ISP";
    p->ConnectionTimeout = 45;
    p->GeneralTimeout = 50;
    p->DotFileState.Treatment = 3;
    p->FtpUseIndy = true;
    p->Disabled = true;
    p->FtpPort = 2121;
    p->LogExplainCopy = true;
    p->LogListFiles = true;
    p->UploadViaIntermediary = true;
    return p;
}

}  // namespace vantrel::testing
