#pragma once

// The help pages the Help menu opens: local files in docs/.
namespace vantrel {

// Opens the page in the desktop's browser; tells the user when it is not installed. GUI thread.
void OpenHelpPage(const char* file_name);

}  // namespace vantrel
