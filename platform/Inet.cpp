#include "platform/Inet.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "platform/Errors.h"
#include "platform/FtpListing.h"
#include "platform/Sockets.h"

namespace vantrel::platform {
namespace {

std::mutex command_counts_lock;
std::map<std::string, uint64_t> command_counts;  // Guarded by command_counts_lock.

void CountCommand(std::string_view command)
{
    const std::string verb(command.substr(0, command.find(' ')));
    std::lock_guard<std::mutex> lock(command_counts_lock);
    ++command_counts[verb];
}

constexpr size_t kChunkSize = 64 * 1024;
// A server that sends more than this in one reply, or one listing, is not speaking FTP.
constexpr size_t kMaxReplyLineBytes = 8 * 1024;
constexpr size_t kMaxReplyBytes = kFtpReplyBytesAtMost;
constexpr size_t kMaxListingBytes = kFtpListingBytesAtMost;
constexpr char kLanConnectionName[] = "LAN";

thread_local std::string last_response;

enum class Kind
{
    kSession,
    kConnection,
    kFind,
    kData,
};

class Object
{
public:
    Object(Kind kind, uintptr_t context, InternetStatusCallback callback)
        : kind(kind)
        , context(context)
        , callback(callback)
    {}
    virtual ~Object() = default;

    // Runs on the closing thread once the handle has left the table.
    virtual void Finish() {}

    // A handle once closed reports nothing more: a call that it cut short stays silent.
    void Notify(uintptr_t call_context,
                uint32_t status,
                const void* information = nullptr,
                uint32_t length = 0) const
    {
        if (!closed) {
            NotifyAlways(call_context, status, information, length);
        }
    }

    // The reports of the closing itself.
    void NotifyAlways(uintptr_t call_context,
                      uint32_t status,
                      const void* information = nullptr,
                      uint32_t length = 0) const
    {
        if (InternetStatusCallback cb = callback.load()) {
            cb(handle, call_context, status, information, length);
        }
    }

    const Kind kind;
    const uintptr_t context;
    InternetHandle handle;
    std::atomic<InternetStatusCallback> callback;
    std::atomic<bool> closed{false};
    Canceller canceller;
    // Guarded by the table's lock.
    std::vector<std::weak_ptr<Object>> children;
};

class Session : public Object
{
public:
    Session()
        : Object(Kind::kSession, 0, nullptr)
    {}

    std::atomic<uint32_t> connect_ms{InternetTimeouts{}.connect_ms};
    std::atomic<uint32_t> receive_ms{InternetTimeouts{}.receive_ms};
    std::atomic<uint32_t> reply_ms{0};
};

class DataTransfer;

class Connection : public Object
{
public:
    Connection(uintptr_t context,
               InternetStatusCallback callback,
               uint32_t connect_ms,
               uint32_t receive_ms,
               uint32_t reply_ms,
               bool passive)
        : Object(Kind::kConnection, context, callback)
        , connect_ms(connect_ms)
        , receive_ms(receive_ms)
        , reply_ms(reply_ms != 0 ? reply_ms : receive_ms)
        , passive(passive)
    {}

    // Ends the session politely when no call is using it; a call that is (on another thread)
    // sees the cancel and the socket goes with the object.
    void Finish() override;

    const uint32_t connect_ms;
    const uint32_t receive_ms;
    const uint32_t reply_ms;
    const bool passive;
    std::mutex op;  // one call at a time
    std::atomic<std::thread::id> op_owner{};

    // Guarded by op.
    Socket control;
    SocketAddress peer;
    std::string input;  // received but not yet read as a reply
    char type = 0;      // current TYPE, 0 unknown
    bool dropped = false;
    bool drain = false;  // the reply that ends an abandoned transfer is still due
    std::weak_ptr<DataTransfer> reading;
};

class FindList : public Object
{
public:
    FindList(uintptr_t context, InternetStatusCallback callback, std::vector<FindData> records)
        : Object(Kind::kFind, context, callback)
        , records(std::move(records))
    {}

    std::vector<FindData> records;
    size_t next = 1;  // the first went out with FtpFindFirstFile
};

class DataTransfer : public Object
{
public:
    DataTransfer(uintptr_t context,
                 InternetStatusCallback callback,
                 std::shared_ptr<Connection> connection)
        : Object(Kind::kData, context, callback)
        , connection(std::move(connection))
    {}

    void Finish() override;

    const std::shared_ptr<Connection> connection;
    // Guarded by the connection's op.
    Socket socket;
    bool finished = false;
};

struct Table
{
    std::mutex lock;
    // Guarded by lock.
    std::unordered_map<uint64_t, std::shared_ptr<Object>> objects;
    uint64_t next_id = 1;
    std::atomic<bool> offline{false};
};

std::atomic<InternetConnectivity*> installed_connectivity{nullptr};

// Never destroyed: an abandoned connect thread may still be inside the library at exit.
Table& Handles()
{
    static Table* table = new Table;
    return *table;
}

bool HoldsLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool Fail(uint32_t code)
{
    SetLastError(code);
    return false;
}

// Null when the parent is gone (closed meanwhile).
InternetHandle Register(const std::shared_ptr<Object>& object, Object* parent)
{
    Table& table = Handles();
    std::lock_guard<std::mutex> lock(table.lock);
    if (parent != nullptr) {
        if (parent->closed || table.objects.count(parent->handle.value) == 0) {
            return {};
        }
        std::erase_if(parent->children, [](const auto& weak) { return weak.expired(); });
        parent->children.push_back(object);
    }
    object->handle = InternetHandle{table.next_id++};
    table.objects[object->handle.value] = object;
    return object->handle;
}

std::shared_ptr<Object> Lookup(InternetHandle handle, Kind kind)
{
    Table& table = Handles();
    std::shared_ptr<Object> object;
    {
        std::lock_guard<std::mutex> lock(table.lock);
        const auto it = table.objects.find(handle.value);
        if (it != table.objects.end()) {
            object = it->second;
        }
    }
    if (object == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return nullptr;
    }
    if (object->kind != kind) {
        SetLastError(kErrorInternetIncorrectHandleType);
        return nullptr;
    }
    return object;
}

// Takes the handle and everything made on it out of the table, deepest first.
std::vector<std::shared_ptr<Object>> Unregister(InternetHandle handle)
{
    Table& table = Handles();
    std::vector<std::shared_ptr<Object>> taken;
    std::lock_guard<std::mutex> lock(table.lock);
    const auto it = table.objects.find(handle.value);
    if (it == table.objects.end()) {
        return taken;
    }
    // By value: erasing the table's entry must not free what is being taken.
    std::function<void(std::shared_ptr<Object>)> take = [&](std::shared_ptr<Object> object) {
        for (const auto& weak : object->children) {
            if (auto child = weak.lock(); child && table.objects.count(child->handle.value)) {
                take(child);
            }
        }
        table.objects.erase(object->handle.value);
        taken.push_back(std::move(object));
    };
    take(it->second);
    return taken;
}

// The connection for the length of one call.
class CallGuard
{
public:
    explicit CallGuard(Connection& connection)
        : connection_(connection)
        , lock_(connection.op)
    {
        connection_.op_owner = std::this_thread::get_id();
    }
    ~CallGuard() { connection_.op_owner = std::thread::id(); }

private:
    Connection& connection_;
    std::lock_guard<std::mutex> lock_;
};

struct Reply
{
    int code = 0;
    std::string text;  // every line, joined by CR LF

