// A headless publish: one synchronisation of a local source folder to a destination folder with
// the options a web site would give, printing every message of the run and its counters.
//
//   publish SOURCE DESTINATION [--delete 0|1|2] [--delete-now] [--temp-names]
//           [--turbo-folder-date T | --turbo-entry-date T] [--text "*.html,*.css"]
//           [--perm "*.cgi=755"] [--default-perm 644] [--explain]
//
// T is in seconds since 1970. The exit status is 0 unless the run failed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "foundation/QelDateFunctions.h"
#include "foundation/QelStringFunctions.h"
#include "storage/DiskStorage.h"
#include "sync/QelSyncBackupWorker.h"
#include "sync/SyncLogFileOutput.h"

namespace vantrel {
namespace {

// Prints each message as the log file would hold it, one line each.
class PrintingOutput : public QelSyncBaseOutput
{
public:
    void Write(QelSyncMessageType type, const std::string& text) override
    {
        std::fputs(QelSyncLogFileOutput::FormatLine(type, text).c_str(), stdout);
        std::fputc('\n', stdout);
    }
};

void Usage()
{
    std::fputs(
        "usage: publish SOURCE DESTINATION [--delete 0|1|2] [--delete-now] [--temp-names]\n"
        "               [--turbo-folder-date T | --turbo-entry-date T] [--text PATTERNS]\n"
        "               [--perm PATTERN=PERMISSION] [--default-perm PERMISSION] [--explain]\n",
        stderr);
}

// Comma-separated patterns as lines of a pattern list.
std::vector<std::string> SplitList(std::string text)
{
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::string head;
        SplitHead(&text, ",", &head);
        if (!head.empty()) {
            lines.push_back(head);
        }
    }
    return lines;
}

bool ParseSeconds(const char* text, TDateTime* date)
{
    char* end = nullptr;
    const long long seconds = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || seconds < 0) {
        return false;
    }
    const uint64_t ticks = (static_cast<uint64_t>(seconds) + 11'644'473'600ULL) * 10'000'000ULL;
    *date = FileTimeToLocalDateTime(platform::FileTime::FromValue(ticks));
    return true;
}

int Main(int argc, char** argv)
{
    std::vector<std::string> positional;
    int delete_choice = 0;
    bool delete_now = false;
    bool temp_names = false;
    bool explain = false;
    TDateTime turbo_folder = 0;
    TDateTime turbo_entry = 0;
    std::vector<std::string> text_files;
    std::vector<std::string> permissions;
    std::string default_permission;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--delete" && has_value) {
            const std::string value = argv[++i];
            if (value != "0" && value != "1" && value != "2") {
                Usage();
                return 2;
            }
            delete_choice = value[0] - '0';
        } else if (arg == "--delete-now") {
            delete_now = true;
        } else if (arg == "--temp-names") {
            temp_names = true;
        } else if (arg == "--explain") {
            explain = true;
        } else if (arg == "--turbo-folder-date" && has_value) {
            if (!ParseSeconds(argv[++i], &turbo_folder)) {
                Usage();
                return 2;
            }
        } else if (arg == "--turbo-entry-date" && has_value) {
            if (!ParseSeconds(argv[++i], &turbo_entry)) {
                Usage();
                return 2;
            }
        } else if (arg == "--text" && has_value) {
            text_files = SplitList(argv[++i]);
        } else if (arg == "--perm" && has_value) {
            const auto more = SplitList(argv[++i]);
            permissions.insert(permissions.end(), more.begin(), more.end());
        } else if (arg == "--default-perm" && has_value) {
            default_permission = argv[++i];
        } else if (arg.rfind("--", 0) == 0) {
            Usage();
            return 2;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2 || (turbo_folder != 0 && turbo_entry != 0)) {
        Usage();
        return 2;
    }

    PrintingOutput output;
    QelSyncFlags flags;
    // As the main window fills them for a web site.
    flags.CreateDestinationRoot = true;
    flags.Recurse = true;
    flags.ClearReadOnly = true;
    flags.DatesOnly = false;
    flags.DeleteObsolete = delete_choice == 1;
    flags.ListObsoleteOnly = delete_choice == 2;
    flags.DeleteImmediately = delete_now;
    flags.ExplainCopy = explain;
    flags.TextFiles = text_files;
    flags.FilePermissions = permissions;
    flags.DefaultFilePermission = default_permission;
    flags.TempNameTag = temp_names ? "qvr" : "";
    flags.TurboFolderDate = turbo_folder;
    flags.TurboEntryDate = turbo_entry;
    flags.FreeSourceDevice = true;
    flags.FreeDestinationDevice = true;

    const std::string source_root = platform::ToSystemPath(positional[0]);
    const std::string destination_root = platform::ToSystemPath(positional[1]);
    std::unique_ptr<QelStorageDevice> source = std::make_unique<DiskStorageDevice>(&output);
    std::unique_ptr<QelStorageDevice> destination = std::make_unique<DiskStorageDevice>(&output);
    if (!source->Open(source_root, "", "", "") ||
        !destination->Open(destination_root, "", "", "")) {
        std::fputs("cannot open the source or the destination\n", stderr);
        return 1;
    }

    QelSyncBackupWorker worker(&output);
    const auto start = std::chrono::steady_clock::now();
    worker.Synchronise(source_root, source, destination_root, destination, flags);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const QelSyncStatus& st = worker.Status();
    std::printf(
        "copied=%d processed=%d source_files=%d folders_created=%d files_deleted=%d "
        "folders_deleted=%d failed=%d stopped=%d wall_s=%.3f\n",
        st.FilesCopied, st.FilesProcessed, st.SourceFiles, st.FoldersCreated, st.FilesDeleted,
        st.FoldersDeleted, flags.Failed ? 1 : 0, flags.StopRequested ? 1 : 0, wall);
    return flags.Failed ? 1 : 0;
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv)
{
    return vantrel::Main(argc, argv);
}
