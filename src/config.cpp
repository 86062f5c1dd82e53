#include "config.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "check.hpp"
#include <cstdarg>
#include <string>

namespace {

// Interim, until the configuration reports its own outcome.
std::string last_error;
void set_errorf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void set_errorf(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    last_error = text;
}

constexpr size_t PATH_BUFFER_SIZE = 1024;
// One read yields at most 191 bytes; a longer line goes on in the next read.
constexpr size_t PIECE_BUFFER_SIZE = 192;

char path_buffer[PATH_BUFFER_SIZE];
char piece_buffer[PIECE_BUFFER_SIZE];
// The list that add_command extends: the one read_config was given.
command** command_list = nullptr;

struct file_closer {
    void operator()(FILE* file) const { fclose(file); }
};
using file_handle = std::unique_ptr<FILE, file_closer>;

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

enum class path_result { FORMED, NO_VARIABLE, TOO_LONG };

path_result form_config_path() {
    path_buffer[0] = '\0';
    const char* base = getenv("XDG_CONFIG_PATH");
    const char* middle = "";
    if (base == nullptr) {
        base = getenv("HOME");
        middle = "/.config";
    }
    if (base == nullptr) return path_result::NO_VARIABLE;
    int length = snprintf(path_buffer, sizeof path_buffer, "%s%s/korvel/config", base, middle);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path_buffer) {
        path_buffer[0] = '\0';
        return path_result::TOO_LONG;
    }
    return path_result::FORMED;
}

// Reads the next piece into piece_buffer: up to and including a newline, at
// most 191 bytes. Reads cut short by a signal are repeated. False when the
// file ended or failed before any byte of a new piece.
bool read_piece(FILE* file) {
    size_t length = 0;
    while (length < PIECE_BUFFER_SIZE - 1) {
        int c = getc(file);
        if (c == EOF) {
            if (!feof(file) && ferror(file) && errno == EINTR) {
                clearerr(file);
                continue;
            }
            // A failed read drops the partial piece, as fgets would.
            if (!feof(file)) length = 0;
            break;
        }
        piece_buffer[length++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    piece_buffer[length] = '\0';
    return length > 0;
}

// 0 when the piece is blank, a comment or a binding that was added.
int parse_piece(int line_number) {
    int word_length = 0;
    const char* word = next_token(&word_length, piece_buffer);
    if (word == nullptr || word[0] == '"' || word[0] == '#') return 0;
    if (word_length != 3 || memcmp(word, "map", 3) != 0) {
        set_errorf("Failed to read config: line %d: unknown command %.*s", line_number, word_length,
                   word);
        return 1;
    }
    int key_length = 0;
    const char* key = next_token(&key_length, word + word_length);
    if (key == nullptr) {
        set_errorf("Failed to read config: line %d: map requires two arguments", line_number);
        return 1;
    }
    if (key_length > 1) {
        set_errorf("Failed to read config: line %d: mapping cannot consist of multiple characters: "
                   "%.*s",
                   line_number, key_length, key);
        return 1;
    }
    int first_length = 0;
    char* text = const_cast<char*>(next_token(&first_length, key + key_length));
    if (text == nullptr) {
        set_errorf("Failed to read config: line %d: map requires two arguments", line_number);
        return 1;
    }
    // The command runs to the end of the piece; its length counts the newline.
    size_t text_length = strlen(text);
    if (text_length >= COMMAND_TEXT_SIZE) {
        set_errorf("Failed to read config: line %d: command length cannot be longer than or equal "
                   "to %d",
                   line_number, COMMAND_TEXT_SIZE);
        return 1;
    }
    if (text[text_length - 1] == '\n') text[text_length - 1] = '\0';
    add_command(key[0], text);
    return 0;
}

} // namespace

const char* next_token(int* length, const char* text) {
    while (is_blank(*text))
        ++text;
    if (*text == '\0') {
        *length = 0;
        return nullptr;
    }
    const char* end = text;
    while (*end != '\0' && !is_blank(*end))
        ++end;
    *length = static_cast<int>(end - text);
    return text;
}

void add_command(char key, const char* text) {
    if (command_list == nullptr) check_failed("command_list != NULL", __func__, __FILE__, __LINE__);
    command* record = new (std::nothrow) command{};
    if (record == nullptr) check_failed("new != NULL", __func__, __FILE__, __LINE__);
    record->key = key;
    strncpy(record->text, text, COMMAND_TEXT_SIZE - 1);
    record->next = *command_list;
    *command_list = record;
}

void free_commands(command* head) {
    while (head != nullptr) {
        command* next = head->next;
        delete head;
        head = next;
    }
}

const char* config_path() {
    return path_buffer;
}

int read_config_stream(FILE* file, command** cmd) {
    command_list = cmd;
    int line_number = 0;
    while (read_piece(file)) {
        ++line_number;
        if (parse_piece(line_number) != 0) return 1;
    }
    return 0;
}

int read_config(command** cmd) {
    if (*cmd != nullptr) check_failed("*cmd == NULL", __func__, __FILE__, __LINE__);
    switch (form_config_path()) {
    case path_result::NO_VARIABLE:
        return 0;
    case path_result::TOO_LONG:
        set_errorf("Failed to read config: %s", strerror(ENAMETOOLONG));
        return 1;
    case path_result::FORMED:
        break;
    }
    file_handle file(fopen(path_buffer, "r"));
    if (file == nullptr) {
        if (errno == ENOENT) return 0;
        set_errorf("Failed to read config: %s", strerror(errno));
        return 1;
    }
    // Opening a directory for reading succeeds; reading it would then fail
    // and silently leave the key map empty.
    struct stat info {};
    if (fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
        set_errorf("Failed to read config: %s", strerror(EISDIR));
        return 1;
    }
    return read_config_stream(file.get(), cmd);
}

outcome read_config(key_map& map) {
    if (read_config(map.head()) != 0) return outcome::failure(last_error);
    return {};
}
