#pragma once

#include <cstdint>
#include <string_view>

// How the web site's server treats files whose names begin with a dot (TDotFileState), kept in
// the web site definition and, during a run, in the run's own record, which the FTP devices read
// and update; and the bookkeeping both FTP devices share.
namespace vantrel {

// TDotFileState::Treatment.
enum TDotFileTreatment : uint8_t
{
    // Nothing known yet.
    kDotFilesUnknown = 0,
    // A dot file was uploaded, and no listing has shown one yet: the next listings look for them.
    kDotFilesUploaded = 1,
    // The server lists dot files like any other file (or it is not a UNIX server).
    kDotFilesListed = 2,
    // The server hides dot files from a plain listing: they are fetched on their own.
    kDotFilesHidden = 3,
};

// Plain values: a device updates the copy its run keeps, on the thread that runs the device, and
// the definition takes it over once that thread is done with it.
struct TDotFileState
{
    // A TDotFileTreatment; stored with the web site.
    uint8_t Treatment = kDotFilesUnknown;
    // Dot files found in the current run; not stored.
    int32_t DotFilesFound = 0;
};

// Begins with a dot and is neither "." nor "..".
bool IsDotFileName(std::string_view name);

// A file of that name was uploaded: a dot file counts, and tells that the server may hide them.
void CountUploadedDotFile(TDotFileState* state, std::string_view name);

// An entry of that name was listed: a dot file counts, and one in a whole folder's listing tells
// that the server lists them.
void CountListedDotFile(TDotFileState* state, std::string_view name, bool whole_folder);

// A UNIX server may be hiding the folder's dot files: they are fetched after its listing.
bool LooksForHiddenDotFiles(const TDotFileState* state, bool unix_server);

// A dot file fetched on its own: it counts, and the server hides them.
void CountFetchedDotFile(TDotFileState* state);

}  // namespace vantrel
