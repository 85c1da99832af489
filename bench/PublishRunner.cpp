// A headless publish: one synchronisation of a local source folder to a destination folder with
// the options a web site would give, printing every message of the run and its counters.
//
//   publish SOURCE DESTINATION [--delete 0|1|2] [--delete-now] [--temp-names]
//           [--turbo-folder-date T | --turbo-entry-date T] [--text "*.html,*.css"]
//           [--perm "*.cgi=755"] [--default-perm 644] [--explain]
//           [--user U] [--password P] [--port N] [--active] [--client-library]
//           [--general-timeout S] [--connection-timeout S] [--state FILE [--no-turbo]]
//
// T is in seconds since 1970. A DESTINATION that starts with "ftp:" publishes to an FTP server
// (passive unless --active) and prints the commands sent, by verb. It is read as the window reads
// a web site's server, in any form the window takes (ftp:host/folder, ftp://host:2121/folder,
// ftp:\\host\folder); a port written in it is the port, --port the port of one without;
// --client-library publishes through the FTP client library's device instead of the internet
// library's (its commands are not counted). With --state the runner keeps what a web site keeps
// across runs in FILE (the start and status of the last run, the server time offset and the
// dot-file treatment) and sets the Turbo thresholds from them as the main window does with Turbo on
// (--no-turbo: as with Turbo off). The time-outs are a web site's, in seconds (60 and 30 unless
// given). SIGINT or SIGTERM stops the run as the Stop button does: the run ends on its own, with
// its counters, also when it is stopped while the destination opens. The exit status is 0 when the
// run published, 1 when it failed (or the source or destination did not open), 2 for a wrong usage
// and 3 when it was stopped.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "foundation/QelDateFunctions.h"
#include "foundation/QelStringFunctions.h"
#include "platform/Inet.h"
#include "publishing/PublicationInfo.h"
#include "publishing/PublishSession.h"
#include "storage/DiskStorage.h"
#include "storage/FtpStorage.h"
#include "sync/QelSyncBackupWorker.h"
#include "sync/SyncDualOutput.h"
#include "sync/SyncLogFileOutput.h"

namespace vantrel {
namespace {

// The exit status of a run that SIGINT or SIGTERM stopped, wherever it was.
constexpr int kExitStopped = 3;

// Prints each message as the log file would hold it, one line each; quiet, it prints nothing.
class PrintingOutput : public QelSyncBaseOutput
{
public:
    void Write(QelSyncMessageType type, const std::string& text) override
    {
        if (quiet) {
            return;
        }
        std::fputs(QelSyncLogFileOutput::FormatLine(type, text).c_str(), stdout);
        std::fputc('\n', stdout);
    }

    bool quiet = false;
};

// The name of the first folder right below root, in name order; empty when it has none.
std::string FirstSubfolder(const std::string& root)
{
    std::string first;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory(error) && !entry.is_symlink(error) &&
            (first.empty() || name < first)) {
            first = name;
        }
    }
    return first;
}

// Set by SIGINT and SIGTERM during the run; a lock-free atomic may be written from a handler.
std::atomic<bool>* stop_request = nullptr;
static_assert(std::atomic<bool>::is_always_lock_free);

void RequestStop(int /*signal*/)
{
    if (stop_request != nullptr) {
        *stop_request = true;
    }
}

