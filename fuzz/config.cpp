// The configuration parser over arbitrary file contents. The result is
// compared with a plain reading of the same bytes: lines of any length
// ending after a newline (a CR just before it belongs to the line end),
// blank-separated tokens, "map", one key byte and
// the rest of the line as the command, the last binding of a key winning.
// Whatever the outcome, every binding holds a short command without its
// newline, find agrees with the bindings, and every failure names its line.

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "config.hpp"
#include "fuzz_check.hpp"

namespace {

struct expectation {
    bool ok = true;
    std::map<unsigned char, std::string> bindings; // the last one of each key
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

// The message as an outcome keeps it: cut to its size.
__attribute__((format(printf, 1, 2))) std::string format_message(const char* format, ...) {
    char buffer[outcome::MESSAGE_MAX + 1];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

expectation expected_outcome(const uint8_t* data, size_t size) {
    expectation out;
    int number = 0;
    size_t at = 0;
    const auto fail = [&](std::string message) {
        out.ok = false;
        out.message = std::move(message);
        return out;
    };
    while (at < size) {
        size_t end = at;
        while (end < size) {
            if (data[end++] == '\n') break;
        }
        std::string line(reinterpret_cast<const char*>(data) + at, end - at);
        at = end;
        number++;
        if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
            line.erase(line.size() - 2, 1);
        }
        // The line is parsed as a C string: a NUL byte ends it early.
        line.resize(strnlen(line.c_str(), line.size()));

        size_t word_length = 0;
        size_t word = token(line, 0, &word_length);
        if (word == std::string::npos || line[word] == '"' || line[word] == '#') continue;
        // Messages show at most a whole message's worth of a token.
        const auto shown = [](size_t length) {
            return static_cast<int>(std::min<size_t>(length, 255));
        };
        if (line.compare(word, word_length, "map") != 0) {
            return fail(format_message("Failed to read config: line %d: unknown command %.*s",
                                       number, shown(word_length), &line[word]));
        }
        size_t key_length = 0;
        size_t key = token(line, word + word_length, &key_length);
        size_t text_length = 0;
        size_t text = key == std::string::npos ? std::string::npos
                                               : token(line, key + key_length, &text_length);
        if (key != std::string::npos && key_length > 1) {
            return fail(format_message(
                "Failed to read config: line %d: mapping cannot consist of multiple characters: "
                "%.*s",
                number, shown(key_length), &line[key]));
        }
        if (text == std::string::npos) {
            return fail(format_message("Failed to read config: line %d: map requires two arguments",
                                       number));
        }
        std::string command = line.substr(text);
        if (command.size() >= 128) {
            return fail(format_message("Failed to read config: line %d: command length cannot "
                                       "be longer than or equal to %d",
                                       number, 128));
        }
        if (command.back() == '\n') command.pop_back();
        out.bindings[static_cast<unsigned char>(line[key])] = command;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string contents(reinterpret_cast<const char*>(data), size);
    FILE* file = fmemopen(contents.data(), contents.size(), "r");
    FUZZ_CHECK(file != nullptr);
    key_map map;
    const outcome result = read_config_stream(file, map);
    fclose(file);

    if (!result.ok()) {
        FUZZ_CHECK(result.message().compare(0, 28, "Failed to read config: line ") == 0);
    } else {
        FUZZ_CHECK(result.message().empty());
    }

    const expectation expected = expected_outcome(data, size);
    FUZZ_CHECK(result.ok() == expected.ok);
    FUZZ_CHECK(result.message() == expected.message);
    FUZZ_CHECK(map.empty() == expected.bindings.empty());

    // Only keys 1 to 0x7F can be typed, so only they are in force.
    auto in_force = expected.bindings.begin();
    while (in_force != expected.bindings.end() && in_force->first == 0)
        ++in_force;
    for (const command* found : map.bindings()) {
        FUZZ_CHECK(found->text.size() <= COMMAND_TEXT_MAX);
        FUZZ_CHECK(!found->text.empty() && !blank(found->text[0]));
        FUZZ_CHECK(found->text.back() != '\n');
        FUZZ_CHECK(found->text.find('\0') == std::string::npos);
        FUZZ_CHECK(found->key != '\0' && !blank(found->key));
        FUZZ_CHECK(in_force != expected.bindings.end() && in_force->first < 0x80);
        FUZZ_CHECK(static_cast<unsigned char>(found->key) == in_force->first);
        FUZZ_CHECK(found->text == in_force->second);
        ++in_force;
    }
    FUZZ_CHECK(in_force == expected.bindings.end() || in_force->first >= 0x80);

    for (uint32_t ch = 0; ch < 0x100; ch++) {
        const command* found = map.find(ch);
        const auto bound = expected.bindings.find(static_cast<unsigned char>(ch));
        if (ch == 0 || ch >= 0x80 || bound == expected.bindings.end()) {
            FUZZ_CHECK(found == nullptr);
        } else {
            FUZZ_CHECK(found != nullptr && found->text == bound->second);
        }
    }
    return 0;
}
