#include "config.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "check.hpp"
#include "unique_fd.hpp"

namespace {

// The longest path read_config opens, as the buffer it was once formed in
// allowed; a longer one fails with ENAMETOOLONG rather than being cut.
constexpr size_t PATH_MAX_LENGTH = 1023;

constexpr std::string_view BLANKS = " \t\n";

// The first blank-separated token of text; empty when only blanks remain.
std::string_view first_token(std::string_view text) {
    const size_t start = text.find_first_not_of(BLANKS);
    if (start == std::string_view::npos) return {};
    text.remove_prefix(start);
    return text.substr(0, text.find_first_of(BLANKS));
}

// What follows token, which lies inside text.
std::string_view after(std::string_view text, std::string_view token) {
    return text.substr(static_cast<size_t>(token.data() - text.data()) + token.size());
}

// The precision for printing a token of any length: messages are cut to
// outcome::MESSAGE_MAX bytes anyway.
int shown(std::string_view token) {
    return static_cast<int>(std::min(token.size(), outcome::MESSAGE_MAX));
}

// Reads the next line into line, its newline included. A CR before the
// newline is part of the line end, so a file saved with CR LF ends reads
// like one with LF ends. Reads cut short by a signal are repeated. False
// when the file ended or failed before a byte of a new line.
bool read_line(FILE* file, std::string& line) {
    line.clear();
    for (;;) {
        const int c = getc(file);
        if (c == EOF) {
            if (!feof(file) && ferror(file) && errno == EINTR) {
                clearerr(file);
                continue;
            }
            // A failed read drops the partial line, as fgets would.
            if (!feof(file)) line.clear();
            break;
        }
        if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
        line += static_cast<char>(c);
        if (c == '\n') break;
    }
    return !line.empty();
}

// Blank lines and comments pass; a "map" line adds its binding.
outcome parse_line(std::string_view line, long long number, key_map& map) {
    // The line is taken as a C string: a NUL byte ends it.
    line = line.substr(0, line.find('\0'));
    const std::string_view word = first_token(line);
    if (word.empty() || word[0] == '"' || word[0] == '#') return {};
    if (word != "map") {
        return outcome::failuref("Failed to read config: line %lld: unknown command %.*s", number,
                                 shown(word), word.data());
    }
    const std::string_view key = first_token(after(line, word));
    if (key.empty()) {
        return outcome::failuref("Failed to read config: line %lld: map requires two arguments",
                                 number);
    }
    if (key.size() > 1) {
        return outcome::failuref("Failed to read config: line %lld: mapping cannot consist of "
                                 "multiple characters: %.*s",
                                 number, shown(key), key.data());
    }
    const std::string_view first = first_token(after(line, key));
    if (first.empty()) {
        return outcome::failuref("Failed to read config: line %lld: map requires two arguments",
                                 number);
    }
    // The command runs from its first token to the end of the line; its
    // length counts the newline.
    std::string_view text = line.substr(static_cast<size_t>(first.data() - line.data()));
    if (text.size() > COMMAND_TEXT_MAX) {
        return outcome::failuref("Failed to read config: line %lld: command length cannot be "
                                 "longer than or equal to %d",
                                 number, static_cast<int>(COMMAND_TEXT_MAX + 1));
    }
    if (text.back() == '\n') text.remove_suffix(1);
    map.add(key[0], text);
    return {};
}

// Keys compare as the unsigned bytes they are.
bool key_before(char a, char b) {
    return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
}

} // namespace

const command* key_map::find(uint32_t ch) const {
    if (ch == 0) return nullptr;
    for (const command& c : commands_) {
        if (static_cast<int64_t>(static_cast<signed char>(c.key)) == static_cast<int64_t>(ch)) {
            return &c;
        }
    }
    return nullptr;
}

std::vector<const command*> key_map::bindings() const {
    std::vector<const command*> out;
    for (const command& c : commands_) {
        if (static_cast<signed char>(c.key) > 0) out.push_back(&c);
    }
    return out;
}

void key_map::add(char key, std::string_view text) {
    text = text.substr(0, std::min(text.find('\0'), COMMAND_TEXT_MAX));
    const auto at = std::lower_bound(commands_.begin(), commands_.end(), key,
                                     [](const command& c, char k) { return key_before(c.key, k); });
    if (at != commands_.end() && at->key == key) {
        at->text = text;
    } else {
        commands_.insert(at, command{key, std::string(text)});
    }
}

std::string config_file_path() {
    // XDG_CONFIG_PATH counts even when empty, as it always has; an empty
    // XDG_CONFIG_HOME counts as unset, as the XDG convention has it.
    if (const char* path = getenv("XDG_CONFIG_PATH")) return std::string(path) + "/korvel/config";
    if (const char* home = getenv("XDG_CONFIG_HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/korvel/config";
    }
    if (const char* home = getenv("HOME")) return std::string(home) + "/.config/korvel/config";
    return {};
}

outcome read_config_stream(FILE* file, key_map& map) {
    std::string line;
    long long number = 0;
    while (read_line(file, line)) {
        if (outcome result = parse_line(line, ++number, map); !result) return result;
    }
    return {};
}

outcome read_config(key_map& map) {
    KORVEL_CHECK(map.empty());
    const std::string path = config_file_path();
    if (path.empty()) return {};
    if (path.size() > PATH_MAX_LENGTH) {
        return outcome::failuref("Failed to read config: %s", strerror(ENAMETOOLONG));
    }
    unique_file file(fopen(path.c_str(), "r"));
    if (file == nullptr) {
        if (errno == ENOENT) return {};
        return outcome::failuref("Failed to read config: %s", strerror(errno));
    }
    // Opening a directory for reading succeeds; reading it would then fail
    // and silently leave the key map empty.
    struct stat info {};
    if (fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
        return outcome::failuref("Failed to read config: %s", strerror(EISDIR));
    }
    return read_config_stream(file.get(), map);
}
