#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The one reading of an FTP destination address, whatever form the user typed it in:
// ftp:\\host\folder, ftp://host/folder, ftp:host/folder, host/folder or host\folder, each with or
// without ":port" after the host, and an IPv6 host in brackets ([::1]). The FTP devices, the web
// site's run, the wizard, the configuration dialog, the import and the runner all read it here,
// so that they never disagree about where the files go.
namespace vantrel {

struct FtpAddress
{
    // False: the text is no address this reader understands; problem says why.
    bool valid = false;
    // Without brackets, an IPv6 address included.
    std::string host;
    // 0: the address names none, and the web site's port setting applies.
    uint16_t port = 0;
    // Below the login folder, "\"-separated, with no separator at either end; empty for the
    // login folder itself.
    std::string folder;
    // A message for the user that quotes the address as typed; empty when it was read.
    std::string problem;
};

FtpAddress ReadFtpAddress(std::string_view typed);

// The form the FTP devices and the run's paths use: "ftp:\\" host, then "\" folder when there is
// one. The port is left out: the device takes it from its settings.
std::string FtpDeviceAddress(const FtpAddress& address);

}  // namespace vantrel
