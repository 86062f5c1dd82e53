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

#include <cstdint>
#include <cstring>
#include <vector>

#include "outcome.hpp"

// The key map. (Interim: the configuration's own rewrite replaces this.)
class key_map {
  public:
    key_map() = default;
    ~key_map() { free_commands(head_); }
    key_map(const key_map&) = delete;
    key_map& operator=(const key_map&) = delete;

    const command* find(uint32_t ch) const {
        if (ch == 0) return nullptr;
        for (const command* c = head_; c != nullptr; c = c->next)
            if (static_cast<int64_t>(static_cast<signed char>(c->key)) == static_cast<int64_t>(ch))
                return c;
        return nullptr;
    }
    bool empty() const { return head_ == nullptr; }
    void add(char key, const char* text) {
        command* record = new command{};
        record->key = key;
        strncpy(record->text, text, COMMAND_TEXT_SIZE - 1);
        record->next = head_;
        head_ = record;
    }
    command** head() { return &head_; }

  private:
    command* head_ = nullptr;
};

outcome read_config(key_map& map);
