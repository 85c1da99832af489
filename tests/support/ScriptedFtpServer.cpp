#include "tests/support/ScriptedFtpServer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace vantrel::testing {
namespace {

using std::chrono::milliseconds;

// How long a session waits for a data connection before it gives up.
constexpr uint32_t kDataConnectMs = 5000;
// Waits are cut into slices of this, so that a stopping server never stays blocked.
constexpr uint32_t kSliceMs = 100;

std::string UpperCase(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

platform::SocketAddress LoopbackAddress(uint16_t port)
{
    std::vector<platform::SocketAddress> addresses;
    int resolve_error = 0;
    platform::ResolveHost("127.0.0.1", port, &addresses, &resolve_error);
    return addresses.empty() ? platform::SocketAddress{} : addresses.front();
}

// "h1,h2,h3,h4,p1,p2" of a PORT command.
bool ParsePortArgument(const std::string& argument, platform::SocketAddress* address)
{
    int n[6] = {};
    if (std::sscanf(argument.c_str(), "%d,%d,%d,%d,%d,%d", &n[0], &n[1], &n[2], &n[3], &n[4],
                    &n[5]) != 6) {
        return false;
    }
    *address = LoopbackAddress(static_cast<uint16_t>(n[4] * 256 + n[5]));
    return true;
}

}  // namespace

class ScriptedFtpServer::Session
{
public:
    Session(ScriptedFtpServer& server, platform::Socket control)
        : server_(server)
        , control_(std::move(control))
    {}

    void Run()
    {
        bool hold = false;
        bool drip = false;
        bool cut = false;
        {
            std::lock_guard<std::mutex> lock(server_.lock_);
            ++server_.sessions_accepted_;
            hold = server_.hold_greeting_;
            drip = server_.drip_greeting_;
            cut = server_.cut_greeting_;
        }
        server_.changed_.notify_all();
        if (drip) {
            Drip(control_, "220-welcome, slowly\r\n", 1);
        } else if (cut) {
            Send("220-welcome\r\nand the server goes");
        } else if (!hold || WaitReleased()) {
            Send("220 scripted server ready");
            Serve();
        }
        control_.Close();
        {
            std::lock_guard<std::mutex> lock(server_.lock_);
            ++server_.sessions_ended_;
        }
        server_.changed_.notify_all();
    }

private:
    void Serve()
    {
        std::string line;
        while (ReadLine(&line)) {
            const size_t blank = line.find(' ');
            const std::string verb = UpperCase(line.substr(0, blank));
            const std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);
            Fault fault = Fault::kNone;
            std::string reply;
            {
                std::lock_guard<std::mutex> lock(server_.lock_);
                server_.commands_.push_back(line);
                if (const auto it = server_.faults_.find(verb); it != server_.faults_.end()) {
                    fault = it->second;
                    const auto left = server_.faults_left_.find(verb);
                    if (left != server_.faults_left_.end() && --left->second == 0) {
                        server_.faults_left_.erase(left);
                        server_.faults_.erase(it);
                    }
                }
                if (const auto it = server_.replies_.find(line); it != server_.replies_.end()) {
                    reply = it->second;
                } else if (const auto verb_reply = server_.replies_.find(verb);
                           verb_reply != server_.replies_.end()) {
                    reply = verb_reply->second;
                }
            }
            server_.changed_.notify_all();
            switch (fault) {
                case Fault::kHang:
                    if (!WaitReleased()) {
                        return;
                    }
                    break;
                case Fault::kReply421:
                    Send("421 Service not available, closing control connection.");
                    return;
                case Fault::kCloseControl:
                    return;
                case Fault::kResetControl:
                    control_.Abort();
                    return;
                case Fault::kEndlessReply:
                    SendEndlessly(control_, "211-and one more line of a reply that never ends");
                    return;
                case Fault::kDripReply:
                    Drip(control_, "211-and one more line, slowly\r\n", 1);
                    return;
                case Fault::kCutReply:
                    Send("257-the start of a reply\r\nand the server goes");
                    return;
                default:
                    break;
            }
            if (!reply.empty()) {
                Send(reply);
            } else if (!Answer(verb, argument, fault)) {
                return;
            }
        }
    }

