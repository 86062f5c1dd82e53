#include "korvel/status.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>

const char* program_name = "korvel";
char error_text[ERROR_TEXT_SIZE];
char status_line[STATUS_LINE_SIZE];
color_pair status_colors{TB_DEFAULT, TB_DEFAULT};

void set_error(const char* text) { strncpy(error_text, text, ERROR_TEXT_SIZE - 1); error_text[ERROR_TEXT_SIZE - 1] = '\0'; }

void set_errorf(const char* format, ...) {
    char buffer[ERROR_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    set_error(buffer);
}

const char* get_error() { return error_text; }

void print_error(const char* text) { fprintf(stderr, "%s: %s\n", program_name, text); }

void print_errorf(const char* format, ...) {
    char buffer[ERROR_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    print_error(buffer);
}

void show_message(const char* text) {
    status_line[STATUS_LINE_SIZE - 1] = '\0';
    memset(status_line, ' ', STATUS_LINE_SIZE - 1);
    size_t n = strnlen(text, STATUS_LINE_SIZE - 2);
    memcpy(status_line + 1, text, n);
    status_colors = MESSAGE_COLORS;
}

void show_error(const char* text) {
    show_message(text);
    status_colors = ERROR_COLORS;
}

// The formatted status texts are bounded at 255 bytes with the terminator,
// which show_message then cuts to the 254 the row holds.
void show_errorf(const char* format, ...) {
    char buffer[STATUS_LINE_SIZE - 1];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    show_error(buffer);
}

void show_messagef(const char* format, ...) {
    char buffer[STATUS_LINE_SIZE - 1];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    show_message(buffer);
}
