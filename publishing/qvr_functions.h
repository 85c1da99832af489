#pragma once

#include <string>

// The settings files of web site definitions (the section "Vantrel" of an INI-style file with the
// extension "qvr"): the name an export proposes (MakeSafeFileName) and the import of a definition
// from such a file (ImportSettingsFile). The dialogs that choose the file belong to the windows;
// their callers hand the choice in.
namespace vantrel {

class QelPublicationList;
struct PublicationSetting;

// The file name an export proposes: the name's ASCII letters and digits, each run of other
// characters between two of them as one "_", none at either end.
std::string MakeSafeFileName(const std::string& name);

// Why a number given for a value of a definition cannot be taken, in the words of the import:
// "the FTP port 70000, which is not a port (1 to 65535)", "ConnectionTimeout the value 5,
// outside its range of 10 to 60"; empty when it can. A time-out of 0 stands for its default.
std::string NumberValueProblem(const PublicationSetting& setting, const std::string& text);

// Adds the definition of the settings file to the list, which saves it under its own key.
// `file_name` is the file the user chose (system form), empty when the user cancelled. True when
// a definition was read from the file and added; a dial-up entry the system does not list is
// then reset to any connection, and a save that fails is told, each in a box. False when
// cancelled, when the file holds no definition or one without a name, when it is too large or
// damaged (a line that is neither a section, a comment, a blank line nor a name=value pair, or a
// scrambled password cut short), when it holds values the dialogs would never give (a number
// out of its range or no number, a server time offset of a day or more, a NUL byte in any value,
// a text or list beyond its bound), or when the list already holds its name (the listed web site
// then stays as it was); then `problem`, when given, receives a text that says why, for the
// caller to show.
bool ImportSettingsFile(QelPublicationList& list,
                        const std::string& file_name,
                        std::string* problem = nullptr);

}  // namespace vantrel
