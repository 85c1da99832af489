#include "tests/support/FtpTestServers.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <thread>
#include <unistd.h>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "platform/Sockets.h"

namespace vantrel::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr auto kStartLimit = std::chrono::seconds(15);

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// True while the process exists and is not a zombie.
bool ProcessAlive(pid_t pid)
{
    const std::string stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

// Every descendant of pid, deepest first.
void Descendants(pid_t pid, std::vector<pid_t>* found)
{
    std::istringstream children(ReadWholeFile("/proc/" + std::to_string(pid) + "/task/" +
                                              std::to_string(pid) + "/children"));
    pid_t child = 0;
    while (children >> child) {
        Descendants(child, found);
        found->push_back(child);
    }
}

// The server greets with 220 on host:port.
bool Greets(const std::string& host, uint16_t port)
{
    std::vector<platform::SocketAddress> addresses;
    int resolve_error = 0;
    if (!platform::ResolveHost(host, port, &addresses, &resolve_error)) {
        return false;
    }
    platform::Socket socket;
    if (!socket.Connect(addresses.front(), platform::DeadlineAfter(1000), nullptr).ok()) {
        return false;
    }
    std::string greeting;
    const auto until = steady_clock::now() + milliseconds(2000);
    while (greeting.size() < 4 && steady_clock::now() < until) {
        char buffer[256];
        size_t got = 0;
        if (!socket.Receive(buffer, sizeof buffer, 2000, nullptr, &got).ok()) {
            break;
        }
        greeting.append(buffer, got);
    }
    return greeting.starts_with("220");
}

}  // namespace

FtpTestServer::FtpTestServer(std::string host)
    : host_(std::move(host))
{
    sandbox_.MakeFolder("root/site");
}

FtpTestServer::~FtpTestServer()
{
    Stop();
}

std::string FtpTestServer::SiteLocalPath(const std::string& relative) const
{
    return sandbox_.Path(relative.empty() ? "root/site" : "root/site/" + relative);
}

bool FtpTestServer::Spawn(const std::vector<std::string>& argv,
                          uint16_t port,
                          const std::string& ready_file,
                          std::string* why)
{
    const std::string output = sandbox_.Path("server.out");
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        *why = "fork failed";
        return false;
    }
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(127);
        }
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
        }
        const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (null_fd >= 0) {
            dup2(null_fd, STDIN_FILENO);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    pid_ = pid;
    const auto until = steady_clock::now() + kStartLimit;
    while (steady_clock::now() < until) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = 0;
            *why = argv[0] + " ended at start: " + ReadWholeFile(output);
            return false;
        }
        if (port == 0 && std::filesystem::exists(ready_file)) {
            port = static_cast<uint16_t>(std::stoi(ReadWholeFile(ready_file)));
        }
        if (port != 0 && Greets(host_, port)) {
            port_ = port;
            return true;
        }
        std::this_thread::sleep_for(milliseconds(50));
    }
    Stop();
    *why = argv[0] + " did not come up: " + ReadWholeFile(output);
    return false;
}

void FtpTestServer::Stop()
{
    if (pid_ <= 0) {
        return;
    }
    // Session processes first, while their parents live to reap them.
    std::vector<pid_t> sessions;
    Descendants(pid_, &sessions);
    for (pid_t session : sessions) {
        kill(session, SIGTERM);
    }
    const auto sessions_until = steady_clock::now() + std::chrono::seconds(2);
    for (pid_t session : sessions) {
        while (ProcessAlive(session) && steady_clock::now() < sessions_until) {
            std::this_thread::sleep_for(milliseconds(10));
        }
    }
    // A session may outlive its SIGTERM (vsftpd's did, while it kept to a rate limit).
    for (pid_t session : sessions) {
        if (ProcessAlive(session)) {
            kill(session, SIGKILL);
        }
    }
    kill(pid_, SIGTERM);
    const auto until = steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (steady_clock::now() >= until) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    pid_ = 0;
}

