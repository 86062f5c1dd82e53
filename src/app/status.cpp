#include "app/status.hpp"

#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <string>

namespace korvel {

void status_line::show(std::string_view text, status_style style) {
    text_.assign(text.substr(0, TEXT_MAX));
    style_ = style;
    shown_ = true;
    path_ = false;
}

void status_line::show_path(std::string_view path) {
    text_.assign(path);
    style_ = status_style::MESSAGE;
    shown_ = true;
    path_ = true;
}

void status_line::showf(status_style style, const char* format, ...) {
    char text[TEXT_MAX + 1];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    show(text, style);
}

std::string status_line::row() const {
    if (!shown_) return {};
    std::string row(TEXT_MAX + 1, ' ');
    row.replace(1, std::min(text_.size(), TEXT_MAX), text_, 0, TEXT_MAX);
    return row;
}

namespace {

// Messages carry bytes of file names and of the configuration file: control
// characters among them are written out as \xNN so they cannot act on the
// terminal that shows the message.
std::string visible(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\0') break;
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            char escaped[5];
            snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

void print_error(std::string_view program, std::string_view text) {
    const std::string line = visible(program) + ": " + visible(text) + "\n";
    fputs(line.c_str(), stderr);
}

} // namespace korvel
