#include "config/config.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/check.hpp"
#include "base/unique_fd.hpp"

namespace korvel {

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


// "Failed to read config: line N: " and the rest, which shows token where
// it says %.*s.
outcome line_failure(long long number, const char* format, std::string_view token = "") {
    std::string text = "Failed to read config: line " + std::to_string(number) + ": ";
    text += format;
    return outcome::failuref(text.c_str(), shown(token), token.data());
}

// The key a `map` or `bind` line names.
std::optional<key_press> line_key(std::string_view token, long long number, outcome& failure) {
    if (!looks_like_one_key(token)) {
        failure = line_failure(number, "mapping cannot consist of multiple characters: %.*s", token);
        return std::nullopt;
    }
    std::optional<key_press> key = parse_key(token);
    if (!key) failure = line_failure(number, "unknown key %.*s", token);
    return key;
}

struct line_context {
    std::string_view line; // what follows the command word
    long long number;
    config& out;
    const action_check& is_action;
};

outcome map_line(const line_context& c) {
    const std::string_view key_token = first_token(c.line);
    if (key_token.empty()) return line_failure(c.number, "map requires two arguments%.*s");
    outcome failure;
    const std::optional<key_press> key = line_key(key_token, c.number, failure);
    if (!key) return failure;
    const std::string_view first = first_token(after(c.line, key_token));
    if (first.empty()) return line_failure(c.number, "map requires two arguments%.*s");
    // The command runs from its first token to the end of the line; its
    // length counts the newline.
    std::string_view text = c.line.substr(static_cast<size_t>(first.data() - c.line.data()));
    if (text.size() > COMMAND_TEXT_MAX) {
        return outcome::failuref("Failed to read config: line %lld: command length cannot be "
                                 "longer than or equal to %d",
                                 c.number, static_cast<int>(COMMAND_TEXT_MAX + 1));
    }
    if (text.back() == '\n') text.remove_suffix(1);
    c.out.keys.add(*key, text);
    return {};
}

// The settings `set` lines name, each with what "on" and "off" make of it,
// or with what it makes of a text. The command line's long options bear
// the same names.
struct setting_rule {
    const char* name;
    void (*apply)(settings& s, bool on);
    // For a setting that takes a text instead: false when it is not one the
    // setting takes, which complaint then shows at its %.*s.
    bool (*take)(settings& s, std::string_view text) = nullptr;
    const char* complaint = "";
    // The text is the rest of the line, blanks and all, rather than a word.
    bool whole_rest = false;
};

const setting_rule SETTINGS[] = {
    {"fold", [](settings& s, bool on) { s.fold = on; }},
    {"counts", [](settings& s, bool on) { s.counts = on; }},
    {"compact", [](settings& s, bool on) { s.compact = on; }},
    {"ignore-case",
     [](settings& s, bool on) { s.letter_case = on ? case_mode::IGNORE : case_mode::SENSITIVE; }},
    {"smart-case",
     [](settings& s, bool on) { s.letter_case = on ? case_mode::SMART : case_mode::SENSITIVE; }},
    {"cancel-status", [](settings& s, bool on) { s.cancel_status = on; }},
    {"one-file-system", [](settings& s, bool on) { s.one_file_system = on; }},
    {"preview", [](settings& s, bool on) { s.preview = on; }},
    {"preview-window", nullptr,
     [](settings& s, std::string_view text) {
         // A value refused leaves what an earlier line chose.
         const std::optional<pane_place> place = parse_preview_window(text);
         if (place) s.preview_window = place;
         return place.has_value();
     },
     "invalid preview window: %.*s (right or bottom, then :SIZE%% if you like)"},
    {"preview-command", nullptr,
     [](settings& s, std::string_view text) {
         s.preview_command = std::string(text);
         return true;
     },
     "", true},
};

std::optional<bool> boolean(std::string_view word) {
    for (const char* yes : {"on", "true", "yes"})
        if (word == yes) return true;
    for (const char* no : {"off", "false", "no"})
        if (word == no) return false;
    return std::nullopt;
}

outcome set_line(const line_context& c) {
    const std::string_view name = first_token(c.line);
    const std::string_view value = name.empty() ? name : first_token(after(c.line, name));
    const setting_rule* rule = nullptr;
    for (const setting_rule& r : SETTINGS)
        if (name == r.name) rule = &r;
    const bool whole_rest = rule != nullptr && rule->whole_rest;
    if (value.empty() || (!whole_rest && !first_token(after(c.line, value)).empty()))
        return line_failure(c.number, "set requires a name and a value%.*s");
    if (rule == nullptr) return line_failure(c.number, "unknown setting %.*s", name);
    if (rule->take != nullptr) {
        std::string_view text = value;
        if (whole_rest) {
            // Like a mapped command: from its first word to the end of the line.
            text = c.line.substr(static_cast<size_t>(value.data() - c.line.data()));
            if (text.back() == '\n') text.remove_suffix(1);
        }
        if (!rule->take(c.out.chosen, text)) return line_failure(c.number, rule->complaint, value);
        return {};
    }
    const std::optional<bool> on = boolean(value);
    if (!on) return line_failure(c.number, "on or off expected: %.*s", value);
    rule->apply(c.out.chosen, *on);
    return {};
}

outcome bind_line(const line_context& c) {
    const std::string_view key_token = first_token(c.line);
    if (key_token.empty()) return line_failure(c.number, "bind requires a key%.*s");
    outcome failure;
    const std::optional<key_press> key = line_key(key_token, c.number, failure);
    if (!key) return failure;
    const std::string_view name = first_token(after(c.line, key_token));
    if (!name.empty() && !first_token(after(c.line, name)).empty())
        return line_failure(c.number, "bind takes a key and one action%.*s");
    if (!name.empty() && !(c.is_action && c.is_action(name)))
        return line_failure(c.number, "unknown action %.*s", name);
    c.out.rebindings.push_back({*key, std::string(name)});
    return {};
}

// The words that start a line, and what reads the rest of it.
struct line_command {
    std::string_view word;
    outcome (*parse)(const line_context& c);
};

const line_command LINE_COMMANDS[] = {
    {"map", map_line},
    {"set", set_line},
    {"bind", bind_line},
};

// Blank lines and comments pass; every other line starts with the word of
// one of the line commands.
outcome parse_line(std::string_view line, long long number, config& out,
                   const action_check& is_action) {
    // The line is taken as a C string: a NUL byte ends it.
    line = line.substr(0, line.find('\0'));
    const std::string_view word = first_token(line);
    if (word.empty() || word[0] == '"' || word[0] == '#') return {};
    for (const line_command& command : LINE_COMMANDS) {
        if (word == command.word) return command.parse({after(line, word), number, out, is_action});
    }
    return outcome::failuref("Failed to read config: line %lld: unknown command %.*s", number,
                             shown(word), word.data());
}

// The message, then the file it is about: the message reads as it always
// has, and a long path is what gets cut.
outcome naming_file(const outcome& failure, const std::string& path) {
    return outcome::failure(failure.message() + " (in " + path + ")");
}

// Whether every folder on the way to path can be searched: when one cannot,
// the file cannot be told from a missing one.
bool way_is_open(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 || errno != EACCES;
}

bool key_before(const command& c, const key_press& k) {
    return c.key < k;
}

} // namespace