    bool Preliminary() const { return code >= 100 && code < 200; }
    bool Positive() const { return code >= 200 && code < 400; }
};

// One call on a connection: its context, the limit of the whole call (InternetConnect's), and
// the talking to the server.
class Call
{
public:
    Call(Connection& connection, uintptr_t context, Deadline limit = Deadline::max())
        : c(connection)
        , context_(context)
        , limit_(limit)
    {}

    void Notify(uint32_t status) const { c.Notify(context_, status); }
    void NotifyBytes(uint32_t status, size_t bytes) const
    {
        const uint32_t count = static_cast<uint32_t>(bytes);
        c.Notify(context_, status, &count, sizeof count);
    }

    // The wait for the next piece from the server: the receive limit, within the call's own.
    uint32_t SilenceMs() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              limit_ - std::chrono::steady_clock::now())
                              .count();
        return static_cast<uint32_t>(std::clamp<int64_t>(left, 0, c.receive_ms));
    }
    Deadline ConnectDeadline() const { return std::min(limit_, DeadlineAfter(c.connect_ms)); }

    uint32_t ControlError(const SocketResult& result) const
    {
        if (c.closed || result.outcome == SocketOutcome::kCancelled) {
            return kErrorInternetConnectionAborted;
        }
        switch (result.outcome) {
            case SocketOutcome::kTimedOut:
                // The reply may still come; the next call reads it first, so that no later
                // command takes it for its own.
                c.drain = true;
                return kErrorInternetTimeout;
            case SocketOutcome::kClosed:
                c.dropped = true;
                Notify(kInternetStatusConnectionClosed);
                return kErrorFtpDropped;
            default:
                if (result.error == ECONNRESET || result.error == EPIPE) {
                    c.dropped = true;
                    return kErrorInternetConnectionReset;
                }
                return kErrorInternetConnectionAborted;
        }
    }

    uint32_t DataError(const SocketResult& result) const
    {
        if (!c.closed && result.outcome == SocketOutcome::kTimedOut) {
            return kErrorInternetTimeout;
        }
        return kErrorInternetConnectionAborted;
    }

    uint32_t SendCommand(std::string_view command)
    {
        CountCommand(command);
        Notify(kInternetStatusSendingRequest);
        std::string line(command);
        line += "\r\n";
        const SocketResult sent = c.control.SendAll(line, SilenceMs(), &c.canceller);
        if (!sent.ok()) {
            return ControlError(sent);
        }
        NotifyBytes(kInternetStatusRequestSent, line.size());
        return 0;
    }

    // One reply, preliminary or final, whole within the receive limit.
    uint32_t ReadReply(Reply* reply)
    {
        const ReplyLimit limit(this);
        Notify(kInternetStatusReceivingResponse);
        *reply = Reply{};
        std::string line;
        std::string code_text;
        bool multi_line = false;
        size_t lines = 0;
        do {
            if (const uint32_t error = ReadLine(&line)) {
                return error;
            }
            if (code_text.empty()) {
                if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0])) ||
                    !std::isdigit(static_cast<unsigned char>(line[1])) ||
                    !std::isdigit(static_cast<unsigned char>(line[2])) ||
                    (line.size() > 3 && line[3] != ' ' && line[3] != '-')) {
                    return kErrorInternetInvalidServerResponse;
                }
                code_text = line.substr(0, 3);
                multi_line = line.size() > 3 && line[3] == '-';
            } else {
                reply->text += "\r\n";
                multi_line = !(line == code_text || line.starts_with(code_text + " "));
            }
            if (reply->text.size() + line.size() > kMaxReplyBytes ||
                ++lines > kFtpReplyLinesAtMost) {
                return kErrorInternetInvalidServerResponse;
            }
            reply->text += line;
        } while (multi_line);
        reply->code = std::stoi(code_text);
        last_response = reply->text;
        if (reply->Preliminary()) {
            Notify(kInternetStatusIntermediateResponse);
        } else {
            NotifyBytes(kInternetStatusResponseReceived, reply->text.size());
        }
        return 0;
    }

    uint32_t ReadFinalReply(Reply* reply)
    {
        // The preliminary replies and the final one together within the receive limit; a
        // server that sends them without end must not hold the call for ever either.
        const ReplyLimit limit(this);
        for (int replies = 0;; ++replies) {
            if (replies > kFtpPreliminaryRepliesAtMost) {
                return kErrorInternetInvalidServerResponse;
            }
            if (const uint32_t error = ReadReply(reply)) {
                return error;
            }
            if (!reply->Preliminary()) {
                return 0;
            }
        }
    }

    uint32_t Exchange(std::string_view command, Reply* reply)
    {
        if (const uint32_t error = SendCommand(command)) {
            return error;
        }
        return ReadFinalReply(reply);
    }

    // The code of a reply that refuses; 0 for one that does not.
    uint32_t RefusalOf(const Reply& reply) const
    {
        if (reply.code == 421) {
            c.dropped = true;
            return kErrorFtpDropped;
        }
        return reply.Positive() ? 0 : kErrorInternetExtendedError;
    }

    // A command whose final reply must be positive.
    uint32_t Command(std::string_view command, Reply* reply = nullptr)
    {
        Reply own;
        Reply* r = reply != nullptr ? reply : &own;
        if (const uint32_t error = Exchange(command, r)) {
            return error;
        }
        return RefusalOf(*r);
    }

    uint32_t SetType(char type)
    {
        if (c.type == type) {
            return 0;
        }
        if (const uint32_t error = Command(type == 'A' ? "TYPE A" : "TYPE I")) {
            return error;
        }
        c.type = type;
        return 0;
    }

    Connection& c;

