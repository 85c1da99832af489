#include "storage/FtpAddress.h"

#include <cctype>

namespace vantrel {

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool IsAsciiAlnum(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// Letters, digits, "-", "." and "_"; a byte of a UTF-8 sequence is left to the name lookup.
bool IsHostNameCharacter(char c)
{
    return IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool IsIpv6Literal(std::string_view text)
{
    const size_t zone = text.find('%');
    const std::string_view address = text.substr(0, zone);
    if (address.find(':') == std::string_view::npos) {
        return false;
    }
    for (const char c : address) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0 && c != ':' && c != '.') {
            return false;
        }
    }
    if (zone == std::string_view::npos) {
        return true;
    }
    const std::string_view name = text.substr(zone + 1);
    if (name.empty()) {
        return false;
    }
    for (const char c : name) {
        if (!IsAsciiAlnum(c) && c != '-' && c != '_' && c != '.') {
            return false;
        }
    }
    return true;
}

// 1 to 65535 written in decimal digits; 0 otherwise.
uint16_t PortNumber(std::string_view text)
{
    if (text.empty() || text.size() > 5) {
        return 0;
    }
    uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value <= 65535 ? static_cast<uint16_t>(value) : 0;
}

// A run of letters, digits, "+", "-" and "." before "://": the address names a protocol.
size_t SchemeLength(std::string_view text)
{
    if (text.empty() || std::isalpha(static_cast<unsigned char>(text[0])) == 0) {
        return 0;
    }
    size_t i = 1;
    while (i < text.size() &&
           (IsAsciiAlnum(text[i]) || text[i] == '+' || text[i] == '-' || text[i] == '.')) {
        ++i;
    }
    return text.substr(i, 3) == "://" ? i : 0;
}

bool IsControl(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

FtpAddress Refused(std::string_view typed, const std::string& reason)
{
    // Quoted on one line, as every log line is one.
    std::string shown(typed);
    for (char& c : shown) {
        c = IsControl(c) ? '?' : c;
    }
    FtpAddress refused;
    refused.problem = "The FTP address \"" + shown + "\" cannot be read" +
                      (std::isupper(static_cast<unsigned char>(reason[0])) != 0 ? ". " : ": ") +
                      reason +
                      ". Write it as ftp://host/folder, or ftp://host:port/folder for a server "
                      "that does not listen on port 21.";
    return refused;
}

}  // namespace

FtpAddress ReadFtpAddress(std::string_view typed)
{
    std::string_view text = typed;
    // Blanks before the address come with a paste (the wizard cuts them while typing); those at
    // the end of a folder may belong to its name and stay.
    while (!text.empty() && (text[0] == ' ' || text[0] == '\t')) {
        text.remove_prefix(1);
    }
    if (text.size() >= 4 && (text[0] == 'f' || text[0] == 'F') &&
        (text[1] == 't' || text[1] == 'T') && (text[2] == 'p' || text[2] == 'P') &&
        text[3] == ':') {
        text.remove_prefix(4);
    } else if (const size_t scheme = SchemeLength(text)) {
        return Refused(typed, "only FTP is spoken, not " + std::string(text.substr(0, scheme)));
    }
    // The separators after "ftp:" may be any mix of ":", "/" and "\"; two colons in a row start
    // an IPv6 address written without its brackets, which this cannot tell from a port.
    const size_t start = text.find_first_not_of(":/\\");
    if (text.substr(0, start).find("::") != std::string_view::npos) {
        return Refused(typed, "an IPv6 address is written in brackets, as in ftp://[::1]/folder");
    }
    text = start == std::string_view::npos ? std::string_view() : text.substr(start);

    size_t host_end = 0;
    while (host_end < text.size() && !IsSeparator(text[host_end])) {
        ++host_end;
    }
    // A blank after the server name or the port is part of neither.
    std::string_view host_and_port = text.substr(0, host_end);
    while (!host_and_port.empty() &&
           (host_and_port.back() == ' ' || host_and_port.back() == '\t')) {
        host_and_port.remove_suffix(1);
    }
    std::string_view host = host_and_port;
    std::string_view port_text;
    bool has_port = false;
    bool ipv6 = false;
    for (const char c : host_and_port) {
        if (IsControl(c)) {
            return Refused(typed,
                           "The host name holds a line break, NUL or other control "
                           "character");
        }
    }
    if (host_and_port.find('@') != std::string_view::npos) {
        return Refused(typed,
                       "the user name and password go in their own settings, not in the address");
    }
    if (!host_and_port.empty() && host_and_port[0] == '[') {
        const size_t close = host_and_port.find(']');
        if (close == std::string_view::npos) {
            return Refused(typed, "the bracket around the IPv6 address is not closed");
        }
        host = host_and_port.substr(1, close - 1);
        const std::string_view rest = host_and_port.substr(close + 1);
        if (!rest.empty() && rest[0] != ':') {
            return Refused(typed, "only \":port\" may follow the IPv6 address");
        }
        has_port = !rest.empty();
        port_text = has_port ? rest.substr(1) : std::string_view();
        if (!IsIpv6Literal(host)) {
            return Refused(typed, "\"" + std::string(host) + "\" is no IPv6 address");
        }
        ipv6 = true;
    } else if (const size_t colon = host_and_port.find(':'); colon != std::string_view::npos) {
        host = host_and_port.substr(0, colon);
        port_text = host_and_port.substr(colon + 1);
        has_port = true;
        if (port_text.find(':') != std::string_view::npos) {
            return Refused(typed,
                           "an IPv6 address is written in brackets, as in ftp://[::1]/folder");
        }
    }
    if (host.empty()) {
        return Refused(typed, "it names no server");
    }
    if (!ipv6) {
        for (const char c : host) {
            if (!IsHostNameCharacter(c)) {
                return Refused(typed, "the server name \"" + std::string(host) +
                                          "\" holds a character no server name holds");
            }
        }
    }
    FtpAddress address;
    if (has_port) {
        address.port = PortNumber(port_text);
        if (address.port == 0) {
            return Refused(typed,
                           "the port after the server name must be a number from 1 to "
                           "65535");
        }
    }
    address.host = std::string(host);
    // Empty steps ("a//b", a separator at the end) name no folder of their own.
    size_t i = host_end;
    while (i < text.size()) {
        while (i < text.size() && IsSeparator(text[i])) {
            ++i;
        }
        size_t end = i;
        while (end < text.size() && !IsSeparator(text[end])) {
            ++end;
        }
        if (end > i) {
            if (!address.folder.empty()) {
                address.folder += '\\';
            }
            address.folder.append(text.substr(i, end - i));
        }
        i = end;
    }
    address.valid = true;
    return address;
}

std::string FtpDeviceAddress(const FtpAddress& address)
{
    const bool ipv6 = address.host.find(':') != std::string::npos;
    std::string text = "ftp:\\\\" + (ipv6 ? "[" + address.host + "]" : address.host);
    if (!address.folder.empty()) {
        text += "\\" + address.folder;
    }
    return text;
}

}  // namespace vantrel