    // The usual answer; false ends the session.
    bool Answer(const std::string& verb, const std::string& argument, Fault fault)
    {
        if (verb == "USER") {
            Send("331 Password required.");
        } else if (verb == "PASS") {
            Send("230 Logged in.");
        } else if (verb == "SYST") {
            Send("215 UNIX Type: L8");
        } else if (verb == "PWD") {
            Send("257 \"/\" is the current directory.");
        } else if (verb == "CWD" || verb == "DELE" || verb == "RMD" || verb == "RNTO") {
            Send("250 Okay.");
        } else if (verb == "MKD") {
            Send("257 \"" + argument + "\" created.");
        } else if (verb == "RNFR") {
            Send("350 Ready for RNTO.");
        } else if (verb == "TYPE" || verb == "NOOP" || verb == "SITE") {
            Send("200 Okay.");
        } else if (verb == "PASV") {
            passive_.Listen(LoopbackAddress(0));
            platform::SocketAddress local;
            passive_.Local(&local);
            std::string host;
            {
                std::lock_guard<std::mutex> lock(server_.lock_);
                host = server_.passive_host_;
            }
            Send("227 Entering Passive Mode (" + host + "," + std::to_string(local.Port() / 256) +
                 "," + std::to_string(local.Port() % 256) + ").");
        } else if (verb == "PORT") {
            have_active_ = ParsePortArgument(argument, &active_);
            Send(have_active_ ? "200 PORT command successful." : "501 Bad PORT.");
        } else if (verb == "LIST" || verb == "NLST" || verb == "RETR" || verb == "STOR" ||
                   (verb == "MLSD" && HasMachineListing())) {
            Transfer(verb, argument, fault);
        } else if (verb == "QUIT") {
            Send("221 Goodbye.");
            return false;
        } else {
            Send("502 Command not implemented.");
        }
        return true;
    }

    bool HasMachineListing() const
    {
        std::lock_guard<std::mutex> lock(server_.lock_);
        return !server_.machine_listing_.empty();
    }

    void Transfer(const std::string& verb, const std::string& argument, Fault fault)
    {
        Send("150 Opening data connection.");
        platform::Socket data;
        if (!OpenData(&data)) {
            Send("425 Cannot open data connection.");
            return;
        }
        if (verb == "STOR") {
            std::string received;
            if (fault == Fault::kStallData && !WaitReleased()) {
                return;
            }
            if (fault == Fault::kResetData) {
                char buffer[1024];
                size_t got = 0;
                data.Receive(buffer, sizeof buffer, kDataConnectMs, &server_.stop_, &got);
                data.Abort();
                Send("426 Connection closed; transfer aborted.");
                return;
            }
            for (;;) {
                char buffer[64 * 1024];
                size_t got = 0;
                if (!data.Receive(buffer, sizeof buffer, kDataConnectMs, &server_.stop_, &got)
                         .ok()) {
                    break;
                }
                received.append(buffer, got);
            }
            {
                std::lock_guard<std::mutex> lock(server_.lock_);
                server_.uploaded_ = received;
            }
            Send("226 Transfer complete.");
            return;
        }
        std::string content;
        {
            std::lock_guard<std::mutex> lock(server_.lock_);
            if (verb == "RETR") {
                content = server_.file_content_;
            } else if (verb == "MLSD") {
                content = server_.machine_listing_;
            } else {
                const bool names = verb == "NLST" && !server_.name_list_.empty();
                const auto own = server_.listings_for_.find(argument);
                const bool listed_for = verb == "LIST" && own != server_.listings_for_.end();
                for (const std::string& line : names        ? server_.name_list_
                                               : listed_for ? own->second
                                                            : server_.listing_) {
                    content += line + "\r\n";
                }
            }
        }
        if (fault == Fault::kEndlessData) {
            SendEndlessly(data, "-rw-r--r-- 1 owner group 5 Jan 12 2005 endless.txt");
            data.Abort();
            Send("426 Connection closed; transfer aborted.");
            return;
        }
        if (fault == Fault::kDripData) {
            Drip(data, "-rw-r--r-- 1 owner group 5 Jan 12 2005 drip.txt\r\n", 0);
            data.Abort();
            Send("426 Connection closed; transfer aborted.");
            return;
        }
        if (fault == Fault::kSlowData) {
            const size_t piece = content.size() / 6 + 1;
            for (size_t at = 0; at < content.size(); at += piece) {
                std::this_thread::sleep_for(milliseconds(300));
                data.SendAll(content.substr(at, piece), kDataConnectMs, &server_.stop_);
            }
            content.clear();
        }
        if (fault == Fault::kCutData) {
            data.SendAll(content.substr(0, content.size() - std::min<size_t>(content.size(), 4)),
                         kDataConnectMs, &server_.stop_);
            // Closed rather than reset: a reset may discard what the client has not read yet.
            data.Close();
            Send("426 Connection closed; transfer aborted.");
            return;
        }
        if (fault == Fault::kResetData) {
            data.SendAll(content.substr(0, std::min<size_t>(content.size(), 8)), kDataConnectMs,
                         &server_.stop_);
            data.Abort();
            Send("426 Connection closed; transfer aborted.");
            return;
        }
        if (fault == Fault::kStallData) {
            const size_t half = content.size() / 2;
            data.SendAll(content.substr(0, half), kDataConnectMs, &server_.stop_);
            content.erase(0, half);
            if (!WaitReleased()) {
                return;
            }
        }
        data.SendAll(content, kDataConnectMs, &server_.stop_);
        data.Close();
        Send("226 Transfer complete.");
    }