private:
    // While one is alive, the reply being read must be whole by the reply limit from the moment
    // the outermost one was made: a server that sends a byte or a line now and then would
    // otherwise hold the call as long as it likes. Silence stays the receive limit's and the
    // watchdog's.
    class ReplyLimit
    {
    public:
        explicit ReplyLimit(Call* call)
            : call_(call)
            , outermost_(call->reply_limit_ == Deadline::max())
        {
            if (outermost_) {
                call_->reply_limit_ = DeadlineAfter(call_->c.reply_ms);
            }
        }
        ~ReplyLimit()
        {
            if (outermost_) {
                call_->reply_limit_ = Deadline::max();
            }
        }
        ReplyLimit(const ReplyLimit&) = delete;
        ReplyLimit& operator=(const ReplyLimit&) = delete;

    private:
        Call* call_;
        bool outermost_;
    };

    uint32_t ReadLine(std::string* line)
    {
        for (;;) {
            const size_t end = c.input.find('\n');
            if (end != std::string::npos) {
                *line = c.input.substr(0, end);
                c.input.erase(0, end + 1);
                if (!line->empty() && line->back() == '\r') {
                    line->pop_back();
                }
                return 0;
            }
            if (c.input.size() > kMaxReplyLineBytes) {
                return kErrorInternetInvalidServerResponse;
            }
            const uint32_t silence = SilenceMs();
            if (silence == 0) {
                return kErrorInternetTimeout;
            }
            char buffer[4096];
            size_t got = 0;
            const SocketResult r =
                c.control.Receive(buffer, sizeof buffer, silence, &c.canceller, &got);
            if (!r.ok()) {
                return ControlError(r);
            }
            // Checked as the bytes come, so that silence stays the watchdog's, as before.
            if (got > 0 && reply_limit_ <= std::chrono::steady_clock::now()) {
                // What has come of the reply cannot be told from the next one: the connection
                // is of no more use.
                c.dropped = true;
                c.control.Abort();
                return kErrorInternetTimeout;
            }
            c.input.append(buffer, got);
        }
    }

    uintptr_t context_;
    Deadline limit_;
    Deadline reply_limit_ = Deadline::max();
};

void Connection::Finish()
{
    if (op_owner.load() == std::this_thread::get_id() || !op.try_lock()) {
        return;
    }
    if (control.IsOpen() && !dropped) {
        NotifyAlways(context, kInternetStatusClosingConnection);
        control.SendWithoutWaiting("QUIT\r\n");
        control.Close();
        NotifyAlways(context, kInternetStatusConnectionClosed);
    }
    control.Close();
    op.unlock();
}

void DataTransfer::Finish()
{
    if (connection->op_owner.load() == std::this_thread::get_id() || !connection->op.try_lock()) {
        return;
    }
    if (!finished) {
        // The server answers an interrupted transfer with a reply of its own; the next call
        // reads it first.
        socket.Close();
        connection->drain = !connection->dropped;
    }
    connection->op.unlock();
}

// The numbers of "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)"; the port, or 0.
uint16_t PortOfPasvReply(const std::string& text)
{
    size_t i = 3;
    while (i < text.size() && !std::isdigit(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    int numbers[6] = {};
    for (int n = 0; n < 6; ++n) {
        int value = 0;
        size_t digits = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && digits < 3) {
            value = value * 10 + (text[i++] - '0');
            ++digits;
        }
        if (digits == 0 || value > 255 || (n < 5 && (i >= text.size() || text[i++] != ','))) {
            return 0;
        }
        numbers[n] = value;
    }
    return static_cast<uint16_t>(numbers[4] * 256 + numbers[5]);
}

// The port of "229 Entering Extended Passive Mode (|||port|)", or 0.
uint16_t PortOfEpsvReply(const std::string& text)
{
    const size_t start = text.find("|||");
    if (start == std::string::npos) {
        return 0;
    }
    uint32_t port = 0;
    size_t i = start + 3;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        port = port * 10 + static_cast<uint32_t>(text[i] - '0');
        if (port > 65535) {
            return 0;
        }
    }
    return i < text.size() && text[i] == '|' ? static_cast<uint16_t>(port) : 0;
}

// The data connection of one transfer.
class DataChannel
{
public:
    explicit DataChannel(Call& call)
        : call_(call)
    {}

