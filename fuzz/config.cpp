// The configuration parser over arbitrary file contents. The result is
// compared with a plain reading of the same bytes: pieces of at most 191
// bytes ending after a newline, blank-separated tokens, "map", one key byte
// and the rest of the piece as the command. Whatever the outcome, every
// record holds a short command without its newline, and every failure names
// its line.

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config.hpp"
#include "fuzz_check.hpp"
#include "korvel/status.hpp"

namespace {

constexpr size_t PIECE_MAX = 191;

struct binding {
    char key;
    std::string text;
};

struct outcome {
    int result = 0;
    std::vector<binding> bindings; // in file order
    std::string message;
};

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// The next token of text from position at: its start, or npos, and length.
size_t token(const std::string& text, size_t at, size_t* length) {
    while (at < text.size() && blank(text[at]))
        at++;
    if (at == text.size()) return std::string::npos;
    size_t end = at;
    while (end < text.size() && !blank(text[end]))
        end++;
    *length = end - at;
    return at;
}

// The message as the error text holds it: cut to its size.
__attribute__((format(printf, 1, 2))) std::string format_message(const char* format, ...) {
    char buffer[ERROR_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

outcome expected_outcome(const uint8_t* data, size_t size) {
    outcome out;
    int line = 0;
    size_t at = 0;
    while (at < size) {
        size_t end = at;
        while (end < size && end - at < PIECE_MAX) {
            if (data[end++] == '\n') break;
        }
        std::string piece(reinterpret_cast<const char*>(data) + at, end - at);
        at = end;
        line++;
        // The piece is parsed as a C string: a NUL byte ends it early.
        piece.resize(strnlen(piece.c_str(), piece.size()));

        size_t word_length = 0;
        size_t word = token(piece, 0, &word_length);
        if (word == std::string::npos || piece[word] == '"' || piece[word] == '#') continue;
        if (piece.compare(word, word_length, "map") != 0) {
            out.result = 1;
            out.message = format_message("Failed to read config: line %d: unknown command %.*s",
                                         line, static_cast<int>(word_length), &piece[word]);
            return out;
        }
        size_t key_length = 0;
        size_t key = token(piece, word + word_length, &key_length);
        size_t text_length = 0;
        size_t text = key == std::string::npos ? std::string::npos
                                               : token(piece, key + key_length, &text_length);
        if (key != std::string::npos && key_length > 1) {
            out.result = 1;
            out.message = format_message(
                "Failed to read config: line %d: mapping cannot consist of multiple characters: "
                "%.*s",
                line, static_cast<int>(key_length), &piece[key]);
            return out;
        }
        if (text == std::string::npos) {
            out.result = 1;
            out.message =
                format_message("Failed to read config: line %d: map requires two arguments", line);
            return out;
        }
        std::string command = piece.substr(text);
        if (command.size() >= COMMAND_TEXT_SIZE) {
            out.result = 1;
            out.message = format_message("Failed to read config: line %d: command length cannot "
                                         "be longer than or equal to %d",
                                         line, COMMAND_TEXT_SIZE);
            return out;
        }
        if (command.back() == '\n') command.pop_back();
        out.bindings.push_back({piece[key], command});
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string contents(reinterpret_cast<const char*>(data), size);
    FILE* file = fmemopen(contents.data(), contents.size(), "r");
    FUZZ_CHECK(file != nullptr);
    error_text[0] = '\0';
    command* head = nullptr;
    int result = read_config_stream(file, &head);
    fclose(file);

    FUZZ_CHECK(result == 0 || result == 1);
    if (result == 1) FUZZ_CHECK(strncmp(get_error(), "Failed to read config: line ", 28) == 0);

    // The list holds the bindings in reverse file order.
    std::vector<binding> found;
    for (const command* record = head; record != nullptr; record = record->next) {
        size_t length = strnlen(record->text, COMMAND_TEXT_SIZE);
        FUZZ_CHECK(length < COMMAND_TEXT_SIZE);
        FUZZ_CHECK(length > 0 && !blank(record->text[0]));
        FUZZ_CHECK(record->text[length - 1] != '\n');
        FUZZ_CHECK(record->key != '\0' && !blank(record->key));
        found.insert(found.begin(), {record->key, std::string(record->text, length)});
    }

    outcome expected = expected_outcome(data, size);
    FUZZ_CHECK(result == expected.result);
    if (result == 1) FUZZ_CHECK(expected.message == get_error());
    FUZZ_CHECK(found.size() == expected.bindings.size());
    for (size_t k = 0; k < found.size(); k++) {
        FUZZ_CHECK(found[k].key == expected.bindings[k].key);
        FUZZ_CHECK(found[k].text == expected.bindings[k].text);
    }

    free_commands(head);
    return 0;
}
