#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

#include "tests/support/TestSandbox.h"

// Real FTP servers for the tests, each a process of its own on a free loopback port, serving a
// sandbox folder, stopped by its PID when the object goes.
namespace vantrel::testing {

// What a test sees of a running server. The server's root holds the folder "site", where the
// user may do everything; the root itself may be read-only (vsftpd insists on that).
class FtpTestServer
{
public:
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;
    virtual ~FtpTestServer();

    // "pyftpdlib" or "vsftpd".
    virtual std::string Family() const = 0;
    const std::string& Host() const { return host_; }
    uint16_t Port() const { return port_; }
    virtual std::string User() const = 0;
    virtual std::string Password() const = 0;
    // The writable folder as the server names it, and its local path.
    std::string SitePath() const { return "/site"; }
    std::string SiteLocalPath(const std::string& relative = "") const;
    // The sandbox that holds the served tree and the server's own files.
    const TestSandbox& Sandbox() const { return sandbox_; }

    bool Running() const { return pid_ > 0; }
    // Ends the server and every session process it made; waits until they are gone.
    void Stop();
    // Ends the server and its session processes at once, as a crash would (SIGKILL); waits until
    // they are gone.
    void Kill();
    // Stops the server when it runs and starts it again over the same site folder (the port may
    // change; see each family). False with the reason when it does not come up.
    virtual bool Restart(std::string* why);

protected:
    explicit FtpTestServer(std::string host);
    // Starts argv[0] with the arguments, output to a file in the sandbox, and waits until the
    // server greets on port (0: read the port from `ready_file` first). False with a reason.
    bool Spawn(const std::vector<std::string>& argv,
               uint16_t port,
               const std::string& ready_file,
               std::string* why);

    TestSandbox sandbox_;

private:
    std::string host_;
    uint16_t port_ = 0;
    pid_t pid_ = 0;
};

// pyftpdlib (tests/support/ftp_server.py under Debian's /usr/bin/python3): any user may run it.
class PyftpdlibServer : public FtpTestServer
{
public:
    explicit PyftpdlibServer(std::string host = "127.0.0.1");

    // Which plain connections a TLS server resets at their first command.
    enum class Reset
    {
        kNone,
        // Those whose first command is not AUTH TLS.
        kPlain,
        // Every connection, TLS attempts too.
        kAll,
    };

    bool Start(std::string* why);
    // On a new port.
    bool Restart(std::string* why) override;
    // Offers explicit TLS with a self-signed certificate made now (openssl) for the address
    // `certified`; a test trusts it by pointing SSL_CERT_FILE at CertificatePath().
    bool StartTls(Reset reset, std::string* why, const std::string& certified = "127.0.0.1");
    std::string CertificatePath() const { return sandbox_.Path("cert.pem"); }
    std::string Family() const override { return "pyftpdlib"; }
    std::string User() const override { return "vantrel"; }
    std::string Password() const override { return "s3cret-Pass"; }
    // Every command the server received so far, as "VERB argument" (PASS masked).
    std::vector<std::string> Commands() const;
    // From the next start on, as many shared web hosts: a plain LIST leaves dot files out,
    // "LIST -a" shows them, and NLST of a pattern or a dot-file name is refused with 550.
    void SetHidesDotFiles(bool hides) { hides_dot_files_ = hides; }
    bool HidesDotFiles() const { return hides_dot_files_; }
    // From the next start on, the most bytes a second that each upload moves; 0 for no limit.
    // Not with TLS.
    void SetMaxUploadRate(uint32_t bytes_per_second) { max_upload_rate_ = bytes_per_second; }
    // From the next start on, a text upload is stored with every CR removed, a lone one too.
    void SetStripsCarriageReturns(bool strips) { strips_carriage_returns_ = strips; }

private:
    bool Run(const std::vector<std::string>& extra, std::string* why);

    bool hides_dot_files_ = false;
    uint32_t max_upload_rate_ = 0;
    bool strips_carriage_returns_ = false;
};

// vsftpd with a configuration of its own in the sandbox, anonymous log-in with write rights.
// It needs root (it changes into its root folder and drops to the ftp account).
class VsftpdServer : public FtpTestServer
{
public:
    VsftpdServer();

    // False, with the reason, where vsftpd cannot run (not root, not installed).
    static bool Available(std::string* why);
    bool Start(std::string* why);
    // On the same port, with the configuration of the last start.
    bool Restart(std::string* why) override;
    // The most bytes a second that each transfer moves from the next restart on; 0 for no limit.
    void SetMaxRate(uint32_t bytes_per_second);
    std::string Family() const override { return "vsftpd"; }
    std::string User() const override { return "anonymous"; }
    std::string Password() const override { return "tester@example.org"; }
};

// A loopback port where nothing listens (it was free a moment ago).
uint16_t UnusedLoopbackPort();

// The family by name ("pyftpdlib", "vsftpd", "pyftpdlib_hiding": pyftpdlib hiding dot files, or
// "pyftpdlib_stripping_cr": pyftpdlib storing text uploads without CRs), started; null with the
// reason when it cannot run here.
std::unique_ptr<FtpTestServer> StartFtpTestServer(const std::string& family, std::string* why);

}  // namespace vantrel::testing