const command* key_map::find(const key_press& key) const {
    const auto at = std::lower_bound(commands_.begin(), commands_.end(), key, key_before);
    return at != commands_.end() && at->key == key ? &*at : nullptr;
}

std::vector<const command*> key_map::bindings() const {
    std::vector<const command*> out;
    for (const command& c : commands_)
        out.push_back(&c);
    return out;
}

void key_map::add(const key_press& key, std::string_view text) {
    text = text.substr(0, std::min(text.find('\0'), COMMAND_TEXT_MAX));
    const auto at = std::lower_bound(commands_.begin(), commands_.end(), key, key_before);
    if (at != commands_.end() && at->key == key) {
        at->text = text;
    } else {
        commands_.insert(at, command{key, std::string(text)});
    }
}

std::optional<pane_place> parse_preview_window(std::string_view text) {
    pane_place place;
    const size_t colon = text.find(':');
    const std::string_view side = text.substr(0, colon);
    if (side == "right") place.side = pane_side::RIGHT;
    else if (side == "bottom") place.side = pane_side::BOTTOM;
    else return std::nullopt;
    if (colon == std::string_view::npos) return place;
    std::string_view size = text.substr(colon + 1);
    if (!size.ends_with('%')) return std::nullopt;
    size.remove_suffix(1);
    if (size.empty() || size.size() > 2 || size.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    place.percent = std::stoi(std::string(size));
    if (place.percent < 1) return std::nullopt;
    return place;
}

void settings::override_with(const settings& other) {
    if (other.fold) fold = other.fold;
    if (other.counts) counts = other.counts;
    if (other.compact) compact = other.compact;
    if (other.letter_case) letter_case = other.letter_case;
    if (other.cancel_status) cancel_status = other.cancel_status;
    if (other.one_file_system) one_file_system = other.one_file_system;
    if (other.preview) preview = other.preview;
    if (other.preview_window) preview_window = other.preview_window;
    if (other.preview_command) preview_command = other.preview_command;
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

outcome read_config_stream(FILE* file, config& out, const action_check& is_action) {
    std::string line;
    long long number = 0;
    while (read_line(file, line)) {
        if (outcome result = parse_line(line, ++number, out, is_action); !result) return result;
    }
    return {};
}

outcome read_config(config& out, const action_check& is_action) {
    KORVEL_CHECK(out.keys.empty());
    const std::string path = config_file_path();
    if (path.empty()) return {};
    if (path.size() > PATH_MAX_LENGTH) {
        return naming_file(outcome::failuref("Failed to read config: %s", strerror(ENAMETOOLONG)),
                           path);
    }
    unique_file file(fopen(path.c_str(), "r"));
    if (file == nullptr) {
        const int error = errno;
        if (error == ENOENT) return {};
        if (error == EACCES && !way_is_open(path)) {
            out.warning = "config not read: " + path + ": " + strerror(EACCES);
            return {};
        }
        return naming_file(outcome::failuref("Failed to read config: %s", strerror(error)), path);
    }
    // Opening a directory for reading succeeds; reading it would then fail
    // and silently leave the key map empty.
    struct stat info {};
    if (fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
        return naming_file(outcome::failuref("Failed to read config: %s", strerror(EISDIR)), path);
    }
    if (outcome read = read_config_stream(file.get(), out, is_action); !read)
        return naming_file(read, path);
    return {};
}

} // namespace korvel