    bool OpenData(platform::Socket* data)
    {
        const platform::Deadline deadline = platform::DeadlineAfter(kDataConnectMs);
        if (passive_.IsOpen()) {
            platform::SocketAddress peer;
            control_.Peer(&peer);
            const bool ok = passive_.Accept(peer, deadline, &server_.stop_, data).ok();
            passive_.Close();
            return ok;
        }
        if (have_active_) {
            have_active_ = false;
            return data->Connect(active_, deadline, &server_.stop_).ok();
        }
        return false;
    }

    bool ReadLine(std::string* line)
    {
        for (;;) {
            const size_t end = input_.find('\n');
            if (end != std::string::npos) {
                *line = input_.substr(0, end);
                input_.erase(0, end + 1);
                if (!line->empty() && line->back() == '\r') {
                    line->pop_back();
                }
                return true;
            }
            char buffer[1024];
            size_t got = 0;
            const platform::SocketResult r =
                control_.Receive(buffer, sizeof buffer, kSliceMs, &server_.stop_, &got);
            if (r.outcome == platform::SocketOutcome::kTimedOut) {
                continue;
            }
            if (!r.ok()) {
                return false;
            }
            input_.append(buffer, got);
        }
    }

    // The line, again and again, until the peer stops taking it (or the server stops).
    void SendEndlessly(platform::Socket& socket, const std::string& line)
    {
        std::string block;
        while (block.size() < 64 * 1024) {
            block += line + "\r\n";
        }
        while (socket.SendAll(block, kDataConnectMs, &server_.stop_).ok()) {
        }
    }

    // `text` over and over, `piece` bytes at a time (0: all of it), 100 ms apart, until the
    // client goes or the server stops; at most 60 s, so that a client that never gives up
    // fails its test rather than hanging it.
    void Drip(platform::Socket& socket, const std::string& text, size_t piece)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (size_t at = 0; std::chrono::steady_clock::now() < until && !server_.stop_.Cancelled();
             at = piece == 0 ? 0 : (at + piece) % text.size()) {
            std::this_thread::sleep_for(milliseconds(100));
            if (!socket
                     .SendAll(piece == 0 ? text : text.substr(at, piece), kDataConnectMs,
                              &server_.stop_)
                     .ok()) {
                return;
            }
        }
    }

    void Send(const std::string& reply)
    {
        control_.SendAll(reply + "\r\n", kDataConnectMs, &server_.stop_);
    }

    // False when the server stops first.
    bool WaitReleased()
    {
        std::unique_lock<std::mutex> lock(server_.lock_);
        while (!server_.released_) {
            if (server_.stop_.Cancelled()) {
                return false;
            }
            server_.changed_.wait_for(lock, milliseconds(kSliceMs));
        }
        return true;
    }

    ScriptedFtpServer& server_;
    platform::Socket control_;
    platform::Socket passive_;
    platform::SocketAddress active_;
    bool have_active_ = false;
    std::string input_;
};