void FtpTestServer::Kill()
{
    if (pid_ <= 0) {
        return;
    }
    std::vector<pid_t> sessions;
    Descendants(pid_, &sessions);
    for (pid_t session : sessions) {
        kill(session, SIGKILL);
    }
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    const auto until = steady_clock::now() + std::chrono::seconds(2);
    for (pid_t session : sessions) {
        while (ProcessAlive(session) && steady_clock::now() < until) {
            std::this_thread::sleep_for(milliseconds(1));
        }
    }
    pid_ = 0;
}

bool FtpTestServer::Restart(std::string* why)
{
    *why = Family() + " cannot restart";
    return false;
}

PyftpdlibServer::PyftpdlibServer(std::string host)
    : FtpTestServer(std::move(host))
{}

bool PyftpdlibServer::Start(std::string* why)
{
    return Run({}, why);
}

bool PyftpdlibServer::StartTls(Reset reset, std::string* why, const std::string& certified)
{
    const std::string key = sandbox_.Path("key.pem");
    // Sandbox paths hold no characters the shell would read.
    const std::string make_certificate =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1"
        " -subj /CN=" +
        certified + " -addext subjectAltName=IP:" + certified + " -keyout '" + key + "' -out '" +
        CertificatePath() + "' >'" + sandbox_.Path("openssl.out") + "' 2>&1";
    if (std::system(make_certificate.c_str()) != 0) {
        *why =
            "openssl could not make a certificate: " + ReadWholeFile(sandbox_.Path("openssl.out"));
        return false;
    }
    std::vector<std::string> extra = {"--tls-cert", CertificatePath(), "--tls-key", key};
    if (reset != Reset::kNone) {
        extra.insert(extra.end(), {"--reset", reset == Reset::kPlain ? "plain" : "all"});
    }
    return Run(extra, why);
}

bool PyftpdlibServer::Run(const std::vector<std::string>& extra, std::string* why)
{
    if (access("/usr/bin/python3", X_OK) != 0) {
        *why = "/usr/bin/python3 is missing";
        return false;
    }
    const std::string ready = sandbox_.Path("port");
    std::vector<std::string> argv = {
        "/usr/bin/python3", std::string(VANTREL_TEST_SUPPORT_DIR) + "/ftp_server.py",
        "--root",           sandbox_.Path("root"),
        "--host",           Host(),
        "--user",           User(),
        "--password",       Password(),
        "--ready-file",     ready,
        "--command-log",    sandbox_.Path("commands.log")};
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (hides_dot_files_) {
        argv.push_back("--hide-dot-files");
    }
    if (max_upload_rate_ != 0) {
        argv.insert(argv.end(), {"--max-upload-rate", std::to_string(max_upload_rate_)});
    }
    if (strips_carriage_returns_) {
        argv.push_back("--strip-cr");
    }
    return Spawn(argv, 0, ready, why);
}

bool PyftpdlibServer::Restart(std::string* why)
{
    Stop();
    std::filesystem::remove(sandbox_.Path("port"));
    return Start(why);
}

std::vector<std::string> PyftpdlibServer::Commands() const
{
    std::vector<std::string> commands;
    std::istringstream lines(ReadWholeFile(sandbox_.Path("commands.log")));
    for (std::string line; std::getline(lines, line);) {
        commands.push_back(line);
    }
    return commands;
}

VsftpdServer::VsftpdServer()
    : FtpTestServer("127.0.0.1")
{}

bool VsftpdServer::Available(std::string* why)
{
    if (geteuid() != 0) {
        *why = "vsftpd needs root";
        return false;
    }
    if (access("/usr/sbin/vsftpd", X_OK) != 0) {
        *why = "vsftpd is not installed";
        return false;
    }
    return true;
}

