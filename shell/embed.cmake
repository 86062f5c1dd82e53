# Writes a C++ source that holds the shell scripts as string literals, so
# that korvel --shell works from any copy of the binary:
#   cmake -DSOURCE_DIR=shell -DSHELLS="bash;zsh;fish" -DOUTPUT=file.cpp -P embed.cmake
# Every byte is written as a hex escape, so no text in a script can end the
# literal; each line of a script stays a line of the source.
set(text "// Generated from shell/korvel.* at build time; edit those instead.\n")
string(APPEND text "#include \"app/shell_scripts.hpp\"\n\nnamespace korvel {\n\nnamespace {\n")
foreach(shell IN LISTS SHELLS)
    file(READ "${SOURCE_DIR}/korvel.${shell}" hex HEX)
    string(REGEX REPLACE "(..)" "\\\\x\\1" escaped "${hex}")
    string(REPLACE "\\x0a" "\\x0a\"\n    \"" escaped "${escaped}")
    string(TOUPPER "${shell}" name)
    string(APPEND text "\nconstexpr char ${name}[] =\n    \"${escaped}\";\n")
endforeach()
string(APPEND text "\n} // namespace\n\nstd::string_view shell_script(std::string_view shell) {\n")
foreach(shell IN LISTS SHELLS)
    string(TOUPPER "${shell}" name)
    string(APPEND text "    if (shell == \"${shell}\") return {${name}, sizeof ${name} - 1};\n")
endforeach()
string(APPEND text "    return {};\n}\n\n} // namespace korvel\n")
# Only a changed text touches the file, so an unchanged one compiles nothing.
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${text}" @ONLY)
