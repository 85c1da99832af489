#include "storage/DotFileState.h"

namespace vantrel {

bool IsDotFileName(std::string_view name)
{
    return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

void CountUploadedDotFile(TDotFileState* state, std::string_view name)
{
    if (state == nullptr || !IsDotFileName(name)) {
        return;
    }
    ++state->DotFilesFound;
    if (state->Treatment == kDotFilesUnknown) {
        state->Treatment = kDotFilesUploaded;
    }
}

void CountListedDotFile(TDotFileState* state, std::string_view name, bool whole_folder)
{
    if (state == nullptr || !IsDotFileName(name)) {
        return;
    }
    ++state->DotFilesFound;
    if (whole_folder) {
        state->Treatment = kDotFilesListed;
    }
}

bool LooksForHiddenDotFiles(const TDotFileState* state, bool unix_server)
{
    return state != nullptr && unix_server &&
           (state->Treatment == kDotFilesUploaded || state->Treatment == kDotFilesHidden);
}

void CountFetchedDotFile(TDotFileState* state)
{
    state->Treatment = kDotFilesHidden;
    ++state->DotFilesFound;
}

}  // namespace vantrel