void Usage()
{
    std::fputs(
        "usage: publish SOURCE DESTINATION [--delete 0|1|2] [--delete-now] [--temp-names]\n"
        "               [--turbo-folder-date T | --turbo-entry-date T] [--text PATTERNS]\n"
        "               [--perm PATTERN=PERMISSION] [--default-perm PERMISSION] [--explain]\n"
        "               [--user U] [--password P] [--port N] [--active] [--client-library]\n"
        "               [--general-timeout S] [--connection-timeout S] [--state FILE "
        "[--no-turbo]]\n"
        "SIGINT or SIGTERM stops the run as Stop does; it then ends with its counters and exit\n"
        "status 3 (0 published, 1 failed).\n",
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

// The state file's values bear the names of the web site's stored values, and read as those do.
constexpr const PublicationSetting& kLastPublishedValue = PublicationSettingNamed("LastPublished");
constexpr const PublicationSetting& kStatusValue = PublicationSettingNamed("Status");
constexpr const PublicationSetting& kServerTimeDriftValue =
    PublicationSettingNamed("ServerTimeDrift");
constexpr const PublicationSetting& kDotFileTreatmentValue =
    PublicationSettingNamed("DotFileTreatment");

// What a web site definition keeps across runs, as far as a run needs it.
struct SiteState
{
    TDateTime LastPublished = 0;
    int Status = 0;  // 0 never published, 1 failed, 2 published
    TDateTime ServerTimeDrift = 0;
    int DotFileTreatment = 0;
};

SiteState ReadState(const std::string& path)
{
    SiteState state;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const std::string key = Before(line, "=");
        const std::string value = After(line, "=");
        if (key == kLastPublishedValue.name) {
            state.LastPublished = std::strtod(value.c_str(), nullptr);
        } else if (key == kStatusValue.name) {
            state.Status = std::atoi(value.c_str());
        } else if (key == kServerTimeDriftValue.name) {
            // An offset no measurement keeps is measured again, as a web site's stored one is.
            const TDateTime drift = std::strtod(value.c_str(), nullptr);
            state.ServerTimeDrift = kServerTimeDriftValue.date_bounds.holds(drift) ? drift : 0;
        } else if (key == kDotFileTreatmentValue.name) {
            state.DotFileTreatment = std::atoi(value.c_str());
        }
    }
    return state;
}

void WriteState(const std::string& path, const SiteState& state)
{
    std::ofstream out(path, std::ios::trunc);
    char text[256];
    std::snprintf(text, sizeof text, "%s=%.17g\n%s=%d\n%s=%.17g\n%s=%d\n", kLastPublishedValue.name,
                  state.LastPublished, kStatusValue.name, state.Status, kServerTimeDriftValue.name,
                  state.ServerTimeDrift, kDotFileTreatmentValue.name, state.DotFileTreatment);
    out << text;
}

void PrintCommandCounts()
{
    uint64_t total = 0;
    std::string by_verb;
    for (const auto& [verb, count] : platform::SentFtpCommandCounts()) {
        total += count;
        by_verb += " " + verb + "=" + std::to_string(count);
    }
    std::printf("ftp_commands=%llu%s\n", static_cast<unsigned long long>(total), by_verb.c_str());
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
    std::string user_name;
    std::string password;
    long port = 0;
    bool active = false;
    int32_t general_timeout = 60;
    int32_t connection_timeout = 30;
    bool client_library = false;
    std::string state_path;
    bool turbo = true;

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
        } else if (arg == "--user" && has_value) {
            user_name = argv[++i];
        } else if (arg == "--password" && has_value) {
            password = argv[++i];
        } else if (arg == "--port" && has_value) {
            char* end = nullptr;
            port = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || port < 0 || port > PublicationSettingNamed("FtpPort").bounds.max) {
                Usage();
                return 2;
            }
        } else if ((arg == "--general-timeout" || arg == "--connection-timeout") && has_value) {
            char* end = nullptr;
            const long seconds = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || seconds < 0 || seconds > 86400) {
                Usage();
                return 2;
            }
            (arg == "--general-timeout" ? general_timeout : connection_timeout) =
                static_cast<int32_t>(seconds);
        } else if (arg == "--no-turbo") {
            turbo = false;
        } else if (arg == "--active") {
            active = true;
        } else if (arg == "--client-library") {
            client_library = true;
        } else if (arg == "--state" && has_value) {
            state_path = argv[++i];
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

    // Every message is printed; the run's record takes its last error from the catcher, as the
    // window's session does.
    auto printing_output = std::make_unique<PrintingOutput>();
    auto error_catcher = std::make_unique<RunErrorCatcher>();
    PrintingOutput& printing = *printing_output;
    const RunErrorCatcher& errors = *error_catcher;
    QelSyncDualOutput output(std::move(printing_output), std::move(error_catcher));
    SiteState state;
    if (!state_path.empty()) {
        state = ReadState(state_path);
    }
    // The web site these options stand for, and the run options the main window makes of it.
    QelPublication site;
    site.DeleteOldFiles = static_cast<uint8_t>(delete_choice);
    site.DeleteOldFilesNow = delete_now;
    site.UploadViaIntermediary = temp_names;
    site.LogExplainCopy = explain;
    site.AsciiFiles = text_files;
    site.FilePermissions = permissions;
    site.DefaultFilePermission = default_permission;
    site.Status = static_cast<TPublicationStatus>(state.Status);
    site.LastPublished = state.LastPublished;
    QelSyncFlags flags;
    FillSyncFlags(site, turbo && !state_path.empty(), &flags);
    if (turbo_folder != 0) {
        flags.TurboFolderDate = turbo_folder;
    }
    if (turbo_entry != 0) {
        flags.TurboEntryDate = turbo_entry;
    }

    // The destination as the web site's server, with its time-outs.
    site.Server = positional[1];
    site.FtpPort = static_cast<uint16_t>(port);
    site.FtpUseIndy = client_library;
    site.GeneralTimeout = general_timeout;
    site.ConnectionTimeout = connection_timeout;
    site.DotFileState.Treatment = static_cast<uint8_t>(state.DotFileTreatment);
    site.ServerTimeDrift = state.ServerTimeDrift;

    // From here on a signal to end is a stop request: the run ends at its next step, and its
    // waits (the opening of the destination among them) end at once.
    stop_request = &flags.StopRequested;
    struct sigaction stop_action = {};
    stop_action.sa_handler = RequestStop;
    sigemptyset(&stop_action.sa_mask);
    sigaction(SIGINT, &stop_action, nullptr);
    sigaction(SIGTERM, &stop_action, nullptr);

    const std::string source_root = platform::ToSystemPath(positional[0]);
    std::unique_ptr<QelStorageDevice> source = std::make_unique<DiskStorageDevice>(&output);
    bool opened = source->Open(source_root, "", "", "");
    DestinationOptions options;
    // Nobody sits at the runner: a connection time-out is an error line like any other.
    options.quiet_timeout = false;
    options.passive = !active;
    options.stop = &flags.StopRequested;
    // What the destination finds out about the server; the site takes it once the device is gone.
    ServerFindings findings;
    options.findings = &findings;
    const bool ftp = StartsWith(positional[1], "ftp:", true);
    if (!ftp) {
        // Any other destination is a folder, a relative one too.
        std::error_code error;
        site.Server =
            platform::ToSystemPath(std::filesystem::absolute(positional[1], error).string());
    }
    Destination made = MakeDestinationDevice(site, output, options);
    std::unique_ptr<QelStorageDevice> destination = std::move(made.device);
    // The root as the window's run has it, not one rebuilt here: the runner publishes wherever
    // the window would.
    const std::string destination_root = made.address;
    opened = opened && destination->Open(made.address, user_name, password, "");
    if (made.ftp != nullptr) {
        FtpStorageDevice* device = made.ftp;
        // A state kept for a remote copy that has since been emptied would make Turbo skip
        // everything: an empty destination root is published in full. Entering a folder the
        // source has costs one command where a listing of the root costs four; a missing folder
        // is an answer here, not a failure, so the output is quiet meanwhile.
        if (opened && (flags.TurboFolderDate != 0 || flags.TurboEntryDate != 0)) {
            const std::string probe = FirstSubfolder(positional[0]);
            printing.quiet = true;
            const bool published =
                probe.empty() || client_library
                    ? device->ListDirectory(destination_root, "", true)->Count() != 0
                    : device->ChangeDirectory(destination_root + "\\" + probe);
            printing.quiet = false;
            if (!published) {
                flags.TurboFolderDate = 0;
                flags.TurboEntryDate = 0;
            }
        }
    }
    // A stop while the destination opened ends the run as a stop during it does: with its
    // (empty) counters. The worker would forget the request, so it does not run.
    const bool stopped_opening = flags.StopRequested.load();
    if (!opened && !stopped_opening) {
        std::fputs("cannot open the source or the destination\n", stderr);
        return 1;
    }

    const TDateTime start_time = NowDateTime();
    QelSyncBackupWorker worker(&output);
    const auto start = std::chrono::steady_clock::now();
    if (stopped_opening) {
        source.reset();
        destination.reset();
    } else {
        worker.Synchronise(source_root, source, destination_root, destination, flags);
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const QelSyncStatus& st = stopped_opening ? QelSyncStatus{} : worker.Status();
    std::printf(
        "copied=%d processed=%d source_files=%d folders_created=%d files_deleted=%d "
        "folders_deleted=%d failed=%d stopped=%d wall_s=%.3f\n",
        st.FilesCopied, st.FilesProcessed, st.SourceFiles, st.FoldersCreated, st.FilesDeleted,
        st.FoldersDeleted, flags.Failed ? 1 : 0, flags.StopRequested ? 1 : 0, wall);
    if (ftp && !client_library) {
        PrintCommandCounts();
    }
    if (!state_path.empty()) {
        // Both devices are gone by now: what the destination found out is final.
        const RunOutcome outcome = OutcomeOf(flags);
        RecordRunResult(site, st, outcome, start_time, errors.LastError());
        RecordServerFindings(site, findings, outcome == RunOutcome::kPublished);
        state.Status = site.Status;
        state.LastPublished = site.LastPublished;
        state.DotFileTreatment = site.DotFileState.Treatment;
        state.ServerTimeDrift = site.ServerTimeDrift;
        WriteState(state_path, state);
    }
    if (flags.StopRequested) {
        return kExitStopped;
    }
    return flags.Failed ? 1 : 0;
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv)
{
    return vantrel::Main(argc, argv);
}
