// The configuration parser over arbitrary file contents. Lines are read
// on their own: the whole file must say what its lines say one by one, in
// order (every line before the first failing one accepted, that one failing
// with the same message under its own number, the later ones unread), and
// each accepted `map` line binds the key its second token names to the
// rest of the line. Whatever the outcome, every binding holds a short
// command without its newline, its key written and read back is itself,
// and find agrees with the bindings.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.hpp"
#include "fuzz_check.hpp"

using namespace korvel;

namespace {

// A few action names for `bind` lines; the seeds use them.
bool is_action(std::string_view name) {
    return name == "cursor-down" || name == "cursor-up" || name == "quit";
}

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// The blank-separated token of line from at on: its start, or npos.
size_t token(std::string_view line, size_t at, size_t* length) {
    while (at < line.size() && blank(line[at]))
        at++;
    if (at == line.size()) return std::string_view::npos;
    size_t end = at;
    while (end < line.size() && !blank(line[end]))
        end++;
    *length = end - at;
    return at;
}

outcome read_text(const std::string& text, config& out) {
    std::string copy = text; // fmemopen wants a writable buffer, even to read
    FILE* file = fmemopen(copy.data(), copy.size(), "r");
    FUZZ_CHECK(file != nullptr);
    const outcome result = read_config_stream(file, out, is_action);
    fclose(file);
    return result;
}

// The file's lines, each with its newline; a CR before one stays, as the
// parser is to drop it itself.
std::vector<std::string> lines_of(const uint8_t* data, size_t size) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < size) {
        size_t end = at;
        while (end < size && data[end] != '\n')
            end++;
        if (end < size) end++;
        lines.emplace_back(reinterpret_cast<const char*>(data) + at, end - at);
        at = end;
    }
    return lines;
}

// A message with "line N: " is the same as one with "line 1: " but for the
// number; both are cut to the same size, so compare what both still hold.
void check_same_failure(const std::string& whole, const std::string& alone, size_t number) {
    const std::string head = "Failed to read config: line ";
    const std::string whole_head = head + std::to_string(number) + ": ";
    const std::string alone_head = head + "1: ";
    FUZZ_CHECK(whole.compare(0, whole_head.size(), whole_head) == 0);
    FUZZ_CHECK(alone.compare(0, alone_head.size(), alone_head) == 0);
    const std::string_view whole_rest = std::string_view(whole).substr(whole_head.size());
    const std::string_view alone_rest = std::string_view(alone).substr(alone_head.size());
    const size_t common = std::min(whole_rest.size(), alone_rest.size());
    FUZZ_CHECK(whole_rest.substr(0, common) == alone_rest.substr(0, common));
    FUZZ_CHECK(whole_rest.size() == alone_rest.size() || whole.size() == outcome::MESSAGE_MAX ||
               alone.size() == outcome::MESSAGE_MAX);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    config whole;
    const outcome result = read_text(std::string(reinterpret_cast<const char*>(data), size), whole);
    FUZZ_CHECK(result.ok() == result.message().empty());

    // The file again, a line at a time, each into a fresh config, folded
    // together as the file's own lines would be.
    std::map<key_press, std::string> bound; // the last accepted map line's
    settings chosen;
    std::vector<key_rebinding> rebindings;
    bool failed = false;
    const std::vector<std::string> lines = lines_of(data, size);
    for (size_t i = 0; i < lines.size() && !failed; i++) {
        config alone;
        const outcome one = read_text(lines[i], alone);
        if (!one) {
            FUZZ_CHECK(!result);
            check_same_failure(result.message(), one.message(), i + 1);
            failed = true;
            break;
        }
        for (const command* c : alone.keys.bindings())
            bound[c->key] = c->text;
        chosen.override_with(alone.chosen);
        rebindings.insert(rebindings.end(), alone.rebindings.begin(), alone.rebindings.end());
        FUZZ_CHECK(alone.warning.empty());

        // An accepted map line binds its key to the rest of the line, the
        // command's leading blanks and the line end not included.
        std::string_view line(lines[i]);
        line = line.substr(0, line.find('\0'));
        size_t word_length = 0;
        const size_t word = token(line, 0, &word_length);
        if (word == std::string_view::npos || line.substr(word, word_length) != "map") {
            FUZZ_CHECK(alone.keys.empty());
            continue;
        }
        size_t key_length = 0;
        const size_t key = token(line, word + word_length, &key_length);
        FUZZ_CHECK(key != std::string_view::npos);
        size_t text_length = 0;
        const size_t text = token(line, key + key_length, &text_length);
        FUZZ_CHECK(text != std::string_view::npos);
        std::string_view expected = line.substr(text);
        if (expected.size() >= 2 && expected.substr(expected.size() - 2) == "\r\n")
            expected.remove_suffix(2);
        else if (expected.back() == '\n')
            expected.remove_suffix(1);
        const std::optional<key_press> k = parse_key(line.substr(key, key_length));
        FUZZ_CHECK(k.has_value());
        const std::vector<const command*> one_binding = alone.keys.bindings();
        FUZZ_CHECK(one_binding.size() == 1);
        FUZZ_CHECK(one_binding[0]->key == *k);
        FUZZ_CHECK(one_binding[0]->text == expected);
    }
    FUZZ_CHECK(failed == !result.ok());

    // What the lines said, in order, is what the file said.
    const std::vector<const command*> bindings = whole.keys.bindings();
    FUZZ_CHECK(bindings.size() == bound.size());
    auto next = bound.begin();
    for (const command* found : bindings) {
        FUZZ_CHECK(found->key == next->first && found->text == next->second);
        FUZZ_CHECK(found->text.size() <= COMMAND_TEXT_MAX);
        FUZZ_CHECK(!found->text.empty() && !blank(found->text[0]));
        FUZZ_CHECK(found->text.back() != '\n');
        FUZZ_CHECK(found->text.find('\0') == std::string::npos);
        FUZZ_CHECK(parse_key(key_notation(found->key)) == found->key);
        FUZZ_CHECK(whole.keys.find(found->key) == found);
        ++next;
    }
    FUZZ_CHECK(whole.chosen == chosen);
    FUZZ_CHECK(whole.rebindings.size() == rebindings.size());
    for (size_t i = 0; i < rebindings.size(); i++) {
        FUZZ_CHECK(whole.rebindings[i].key == rebindings[i].key);
        FUZZ_CHECK(whole.rebindings[i].action == rebindings[i].action);
        FUZZ_CHECK(rebindings[i].action.empty() || is_action(rebindings[i].action));
        FUZZ_CHECK(parse_key(key_notation(rebindings[i].key)) == rebindings[i].key);
    }
    return 0;
}
