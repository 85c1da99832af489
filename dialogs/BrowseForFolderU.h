#pragma once

#include <string>

// The folder chooser the windows open for a source folder (BrowseForFolder).
namespace vantrel {

// Shows the folder chooser in force (platform/qt/FileChoosers.h) modally over the active window,
// with `title`, opened at `initial_folder` when it is not empty. `path` receives the chosen
// folder's file-system path, or empty when the user cancelled or the choice has no local path
// (callers then keep their text). `new_style` asks for the chooser that can also make folders,
// which every chooser here can; it is kept for the callers' sake. GUI thread only.
void BrowseForFolder(const std::string& title,
                     const std::string& initial_folder,
                     bool new_style,
                     std::string& path);

}  // namespace vantrel
