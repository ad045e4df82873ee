#pragma once
// `zibtam --config list|get NAME|set NAME VALUE|unset NAME`: the settings store from the
// shell, for what has no dialog and for administrators. Values of the product key by
// name, "KEY\NAME" for subkeys; numbers and texts typed as the settings tables say.
#include "settings/Options.h"

#include <iosfwd>
#include <string>
#include <vector>

// Runs the command (arguments after "--config"); returns the process exit status.
// Texts are shown and taken in UTF-8 and stored in Windows-1252.
int RunConfigCommand(COptions& options, const std::vector<std::string>& arguments,
                     std::ostream& out, std::ostream& err);