    // Passive: asks for the server's port and connects to it (always at the control
    // connection's host, whatever address the reply names). Active: listens and tells the
    // server where.
    uint32_t Open()
    {
        Connection& c = call_.c;
        const bool ipv6 = c.peer.Family() == AF_INET6;
        Reply reply;
        if (c.passive) {
            if (const uint32_t error = call_.Command(ipv6 ? "EPSV" : "PASV", &reply)) {
                return error;
            }
            const uint16_t port = ipv6 ? PortOfEpsvReply(reply.text) : PortOfPasvReply(reply.text);
            if (port == 0) {
                return kErrorInternetInvalidServerResponse;
            }
            SocketAddress address = c.peer;
            address.SetPort(port);
            const SocketResult r = socket_.Connect(address, call_.ConnectDeadline(), &c.canceller);
            if (r.ok()) {
                return 0;
            }
            if (c.closed || r.outcome == SocketOutcome::kCancelled) {
                return kErrorInternetConnectionAborted;
            }
            return r.outcome == SocketOutcome::kTimedOut ? kErrorInternetTimeout
                                                         : kErrorInternetCannotConnect;
        }
        SocketAddress local;
        if (!c.control.Local(&local)) {
            return kErrorInternetInternalError;
        }
        local.SetPort(0);
        if (!listener_.Listen(local).ok() || !listener_.Local(&local)) {
            return kErrorInternetInternalError;
        }
        std::string command;
        if (ipv6) {
            command = "EPRT |2|" + local.HostText() + "|" + std::to_string(local.Port()) + "|";
        } else {
            command = "PORT " + local.HostText() + "," + std::to_string(local.Port() / 256) + "," +
                      std::to_string(local.Port() % 256);
            std::replace(command.begin(), command.end(), '.', ',');
        }
        return call_.Command(command, &reply);
    }

    // After the server's preliminary reply: an active connection comes in now.
    uint32_t Complete()
    {
        if (!listener_.IsOpen()) {
            return 0;
        }
        Connection& c = call_.c;
        const SocketResult r =
            listener_.Accept(c.peer, call_.ConnectDeadline(), &c.canceller, &socket_);
        listener_.Close();
        if (r.ok()) {
            return 0;
        }
        return r.outcome == SocketOutcome::kTimedOut && !c.closed ? kErrorInternetTimeout
                                                                  : kErrorInternetConnectionAborted;
    }

    // Opens the channel, sends the command and waits for its preliminary reply. A final reply
    // instead leaves *no_data true (and an error when it refuses).
    uint32_t Start(const std::string& command, bool* no_data, Reply* reply)
    {
        *no_data = false;
        if (const uint32_t error = Open()) {
            return error;
        }
        if (const uint32_t error = call_.SendCommand(command)) {
            return error;
        }
        if (const uint32_t error = call_.ReadReply(reply)) {
            return error;
        }
        if (!reply->Preliminary()) {
            *no_data = true;
            return call_.RefusalOf(*reply);
        }
        return Complete();
    }

    Socket& socket() { return socket_; }

private:
    Call& call_;
    Socket listener_;
    Socket socket_;
};

// Every byte the data connection brings, handed to `sink` piece by piece; then the server's
// confirmation. With `paced`, the whole must also come at kChunkSize bytes per receive limit at
// least (a listing: no real one is that slow, and one that trickles a line at a time within the
// limit would otherwise never end); without, only silence ends it (a file, which may be large).
uint32_t ReceiveAll(Call& call,
                    Socket& data,
                    const Canceller& canceller,
                    const std::function<uint32_t(std::string_view)>& sink,
                    bool paced = false)
{
    std::vector<char> buffer(kChunkSize);
    Deadline budget = paced ? DeadlineAfter(call.c.reply_ms) : Deadline::max();
    uint64_t received = 0;
    for (;;) {
        size_t got = 0;
        const SocketResult r =
            data.Receive(buffer.data(), buffer.size(), call.SilenceMs(), &canceller, &got);
        // Checked as the data comes: silence is the receive limit's and the watchdog's, as for
        // any transfer.
        if (got > 0 && budget <= std::chrono::steady_clock::now()) {
            return kErrorInternetTimeout;
        }
        if (r.outcome == SocketOutcome::kClosed) {
            break;
        }
        if (!r.ok()) {
            return call.DataError(r);
        }
        call.NotifyBytes(kInternetStatusReceivingResponse, got);
        if (const uint32_t error = sink(std::string_view(buffer.data(), got))) {
            return error;
        }
        if (paced && (received + got) / kChunkSize > received / kChunkSize) {
            budget += std::chrono::milliseconds(call.c.reply_ms);
        }
        received += got;
    }
    data.Close();
    Reply reply;
    if (const uint32_t error = call.ReadFinalReply(&reply)) {
        return error;
    }
    return call.RefusalOf(reply);
}

// TYPE, then the command of a file transfer; a server that answers at once, without a data
// connection, is not doing what was asked.
uint32_t StartFileTransfer(Call& call, DataChannel& channel, bool text, const std::string& command)
{
    if (const uint32_t error = call.SetType(text ? 'A' : 'I')) {
        return error;
    }
    bool no_data = false;
    Reply reply;
    if (const uint32_t error = channel.Start(command, &no_data, &reply)) {
        return error;
    }
    return no_data ? kErrorInternetInvalidServerResponse : 0;
}

// Makes a connection ready for a call; the error that stops it otherwise.
uint32_t ReadyForCall(Call& call)
{
    Connection& c = call.c;
    if (c.closed) {
        return kErrorInternetOperationCancelled;
    }
    if (Handles().offline) {
        return kErrorInternetDisconnected;
    }
    if (c.dropped || !c.control.IsOpen()) {
        return kErrorFtpDropped;
    }
    if (auto data = c.reading.lock(); data && !data->finished && !data->closed) {
        return kErrorFtpTransferInProgress;
    }
    if (c.drain) {
        c.drain = false;
        Reply reply;
        if (const uint32_t error = call.ReadFinalReply(&reply)) {
            return error;
        }
        if (reply.code == 421) {
            return call.RefusalOf(reply);
        }
    }
    return 0;
}

// Runs `body` as one call on a connection: texts checked, connection found and taken, the
// outcome left as the last error.
using CallBody = std::function<uint32_t(Call&, const std::shared_ptr<Connection>&)>;

bool OnConnection(InternetHandle handle,
                  std::initializer_list<std::string_view> texts,
                  const uintptr_t* context,
                  const CallBody& body)
{
    for (std::string_view text : texts) {
        if (HoldsLineBreakOrNul(text)) {
            return Fail(kErrorInvalidParameter);
        }
    }
    const auto object = Lookup(handle, Kind::kConnection);
    if (object == nullptr) {
        return false;
    }
    const auto connection = std::static_pointer_cast<Connection>(object);
    CallGuard guard(*connection);
    Call call(*connection, context != nullptr ? *context : connection->context);
    uint32_t error = ReadyForCall(call);
    if (error == 0) {
        error = body(call, connection);
        call.Notify(kInternetStatusRequestComplete);
    }
    SetLastError(error);
    return error == 0;
}

