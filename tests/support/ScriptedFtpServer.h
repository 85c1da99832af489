#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Sockets.h"

// An FTP server inside the test process, on a free loopback port, for the faults that real
// servers do not produce on demand: silence, stalls, dropped and reset connections, and
// listings in any form. It speaks enough FTP for a client to log in, change folders, list and
// move files, in passive or active mode (IPv4).
namespace vantrel::testing {

class ScriptedFtpServer
{
public:
    // What the server does when a command of a given verb arrives.
    enum class Fault
    {
        kNone,
        // Reply nothing until Release(); then answer as usual.
        kHang,
        kReply421,
        // End the control connection without a word.
        kCloseControl,
        // Reset the control connection.
        kResetControl,
        // Transfers (LIST, NLST, RETR, STOR): open the data connection, move half of the data
        // (STOR: read nothing), then stay silent until Release(); then finish as usual.
        kStallData,
        // Transfers: move a little, then reset the data connection and reply 426.
        kResetData,
        // A multi-line reply ("211-" lines) that never ends, until the client goes.
        kEndlessReply,
        // Transfers: listing lines without end on the data connection, until the client goes.
        kEndlessData,
        // Transfers (LIST, NLST, RETR): the content in six pieces, 300 ms apart.
        kSlowData,
        // A multi-line reply that never ends, one byte at a time, 100 ms apart.
        kDripReply,
        // Transfers: listing lines without end, one every 100 ms.
        kDripData,
        // The first two lines of a multi-line reply, then the end of the control connection.
        kCutReply,
        // Transfers: all of the content but its last four bytes, then the end of the data
        // connection and 426.
        kCutData,
    };

    ScriptedFtpServer();
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    uint16_t Port() const { return port_; }

    // Accepted connections get no greeting until Release().
    void HoldGreeting();
    // Accepted connections get a greeting that never ends, one byte at a time, 100 ms apart.
    void DripGreeting();
    // Accepted connections get the first two lines of a multi-line greeting, then the end of the
    // connection.
    void CutGreeting();
    // `times` 0: every command of that verb; else only the next `times` of them.
    void SetFault(const std::string& verb, Fault fault, int times = 0);
    // The reply to a verb, or to one command line ("VERB argument"), in place of the usual one
    // (lines joined by CR LF, no final CR LF).
    void SetReply(const std::string& verb, const std::string& reply);
    // The lines that LIST sends (each followed by CR LF) and what RETR and NLST send.
    void SetListing(const std::vector<std::string>& lines);
    // What LIST sends when its argument is exactly `argument` (a name listed on its own).
    void SetListingFor(const std::string& argument, const std::vector<std::string>& lines);
    void SetFileContent(const std::string& content);
    // What MLSD sends, as it is (no line end added); without it MLSD is not known.
    void SetMachineListing(const std::string& content);
    // What NLST sends in place of the listing (each name followed by CR LF).
    void SetNameList(const std::vector<std::string>& names);
    // The address that replies to PASV name ("h1,h2,h3,h4"); the data connection is still
    // accepted on the loopback listener that the port names.
    void SetPassiveHost(const std::string& address);
    // Ends every hold, hang and stall.
    void Release();

    // Waits for the first command of that verb since the start; false when it did not come.
    bool WaitForCommand(const std::string& verb, std::chrono::milliseconds limit);
    bool WaitForSessions(int accepted, std::chrono::milliseconds limit);
    // A session ends when the client closes its control connection (or sent QUIT).
    bool WaitForSessionsEnded(int ended, std::chrono::milliseconds limit);

    // Every command line received, in order ("VERB argument").
    std::vector<std::string> Commands() const;
    // What the last STOR brought.
    std::string Uploaded() const;

private:
    class Session;

    void AcceptLoop();

    platform::Socket listener_;
    platform::Canceller stop_;
    uint16_t port_ = 0;
    std::thread accept_thread_;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    // Guarded by lock_.
    bool hold_greeting_ = false;
    bool drip_greeting_ = false;
    bool cut_greeting_ = false;
    bool released_ = false;
    std::map<std::string, Fault> faults_;
    // Faults that end after this many more commands of their verb.
    std::map<std::string, int> faults_left_;
    std::map<std::string, std::string> replies_;
    std::vector<std::string> listing_;
    std::map<std::string, std::vector<std::string>> listings_for_;
    std::vector<std::string> name_list_;
    std::string file_content_;
    std::string machine_listing_;
    std::string passive_host_ = "127,0,0,1";
    std::string uploaded_;
    std::vector<std::string> commands_;
    int sessions_accepted_ = 0;
    int sessions_ended_ = 0;
    std::vector<std::thread> session_threads_;
};

}  // namespace vantrel::testing
