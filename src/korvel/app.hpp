// State shared by the parts of the application shell, grouped by the module
// that defines it.
#pragma once

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>

#include "config.hpp"
#include "paths.hpp"
#include "readline.hpp"

enum stop_kind : int { STOP_NONE = 0, STOP_SUSPEND = 1, STOP_QUIT = 2 };
enum mode_kind : int { MODE_NORMAL = 1, MODE_PROMPT = 2 };

struct options_t {
    const char* input_path = nullptr;
    int fold_by_default = 0;
    char separator = '/';
};

// Start-up and shutdown (startup.cpp).
extern options_t options;
extern uint64_t total_entries;
extern unfolded_paths_t unfolded_paths;
extern key_map commands;
// Made after the configuration is read, gone at clean-up.
extern std::optional<line_editor> prompt_editor;
// Written by the signal handlers and some keys, read by the event loop.
extern volatile sig_atomic_t stop_request;
// The full path chosen with 'o', printed once the terminal is restored.
extern std::optional<std::string> exit_path;

// The event loop (loop.cpp); the prompt switches it.
extern int input_mode;
// +1 for a prompt opened with '/', -1 for '?' (prompt.cpp).
extern int prompt_direction;