uint32_t ErrnoCode(int errno_value)
{
    return ErrorFromErrno(errno_value, false);
}

// Text transfers: LF, alone or after CR, goes as CR LF.
class ToWireLineEnds
{
public:
    std::string Convert(std::string_view in)
    {
        std::string out;
        out.reserve(in.size() + in.size() / 16);
        for (char ch : in) {
            if (ch == '\n' && !after_cr_) {
                out += '\r';
            }
            out += ch;
            after_cr_ = ch == '\r';
        }
        return out;
    }

private:
    bool after_cr_ = false;
};

// Text transfers received: CR LF becomes LF; a CR at the end of a piece waits for the next.
class FromWireLineEnds
{
public:
    std::string Convert(std::string_view in)
    {
        std::string out;
        out.reserve(in.size() + 1);
        for (char ch : in) {
            if (held_cr_) {
                held_cr_ = false;
                if (ch != '\n') {
                    out += '\r';
                }
            }
            if (ch == '\r') {
                held_cr_ = true;
            } else {
                out += ch;
            }
        }
        return out;
    }
    std::string Flush() { return std::exchange(held_cr_, false) ? "\r" : ""; }

private:
    bool held_cr_ = false;
};

uint32_t WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            return ErrnoCode(errno);
        }
        data.remove_prefix(static_cast<size_t>(put));
    }
    return 0;
}

std::shared_ptr<Object> LookupAny(InternetHandle handle)
{
    Table& table = Handles();
    std::lock_guard<std::mutex> lock(table.lock);
    const auto it = table.objects.find(handle.value);
    if (it == table.objects.end()) {
        SetLastError(kErrorInvalidHandle);
        return nullptr;
    }
    return it->second;
}

uint32_t Login(Call& call,
               const std::string& server,
               uint16_t port,
               const std::string& user_name,
               const std::string& password)
{
    Connection& c = call.c;
    std::vector<SocketAddress> addresses;
    int resolve_error = 0;
    if (!ResolveHost(server, port, &addresses, &resolve_error)) {
        return kErrorInternetNameNotResolved;
    }
    bool connected = false;
    for (const SocketAddress& address : addresses) {
        const SocketResult r = c.control.Connect(address, call.ConnectDeadline(), &c.canceller);
        if (r.ok()) {
            c.peer = address;
            connected = true;
            break;
        }
        if (r.outcome == SocketOutcome::kCancelled) {
            return kErrorInternetOperationCancelled;
        }
        if (r.outcome == SocketOutcome::kTimedOut) {
            return kErrorInternetTimeout;
        }
    }
    if (!connected) {
        return kErrorInternetCannotConnect;
    }
    Reply reply;
    if (const uint32_t error = call.ReadFinalReply(&reply)) {
        return error;
    }
    if (const uint32_t error = call.RefusalOf(reply)) {
        return error;
    }
    if (const uint32_t error = call.Exchange("USER " + user_name, &reply)) {
        return error;
    }
    if (reply.code == 331) {
        if (const uint32_t error = call.Exchange("PASS " + password, &reply)) {
            return error;
        }
    }
    // 332 asks for an account, which the callers never have.
    if (reply.code >= 300 && reply.code < 400) {
        return kErrorInternetExtendedError;
    }
    return call.RefusalOf(reply);
}

// The records of one LIST command. A refusal with 450 or 550 counts as no entries when
// `missing_is_empty` (a single name that is not there).
uint32_t List(Call& call,
              const std::string& command,
              bool missing_is_empty,
              std::vector<FindData>* records)
{
    records->clear();
    DataChannel channel(call);
    bool no_data = false;
    Reply reply;
    uint32_t error = channel.Start(command, &no_data, &reply);
    if (error == kErrorInternetExtendedError && missing_is_empty &&
        (reply.code == 450 || reply.code == 550)) {
        return 0;
    }
    if (error != 0 || no_data) {
        return error;
    }
    std::string text;
    error = ReceiveAll(
        call, channel.socket(), call.c.canceller,
        [&](std::string_view piece) {
            if (text.size() + piece.size() > kMaxListingBytes) {
                return kErrorInternetInvalidServerResponse;
            }
            text.append(piece);
            return 0u;
        },
        true);
    if (error != 0) {
        call.c.drain = !call.c.dropped && !call.c.closed && channel.socket().IsOpen();
        return error;
    }
    SystemTime now;
    GetLocalTime(&now);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        FindData record;
        if (ParseListingLine(std::string_view(text).substr(start, end - start), now, &record)) {
            records->push_back(std::move(record));
        }
        start = end + 1;
    }
    return 0;
}

void KeepMatching(std::vector<FindData>* records, const std::string& mask, bool exact)
{
    std::erase_if(*records, [&](const FindData& record) {
        return exact ? record.file_name != mask : !MaskMatches(record.file_name, mask);
    });
}

// The folder of a PWD reply: the text between the first quote and its closing one ("" inside
// stands for one quote); without quotes, the text after the code.
std::string FolderOfPwdReply(const std::string& text)
{
    const size_t open = text.find('"');
    if (open == std::string::npos) {
        return text.size() > 4 ? text.substr(4) : std::string();
    }
    std::string folder;
    for (size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
                folder += '"';
                ++i;
                continue;
            }
            break;
        }
        folder += text[i];
    }
    return folder;
}

}  // namespace

