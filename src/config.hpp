// The configuration file and its key map.
#pragma once

#include <cstdio>

inline constexpr int COMMAND_TEXT_SIZE = 128;

struct command {
    char key;
    char text[COMMAND_TEXT_SIZE];
    command* next;
};

// Reads $XDG_CONFIG_PATH/korvel/config or $HOME/.config/korvel/config into
// the list at *cmd (which must be empty). 0 when read or absent; 1 with the
// message in the error text.
int read_config(command** cmd);
// The next blank-separated token of text, or nullptr; its length in *length.
const char* next_token(int* length, const char* text);
// Puts a new record at the head of the list that read_config was given.
void add_command(char key, const char* text);
void free_commands(command* head);

// read_config's work once the file is open: parses the stream to its end into
// the list at *cmd. 0, or 1 with the message (naming the line) in the error text.
int read_config_stream(FILE* file, command** cmd);
// The file that the last read_config looked for; empty when none could be named.
const char* config_path();