bool VsftpdServer::Start(std::string* why)
{
    if (!Available(why)) {
        return false;
    }
    // Anonymous sessions run as this account; the root must not be theirs to write.
    const passwd* account = getpwnam("ftp");
    if (account == nullptr) {
        account = getpwnam("nobody");
    }
    if (account == nullptr) {
        *why = "no account for anonymous sessions";
        return false;
    }
    const std::string root = sandbox_.Path("root");
    chmod(sandbox_.Path().c_str(), 0755);
    chmod(root.c_str(), 0755);
    if (chown(SiteLocalPath().c_str(), account->pw_uid, account->pw_gid) != 0) {
        *why = "cannot hand the site folder to the ftp account";
        return false;
    }
    sandbox_.MakeFolder("empty");
    chmod(sandbox_.Path("empty").c_str(), 0755);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const uint16_t port = UnusedLoopbackPort();
        const std::string config = sandbox_.Path("vsftpd.conf");
        std::ofstream(config) << "listen=YES\n"
                              << "listen_ipv6=NO\n"
                              << "listen_address=" << Host() << "\n"
                              << "listen_port=" << port << "\n"
                              << "background=NO\n"
                              << "anonymous_enable=YES\n"
                              << "local_enable=NO\n"
                              << "write_enable=YES\n"
                              << "anon_root=" << root << "\n"
                              << "anon_upload_enable=YES\n"
                              << "anon_mkdir_write_enable=YES\n"
                              << "anon_other_write_enable=YES\n"
                              << "anon_umask=022\n"
                              << "no_anon_password=YES\n"
                              << "ftp_username=" << account->pw_name << "\n"
                              << "secure_chroot_dir=" << sandbox_.Path("empty") << "\n"
                              << "seccomp_sandbox=NO\n"
                              << "isolate=NO\n"
                              << "isolate_network=NO\n"
                              << "pasv_enable=YES\n"
                              << "port_enable=YES\n"
                              << "connect_from_port_20=NO\n"
                              << "use_localtime=NO\n"
                              << "dirmessage_enable=NO\n"
                              << "xferlog_enable=NO\n"
                              << "idle_session_timeout=60\n"
                              << "ftpd_banner=vantrel test vsftpd ready\n";
        chmod(config.c_str(), 0600);
        if (Spawn({"/usr/sbin/vsftpd", config}, port, "", why)) {
            return true;
        }
    }
    return false;
}

bool VsftpdServer::Restart(std::string* why)
{
    const uint16_t port = Port();
    if (port == 0) {
        *why = "vsftpd was never started";
        return false;
    }
    Stop();
    // The configuration names the port. vsftpd binds its listener with SO_REUSEADDR, so the
    // connections that the stop cut short do not keep the port from it; under the load of a
    // whole test run it has still been seen to end at its first start once, so it is given a
    // few tries.
    for (int attempt = 0;; ++attempt) {
        if (Spawn({"/usr/sbin/vsftpd", sandbox_.Path("vsftpd.conf")}, port, "", why)) {
            return true;
        }
        if (attempt == 4) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

void VsftpdServer::SetMaxRate(uint32_t bytes_per_second)
{
    // The last setting of a name is the one vsftpd keeps.
    std::ofstream(sandbox_.Path("vsftpd.conf"), std::ios::app)
        << "anon_max_rate=" << bytes_per_second << "\n";
}

uint16_t UnusedLoopbackPort()
{
    std::vector<platform::SocketAddress> addresses;
    int resolve_error = 0;
    platform::Socket socket;
    if (!platform::ResolveHost("127.0.0.1", 0, &addresses, &resolve_error) ||
        !socket.Listen(addresses.front()).ok()) {
        return 0;
    }
    platform::SocketAddress local;
    return socket.Local(&local) ? local.Port() : 0;
}

std::unique_ptr<FtpTestServer> StartFtpTestServer(const std::string& family, std::string* why)
{
    if (family == "pyftpdlib" || family == "pyftpdlib_hiding" ||
        family == "pyftpdlib_stripping_cr") {
        auto server = std::make_unique<PyftpdlibServer>();
        server->SetHidesDotFiles(family == "pyftpdlib_hiding");
        server->SetStripsCarriageReturns(family == "pyftpdlib_stripping_cr");
        return server->Start(why) ? std::move(server) : nullptr;
    }
    if (family == "vsftpd") {
        auto server = std::make_unique<VsftpdServer>();
        return server->Start(why) ? std::move(server) : nullptr;
    }
    *why = "unknown server family " + family;
    return nullptr;
}

}  // namespace vantrel::testing