InternetHandle InternetOpen(const std::string& /*agent*/,
                            uint32_t access_type,
                            const std::string& /*proxy*/,
                            const std::string& /*proxy_bypass*/,
                            uint32_t /*flags*/)
{
    IgnoreBrokenPipeSignal();
    if (access_type != kInternetOpenTypePreconfig && access_type != kInternetOpenTypeDirect &&
        access_type != kInternetOpenTypePreconfigWithNoAutoproxy) {
        SetLastError(kErrorInvalidParameter);
        return {};
    }
    const InternetHandle handle = Register(std::make_shared<Session>(), nullptr);
    SetLastError(kErrorSuccess);
    return handle;
}

bool InternetCloseHandle(InternetHandle handle)
{
    const auto taken = Unregister(handle);
    if (taken.empty()) {
        return Fail(kErrorInvalidHandle);
    }
    for (const auto& object : taken) {
        object->closed = true;
        object->canceller.Cancel();
    }
    for (const auto& object : taken) {
        object->Finish();
        object->NotifyAlways(object->context, kInternetStatusHandleClosing);
    }
    SetLastError(kErrorSuccess);
    return true;
}

bool InternetSetReplyTimeout(InternetHandle session, uint32_t reply_ms)
{
    const auto object = Lookup(session, Kind::kSession);
    if (object == nullptr) {
        return false;
    }
    static_cast<Session&>(*object).reply_ms = reply_ms;
    SetLastError(kErrorSuccess);
    return true;
}

bool InternetSetStatusCallback(InternetHandle handle,
                               InternetStatusCallback callback,
                               InternetStatusCallback* previous)
{
    const auto object = LookupAny(handle);
    if (object == nullptr) {
        return false;
    }
    const InternetStatusCallback old = object->callback.exchange(callback);
    if (previous != nullptr) {
        *previous = old;
    }
    SetLastError(kErrorSuccess);
    return true;
}

bool InternetSetTimeouts(InternetHandle session, const InternetTimeouts& timeouts)
{
    const auto object = Lookup(session, Kind::kSession);
    if (object == nullptr) {
        return false;
    }
    if (timeouts.connect_ms == 0 || timeouts.receive_ms == 0) {
        return Fail(kErrorInvalidParameter);
    }
    auto& s = static_cast<Session&>(*object);
    s.connect_ms = timeouts.connect_ms;
    s.receive_ms = timeouts.receive_ms;
    SetLastError(kErrorSuccess);
    return true;
}

InternetHandle InternetConnect(InternetHandle session,
                               const std::string& server,
                               uint16_t port,
                               const std::string& user_name,
                               const std::string& password,
                               uint32_t service,
                               uint32_t flags,
                               uintptr_t context)
{
    if (HoldsLineBreakOrNul(server) || HoldsLineBreakOrNul(user_name) ||
        HoldsLineBreakOrNul(password) || service != kInternetServiceFtp) {
        SetLastError(kErrorInvalidParameter);
        return {};
    }
    const auto object = Lookup(session, Kind::kSession);
    if (object == nullptr) {
        return {};
    }
    if (Handles().offline) {
        SetLastError(kErrorInternetDisconnected);
        return {};
    }
    auto& s = static_cast<Session&>(*object);
    const auto connection = std::make_shared<Connection>(
        context, s.callback.load(), s.connect_ms.load(), s.receive_ms.load(), s.reply_ms.load(),
        (flags & kInternetFlagPassive) != 0);
    // Made on the session at once, so that closing the session cuts this attempt short.
    const InternetHandle handle = Register(connection, &s);
    if (!handle) {
        SetLastError(kErrorInternetOperationCancelled);
        return {};
    }
    uint32_t error = 0;
    {
        CallGuard guard(*connection);
        Call call(*connection, context, DeadlineAfter(connection->connect_ms));
        error = Login(call, server, port == 0 ? kInternetDefaultFtpPort : port,
                      user_name.empty() ? "anonymous" : user_name, password);
        if (connection->closed) {
            error = kErrorInternetOperationCancelled;
        }
    }
    if (error != 0) {
        Unregister(handle);
        SetLastError(error);
        return {};
    }
    SetLastError(kErrorSuccess);
    return handle;
}

bool FtpSetCurrentDirectory(InternetHandle connection, const std::string& directory)
{
    return OnConnection(connection, {directory}, nullptr,
                        [&](Call& call, const auto&) { return call.Command("CWD " + directory); });
}

bool FtpGetCurrentDirectory(InternetHandle connection, std::string* directory)
{
    return OnConnection(connection, {}, nullptr, [&](Call& call, const auto&) {
        Reply reply;
        const uint32_t error = call.Command("PWD", &reply);
        if (error == 0) {
            *directory = FolderOfPwdReply(reply.text);
        }
        return error;
    });
}

bool FtpPutFile(InternetHandle connection,
                const std::string& local_file,
                const std::string& remote_file,
                uint32_t flags,
                uintptr_t context)
{
    return OnConnection(connection, {remote_file}, &context, [&](Call& call, const auto&) {
        // A pipe would hold the upload for ever, a device never end it: only files are sent.
        const int fd = OpenFileToRead(local_file);
        if (fd < 0) {
            return GetLastError();
        }
        const bool text = flags == kFtpTransferTypeAscii;
        DataChannel channel(call);
        uint32_t error = StartFileTransfer(call, channel, text, "STOR " + remote_file);
        ToWireLineEnds wire;
        std::vector<char> buffer(kChunkSize);
        while (error == 0) {
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                // The server must not take a cut-off file for a whole one.
                error = ErrnoCode(errno);
                channel.socket().Abort();
                call.c.drain = true;
                break;
            }
            if (got == 0) {
                break;
            }
            const std::string_view piece(buffer.data(), static_cast<size_t>(got));
            const std::string converted = text ? wire.Convert(piece) : std::string();
            const SocketResult sent = channel.socket().SendAll(
                text ? std::string_view(converted) : piece, call.SilenceMs(), &call.c.canceller);
            if (!sent.ok()) {
                error = call.DataError(sent);
                call.c.drain = !call.c.closed && !call.c.dropped;
                break;
            }
            call.NotifyBytes(kInternetStatusRequestSent, piece.size());
        }
        ::close(fd);
        if (error != 0) {
            return error;
        }
        channel.socket().Close();
        Reply reply;
        if ((error = call.ReadFinalReply(&reply)) != 0) {
            return error;
        }
        return call.RefusalOf(reply);
    });
}

