#include "korvel/status.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

const char* program_name = "korvel";
char error_text[ERROR_TEXT_SIZE];
char status_line[STATUS_LINE_SIZE];
color_pair status_colors{TB_DEFAULT, TB_DEFAULT};

namespace {

// Formats into a buffer of `bound` bytes (so the text is cut to bound - 1)
// and hands the result on.
void format_to(void (*sink)(const char*), size_t bound, const char* format, va_list args) {
    char buffer[ERROR_TEXT_SIZE];
    vsnprintf(buffer, bound, format, args);
    sink(buffer);
}

} // namespace

void set_error(const char* text) {
    strncpy(error_text, text, ERROR_TEXT_SIZE - 1);
    error_text[ERROR_TEXT_SIZE - 1] = '\0';
}

void set_errorf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    format_to(set_error, ERROR_TEXT_SIZE, format, args);
    va_end(args);
}

const char* get_error() { return error_text; }

namespace {

// Messages carry bytes of file names and of the configuration file: control
// characters among them are written out as \xNN so they cannot act on the
// terminal that shows the message.
std::string visible(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            char escaped[5];
            snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += *p;
        }
    }
    return out;
}

} // namespace

void print_error(const char* text) {
    fprintf(stderr, "%s: %s\n", visible(program_name).c_str(), visible(text).c_str());
}

void print_errorf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    format_to(print_error, ERROR_TEXT_SIZE, format, args);
    va_end(args);
}

void show_message(const char* text) {
    status_line[STATUS_LINE_SIZE - 1] = '\0';
    memset(status_line, ' ', STATUS_LINE_SIZE - 1);
    memcpy(status_line + 1, text, strnlen(text, STATUS_LINE_SIZE - 2));
    status_colors = MESSAGE_COLORS;
}

void show_error(const char* text) {
    show_message(text);
    status_colors = ERROR_COLORS;
}

// The formatted status texts are cut to 254 bytes when they are formatted.
void show_errorf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    format_to(show_error, STATUS_LINE_SIZE - 1, format, args);
    va_end(args);
}

void show_messagef(const char* format, ...) {
    va_list args;
    va_start(args, format);
    format_to(show_message, STATUS_LINE_SIZE - 1, format, args);
    va_end(args);
}
