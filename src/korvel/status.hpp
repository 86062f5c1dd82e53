// The latest failure message and the bottom row's text with its colours.
#pragma once

#include <cstddef>

#include "term.hpp"

inline constexpr size_t ERROR_TEXT_SIZE = 256;
inline constexpr size_t STATUS_LINE_SIZE = 256;

struct color_pair {
    uintattr_t fg;
    uintattr_t bg;
};

// The name that begins every message on standard error.
extern const char* program_name;
// The latest failure message, at most 255 bytes.
extern char error_text[ERROR_TEXT_SIZE];
// One blank, the text, blanks up to byte 254, NUL at 255 (empty before the first write).
extern char status_line[STATUS_LINE_SIZE];
extern color_pair status_colors;

inline constexpr color_pair MESSAGE_COLORS{TB_BLACK, TB_WHITE};
inline constexpr color_pair ERROR_COLORS{TB_WHITE, TB_RED};
inline constexpr color_pair PROMPT_COLORS{TB_WHITE, TB_DEFAULT};

void set_error(const char* text);
void set_errorf(const char* format, ...) __attribute__((format(printf, 1, 2)));
const char* get_error();
void print_error(const char* text);
void print_errorf(const char* format, ...) __attribute__((format(printf, 1, 2)));

void show_message(const char* text);
void show_error(const char* text);
void show_errorf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void show_messagef(const char* format, ...) __attribute__((format(printf, 1, 2)));