bool FtpGetFile(InternetHandle connection,
                const std::string& remote_file,
                const std::string& local_file,
                bool fail_if_exists,
                uint32_t /*attributes*/,
                uint32_t flags,
                uintptr_t context)
{
    return OnConnection(connection, {remote_file}, &context, [&](Call& call, const auto&) {
        std::string posix;
        if (!ResolvePath(local_file, &posix)) {
            return GetLastError();
        }
        struct stat st = {};
        if (fail_if_exists && ::lstat(posix.c_str(), &st) == 0) {
            return kErrorFileExists;
        }
        std::string part = posix + ".XXXXXX";
        const int fd = ::mkostemp(part.data(), O_CLOEXEC);
        if (fd < 0) {
            return ErrorFromErrno(errno, true);
        }
        const bool text = flags == kFtpTransferTypeAscii;
        DataChannel channel(call);
        uint32_t error = StartFileTransfer(call, channel, text, "RETR " + remote_file);
        FromWireLineEnds local_ends;
        if (error == 0) {
            error =
                ReceiveAll(call, channel.socket(), call.c.canceller, [&](std::string_view piece) {
                    return WriteAll(fd, text ? std::string_view(local_ends.Convert(piece)) : piece);
                });
            if (error != 0) {
                call.c.drain = !call.c.dropped && !call.c.closed && channel.socket().IsOpen();
            }
        }
        if (error == 0 && text) {
            error = WriteAll(fd, local_ends.Flush());
        }
        if (::close(fd) != 0 && error == 0) {
            error = ErrnoCode(errno);
        }
        if (error == 0) {
            const int moved = fail_if_exists ? renameat2(AT_FDCWD, part.c_str(), AT_FDCWD,
                                                         posix.c_str(), RENAME_NOREPLACE)
                                             : std::rename(part.c_str(), posix.c_str());
            if (moved != 0) {
                error = errno == EEXIST ? kErrorFileExists : ErrnoCode(errno);
            }
        }
        if (error != 0) {
            ::unlink(part.c_str());
        }
        return error;
    });
}

bool FtpDeleteFile(InternetHandle connection, const std::string& file_name)
{
    return OnConnection(connection, {file_name}, nullptr,
                        [&](Call& call, const auto&) { return call.Command("DELE " + file_name); });
}

bool FtpRenameFile(InternetHandle connection,
                   const std::string& existing_name,
                   const std::string& new_name)
{
    return OnConnection(
        connection, {existing_name, new_name}, nullptr, [&](Call& call, const auto&) {
            Reply reply;
            if (const uint32_t error = call.Exchange("RNFR " + existing_name, &reply)) {
                return error;
            }
            if (reply.code != 350) {
                const uint32_t refused = call.RefusalOf(reply);
                return refused != 0 ? refused : kErrorInternetExtendedError;
            }
            return call.Command("RNTO " + new_name);
        });
}

bool FtpCreateDirectory(InternetHandle connection, const std::string& directory)
{
    return OnConnection(connection, {directory}, nullptr,
                        [&](Call& call, const auto&) { return call.Command("MKD " + directory); });
}

bool FtpRemoveDirectory(InternetHandle connection, const std::string& directory)
{
    return OnConnection(connection, {directory}, nullptr,
                        [&](Call& call, const auto&) { return call.Command("RMD " + directory); });
}

InternetHandle FtpFindFirstFile(InternetHandle connection,
                                const std::string& search,
                                FindData* data,
                                uint32_t /*flags*/,
                                uintptr_t context)
{
    std::vector<FindData> records;
    std::shared_ptr<Connection> owner;
    const bool listed =
        OnConnection(connection, {search}, &context, [&](Call& call, const auto& self) {
            owner = self;
            // Listings go in whatever type the connection is in: servers send them the same in
            // either, and switching to TYPE A and back for every folder would cost two round
            // trips each.
            //
            // A plain name goes to the server, which then lists that one entry. A folder's name
            // lists the folder's content instead, and some servers read names as patterns of
            // their own: then (and for our own patterns) the whole folder is listed and
            // narrowed here.
            if (!search.empty() && search.find_first_of("*?") == std::string::npos &&
                search[0] != '-') {
                if (const uint32_t error = List(call, "LIST " + search, true, &records)) {
                    return error;
                }
                KeepMatching(&records, search, true);
                if (!records.empty()) {
                    return 0u;
                }
                // A server that hides dot files (vsftpd) lists one by name only when asked with
                // "-a"; without it, an uploaded .htaccess would look missing on every run.
                if (search[0] == '.') {
                    if (const uint32_t error = List(call, "LIST -a " + search, true, &records)) {
                        return error;
                    }
                    KeepMatching(&records, search, true);
                    if (!records.empty()) {
                        return 0u;
                    }
                }
            }
            if (const uint32_t error = List(call, "LIST", false, &records)) {
                return error;
            }
            if (!search.empty()) {
                KeepMatching(&records, search, false);
            }
            return 0u;
        });
    if (!listed) {
        return {};
    }
    if (records.empty()) {
        SetLastError(kErrorNoMoreFiles);
        return {};
    }
    *data = records.front();
    auto find = std::make_shared<FindList>(context, owner->callback.load(), std::move(records));
    const InternetHandle handle = Register(find, owner.get());
    SetLastError(handle ? kErrorSuccess : kErrorInternetOperationCancelled);
    return handle;
}

bool InternetFindNextFile(InternetHandle find, FindData* data)
{
    const auto object = Lookup(find, Kind::kFind);
    if (object == nullptr) {
        return false;
    }
    auto& list = static_cast<FindList&>(*object);
    if (list.next >= list.records.size()) {
        return Fail(kErrorNoMoreFiles);
    }
    *data = list.records[list.next++];
    SetLastError(kErrorSuccess);
    return true;
}

