#pragma once

#include <string_view>

#include "platform/DateTime.h"
#include "platform/Files.h"

// The lines of an FTP LIST reply read into find records. Shared by the internet library layer
// (platform/Inet.h) and any device that gets raw LIST lines from another FTP client.
namespace vantrel::platform {

// Reads one line (a trailing CR or LF is ignored) into *data, which is overwritten:
// - the UNIX "ls -l" form: files, folders (0x10), symbolic links (0x400, named without their
//   " -> target"; a folder only when the target ends with "/"), device files (size missing),
//   with a date of month, day and either a time or a year, or an ISO date and time; read-only
//   (0x1) when the owner may not write;
// - the DOS form that IIS writes (date, time with or without AM/PM, "<DIR>" or a size);
// - any other line as an entry named by the whole line, with no bits, size 0 and no time (the
//   VMS fix-up of the FTP device reads such names).
// Hidden (0x2) marks a name that begins with "." (but "." and ".."). The time is the listed
// calendar reading, with no zone change. A date without a year takes the year of `now` (the
// local time), or the one before when that would lie after `now`, and sets date_without_year.
// A size beyond 64 bits, or that of a device file, is missing: both halves have every bit set.
// False when the line gives no entry: an empty line, a "total N" line, or a name the system
// cannot use safely: empty, holding "/", "\", CR, LF or NUL, or "." or ".." for anything but a
// folder (a link of that name included).
bool ParseListingLine(std::string_view line, const SystemTime& now, FindData* data);

// The permission text ("-rw-r--r--") that opens a line of the UNIX form; empty for any other
// line.
std::string_view ListingPermissionText(std::string_view line);

}  // namespace vantrel::platform