ScriptedFtpServer::ScriptedFtpServer()
{
    platform::IgnoreBrokenPipeSignal();
    listener_.Listen(LoopbackAddress(0));
    platform::SocketAddress local;
    if (listener_.Local(&local)) {
        port_ = local.Port();
    }
    accept_thread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedFtpServer::~ScriptedFtpServer()
{
    stop_.Cancel();
    changed_.notify_all();
    accept_thread_.join();
    // No session starts once the accept loop has ended.
    for (std::thread& session : session_threads_) {
        session.join();
    }
}

void ScriptedFtpServer::AcceptLoop()
{
    for (;;) {
        platform::Socket control;
        const platform::SocketResult r = listener_.Accept(
            LoopbackAddress(0), platform::DeadlineAfter(24 * 3600 * 1000), &stop_, &control);
        if (r.outcome == platform::SocketOutcome::kCancelled) {
            return;
        }
        if (!r.ok()) {
            continue;
        }
        auto session = std::make_shared<Session>(*this, std::move(control));
        std::lock_guard<std::mutex> lock(lock_);
        session_threads_.emplace_back([session] { session->Run(); });
    }
}

void ScriptedFtpServer::CutGreeting()
{
    std::lock_guard<std::mutex> lock(lock_);
    cut_greeting_ = true;
}

void ScriptedFtpServer::DripGreeting()
{
    std::lock_guard<std::mutex> lock(lock_);
    drip_greeting_ = true;
}

void ScriptedFtpServer::HoldGreeting()
{
    std::lock_guard<std::mutex> lock(lock_);
    hold_greeting_ = true;
}

void ScriptedFtpServer::SetFault(const std::string& verb, Fault fault, int times)
{
    std::lock_guard<std::mutex> lock(lock_);
    faults_[verb] = fault;
    if (times > 0) {
        faults_left_[verb] = times;
    } else {
        faults_left_.erase(verb);
    }
}

void ScriptedFtpServer::SetReply(const std::string& verb, const std::string& reply)
{
    std::lock_guard<std::mutex> lock(lock_);
    replies_[verb] = reply;
}

void ScriptedFtpServer::SetListing(const std::vector<std::string>& lines)
{
    std::lock_guard<std::mutex> lock(lock_);
    listing_ = lines;
}

void ScriptedFtpServer::SetListingFor(const std::string& argument,
                                      const std::vector<std::string>& lines)
{
    std::lock_guard<std::mutex> lock(lock_);
    listings_for_[argument] = lines;
}

void ScriptedFtpServer::SetNameList(const std::vector<std::string>& names)
{
    std::lock_guard<std::mutex> lock(lock_);
    name_list_ = names;
}

void ScriptedFtpServer::SetFileContent(const std::string& content)
{
    std::lock_guard<std::mutex> lock(lock_);
    file_content_ = content;
}

void ScriptedFtpServer::SetMachineListing(const std::string& content)
{
    std::lock_guard<std::mutex> lock(lock_);
    machine_listing_ = content;
}

void ScriptedFtpServer::SetPassiveHost(const std::string& address)
{
    std::lock_guard<std::mutex> lock(lock_);
    passive_host_ = address;
}

void ScriptedFtpServer::Release()
{
    {
        std::lock_guard<std::mutex> lock(lock_);
        released_ = true;
    }
    changed_.notify_all();
}

bool ScriptedFtpServer::WaitForCommand(const std::string& verb, milliseconds limit)
{
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, limit, [&] {
        return std::any_of(commands_.begin(), commands_.end(), [&](const std::string& command) {
            return UpperCase(command.substr(0, command.find(' '))) == verb;
        });
    });
}

bool ScriptedFtpServer::WaitForSessions(int accepted, milliseconds limit)
{
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, limit, [&] { return sessions_accepted_ >= accepted; });
}

bool ScriptedFtpServer::WaitForSessionsEnded(int ended, milliseconds limit)
{
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, limit, [&] { return sessions_ended_ >= ended; });
}

std::vector<std::string> ScriptedFtpServer::Commands() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return commands_;
}

std::string ScriptedFtpServer::Uploaded() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return uploaded_;
}

}  // namespace vantrel::testing