bool FtpCommand(InternetHandle connection,
                bool expect_response,
                uint32_t flags,
                const std::string& command,
                uintptr_t context,
                InternetHandle* data)
{
    if (data != nullptr) {
        *data = {};
    }
    std::shared_ptr<DataTransfer> transfer;
    std::shared_ptr<Connection> owner;
    const bool done =
        OnConnection(connection, {command}, &context, [&](Call& call, const auto& self) {
            if (!expect_response) {
                return call.Command(command);
            }
            owner = self;
            if (const uint32_t error = call.SetType(flags == kFtpTransferTypeBinary ? 'I' : 'A')) {
                return error;
            }
            transfer = std::make_shared<DataTransfer>(context, self->callback.load(), self);
            DataChannel channel(call);
            bool no_data = false;
            Reply reply;
            if (const uint32_t error = channel.Start(command, &no_data, &reply)) {
                return error;
            }
            transfer->finished = no_data;
            transfer->socket = std::move(channel.socket());
            self->reading = transfer;
            return 0u;
        });
    if (!done || !expect_response) {
        return done;
    }
    const InternetHandle handle = Register(transfer, owner.get());
    if (!handle) {
        return Fail(kErrorInternetOperationCancelled);
    }
    if (data != nullptr) {
        *data = handle;
    }
    SetLastError(kErrorSuccess);
    return true;
}

bool InternetReadFile(InternetHandle data, void* buffer, uint32_t size, uint32_t* bytes_read)
{
    *bytes_read = 0;
    const auto object = Lookup(data, Kind::kData);
    if (object == nullptr) {
        return false;
    }
    auto& transfer = static_cast<DataTransfer&>(*object);
    Connection& c = *transfer.connection;
    CallGuard guard(c);
    if (transfer.closed) {
        return Fail(kErrorInternetOperationCancelled);
    }
    if (transfer.finished) {
        SetLastError(kErrorSuccess);
        return true;
    }
    Call call(c, transfer.context);
    size_t got = 0;
    const SocketResult r = transfer.socket.Receive(static_cast<char*>(buffer), size,
                                                   call.SilenceMs(), &transfer.canceller, &got);
    if (r.ok()) {
        call.NotifyBytes(kInternetStatusReceivingResponse, got);
        *bytes_read = static_cast<uint32_t>(got);
        SetLastError(kErrorSuccess);
        return true;
    }
    transfer.socket.Close();
    transfer.finished = true;
    uint32_t error = 0;
    if (r.outcome == SocketOutcome::kClosed) {
        Reply reply;
        error = call.ReadFinalReply(&reply);
        if (error == 0) {
            error = call.RefusalOf(reply);
        }
    } else {
        error = transfer.closed ? kErrorInternetConnectionAborted : call.DataError(r);
        c.drain = !c.closed && !c.dropped;
    }
    call.Notify(kInternetStatusRequestComplete);
    SetLastError(error);
    return error == 0;
}

std::string InternetGetLastResponseInfo()
{
    return last_response;
}

void InternetSetLastResponseInfo(const std::string& response)
{
    last_response = response;
}

bool InternetGetConnectedStateEx(uint32_t* flags, std::string* connection_name)
{
    const bool offline = Handles().offline;
    if (InternetConnectivity* connectivity = installed_connectivity.load()) {
        return connectivity->GetConnectedState(offline, flags, connection_name);
    }
    if (offline) {
        *flags = kInternetConnectionLan | kInternetConnectionOffline;
        connection_name->clear();
        return false;
    }
    *flags = kInternetConnectionLan;
    *connection_name = kLanConnectionName;
    return true;
}

bool InternetSetConnectedState(uint32_t state, uint32_t /*flags*/)
{
    if (state != kInternetStateConnected && state != kInternetStateDisconnectedByUser) {
        return Fail(kErrorInvalidParameter);
    }
    Table& table = Handles();
    const bool offline = state == kInternetStateDisconnectedByUser;
    if (table.offline.exchange(offline) != offline) {
        std::vector<std::shared_ptr<Object>> sessions;
        {
            std::lock_guard<std::mutex> lock(table.lock);
            for (const auto& [id, object] : table.objects) {
                if (object->kind == Kind::kSession) {
                    sessions.push_back(object);
                }
            }
        }
        for (const auto& session : sessions) {
            session->Notify(session->context, kInternetStatusStateChange, &state, sizeof state);
        }
    }
    SetLastError(kErrorSuccess);
    return true;
}

InternetConnectivity* SetInternetConnectivity(InternetConnectivity* connectivity)
{
    return installed_connectivity.exchange(connectivity);
}

uint32_t InternetAttemptConnect(uint32_t /*reserved*/)
{
    if (InternetConnectivity* connectivity = installed_connectivity.load()) {
        return connectivity->AttemptConnect();
    }
    return kErrorSuccess;
}

uint32_t InternetDial(uintptr_t /*parent_window*/,
                      const std::string& entry_name,
                      uint32_t flags,
                      uintptr_t* connection,
                      uint32_t /*reserved*/)
{
    uintptr_t dialled = 0;
    uint32_t result = kErrorCannotFindPhonebookEntry;
    if (InternetConnectivity* connectivity = installed_connectivity.load()) {
        result = connectivity->Dial(entry_name, flags, &dialled);
    }
    if (connection != nullptr) {
        *connection = dialled;
    }
    return result;
}

uint32_t InternetHangUp(uintptr_t connection, uint32_t /*reserved*/)
{
    if (InternetConnectivity* connectivity = installed_connectivity.load()) {
        return connectivity->HangUp(connection);
    }
    return kErrorSuccess;
}

std::map<std::string, uint64_t> SentFtpCommandCounts()
{
    std::lock_guard<std::mutex> lock(command_counts_lock);
    return command_counts;
}

size_t OpenInternetHandleCount()
{
    Table& table = Handles();
    std::lock_guard<std::mutex> lock(table.lock);
    return table.objects.size();
}

bool IsInternetHandleOpen(InternetHandle handle)
{
    Table& table = Handles();
    std::lock_guard<std::mutex> lock(table.lock);
    return table.objects.count(handle.value) != 0;
}

}  // namespace vantrel::platform
