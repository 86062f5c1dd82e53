// The shell integration scripts (shell/korvel.bash, .zsh, .fish), built into
// the binary so that korvel --shell works from any copy of it.
#pragma once

#include <string_view>

namespace korvel {

// The script for a shell by its name ("bash", "zsh", "fish"); empty for
// any other name.
std::string_view shell_script(std::string_view shell);

} // namespace korvel
