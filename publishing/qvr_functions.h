#pragma once

#include <string>

// The import of a web site definition from a settings file (the section "Vantrel" of an INI-style
// file with the extension "qvr", as export writes it). The open dialog that chooses the file
// belongs to the windows; its caller hands the choice in.
namespace vantrel {

class QelPublicationList;

// Adds the definition of the settings file to the list, which saves it under its own key.
// `file_name` is the file the user chose (system form), empty when the user cancelled. True when
// a definition was read from the file, also when the list already holds its name (then nothing
// is added and the listed web site stays as it was). False when cancelled, or when the file holds
// no definition or one without a name; then `problem`, when given, receives a text for the
// caller to show.
bool ImportSettingsFile(QelPublicationList& list,
                        const std::string& file_name,
                        std::string* problem = nullptr);

}  // namespace vantrel
