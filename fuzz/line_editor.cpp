// The line editor driven by arbitrary key sequences. Each input byte is one
// operation (byte % 15): the editor's fourteen, and a fifteenth that plants
// bytes no key can type. An insertion takes its character from the bytes
// after it: one byte below 0x80 is that character, any other byte starts a
// 3-byte code point (anything up to 0x7FFFFF, so surrogates and values past
// U+10FFFF come up too). A planting takes a length byte and that many bytes.
// After every operation the editor is compared with a plain model of the
// history kept in a vector of strings.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/line_editor.hpp"
#include "fuzz_check.hpp"
#include "line_editor_probe.hpp"

using namespace korvel;

constexpr int32_t OP_PLANT = RL_DELETE_TO_END + 1;
constexpr int32_t OP_COUNT = OP_PLANT + 1;

namespace {

// The length of the UTF-8 sequence at text[at], or 1 when none starts there,
// decoded the long way round: the value, then the shortest form of it.
size_t char_length(const std::string& text, size_t at) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[at + k]); };
    size_t length = 1;
    if (byte(0) >= 0xC0 && byte(0) < 0xE0) length = 2;
    if (byte(0) >= 0xE0 && byte(0) < 0xF0) length = 3;
    if (byte(0) >= 0xF0 && byte(0) < 0xF8) length = 4;
    if (length == 1 || at + length > text.size()) return 1;
    uint32_t value = byte(0) & (0x7F >> length);
    for (size_t k = 1; k < length; k++) {
        if ((byte(k) & 0xC0) != 0x80) return 1;
        value = value << 6 | (byte(k) & 0x3F);
    }
    const size_t shortest = value < 0x80 ? 1 : value < 0x800 ? 2 : value < 0x10000 ? 3 : 4;
    if (shortest != length || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return 1;
    return length;
}

// Every character boundary of text, 0 and its end included.
std::vector<size_t> boundaries(const std::string& text) {
    std::vector<size_t> out{0};
    while (out.back() < text.size())
        out.push_back(out.back() + char_length(text, out.back()));
    return out;
}

std::string encode(uint32_t c) {
    std::string out;
    if (c == 0 || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

bool blank(char c) {
    return c == ' ' || c == '\t';
}

// The history as the editor should hold it: oldest first, newest last.
struct model {
    std::vector<std::string> lines{std::string()};
    size_t current = 0;
    size_t pos = 0;

    std::string& line() { return lines[current]; }
    size_t newest() const { return lines.size() - 1; }

    // Removes [from, to); the position goes to from, or to the start of the
    // character that the bytes on either side have joined into.
    void erase(size_t from, size_t to) {
        line().erase(from, to - from);
        pos = from;
        const std::vector<size_t> b = boundaries(line());
        pos = *(std::upper_bound(b.begin(), b.end(), pos) - 1);
    }

    void apply(int32_t op, uint32_t ch, const std::string& planted) {
        const std::vector<size_t> b = boundaries(line());
        const auto at = std::find(b.begin(), b.end(), pos);
        FUZZ_CHECK(at != b.end());
        switch (op) {
        case RL_LEFT:
            if (pos > 0) pos = *(at - 1);
            break;
        case RL_RIGHT:
            if (pos < line().size()) pos = *(at + 1);
            break;
        case RL_OLDER:
            if (current > 0) {
                current--;
                pos = line().size();
            }
            break;
        case RL_NEWER:
            if (current < newest()) {
                current++;
                pos = line().size();
            }
            break;
        case RL_INSERT: {
            const std::string bytes = encode(ch);
            if (!bytes.empty() && line().size() + bytes.size() <= RL_LINE_MAX) {
                line().insert(pos, bytes);
                pos += bytes.size();
            }
            break;
        }
        case RL_DELETE:
            if (pos < line().size()) erase(pos, *(at + 1));
            break;
        case RL_BACKSPACE:
            if (pos > 0) erase(*(at - 1), pos);
            break;
        case RL_SUBMIT:
            pos = 0;
            if (current == newest()) {
                if (!line().empty()) {
                    lines.emplace_back();
                    current = newest();
                }
            } else {
                std::string recalled = line();
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(current));
                if (!recalled.empty())
                    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(newest()), recalled);
                current = newest();
            }
            break;
        case RL_CANCEL:
            pos = 0;
            current = newest();
            line().clear();
            break;
        case RL_START:
            pos = 0;
            break;
        case RL_END:
            pos = line().size();
            break;
        case RL_DELETE_TO_START:
            erase(0, pos);
            break;
        case RL_DELETE_WORD: {
            size_t start = pos;
            while (start > 0 && blank(line()[start - 1]))
                start--;
            while (start > 0 && !blank(line()[start - 1]))
                start--;
            erase(start, pos);
            break;
        }
        case RL_DELETE_TO_END:
            erase(pos, line().size());
            break;
        case OP_PLANT:
            line() = planted;
            pos = planted.size();
            break;
        default:
            abort();
        }
    }
};

void check_editor(const line_editor& rl, const model& expected, int32_t op) {
    const std::vector<std::string_view> lines = line_editor_probe::lines(rl);
    FUZZ_CHECK(lines.size() == expected.lines.size());
    for (size_t k = 0; k < lines.size(); k++)
        FUZZ_CHECK(lines[k] == expected.lines[k]);
    FUZZ_CHECK(line_editor_probe::current_line(rl) == expected.current);
    FUZZ_CHECK(rl.text().data() == lines[line_editor_probe::current_line(rl)].data());
    FUZZ_CHECK(rl.text().data()[rl.text().size()] == '\0');
    FUZZ_CHECK(rl.text().size() <= RL_LINE_MAX);
    FUZZ_CHECK(rl.pos() >= 0 && static_cast<size_t>(rl.pos()) == expected.pos);

    if (op == RL_SUBMIT || op == RL_CANCEL) {
        FUZZ_CHECK(line_editor_probe::current_line(rl) == lines.size() - 1);
        FUZZ_CHECK(rl.pos() == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    line_editor rl;
    model expected;
    check_editor(rl, expected, RL_CANCEL);
    size_t k = 0;
    const auto next = [&](uint8_t* byte) {
        if (k == size) return false;
        *byte = data[k++];
        return true;
    };
    uint8_t byte = 0;
    while (next(&byte)) {
        const int32_t op = byte % OP_COUNT;
        uint32_t ch = 0;
        std::string planted;
        if (op == RL_INSERT) {
            if (!next(&byte)) break;
            ch = byte;
            if (byte >= 0x80) {
                uint8_t middle = 0, low = 0;
                if (!next(&middle) || !next(&low)) break;
                ch = (byte & 0x7Fu) << 16 | static_cast<uint32_t>(middle) << 8 | low;
            }
        } else if (op == OP_PLANT) {
            if (!next(&byte)) break;
            const size_t length = byte % (RL_LINE_MAX + 1);
            while (planted.size() < length && next(&byte))
                if (byte != 0) planted += static_cast<char>(byte);
        }
        if (op == OP_PLANT) {
            line_editor_probe::plant(rl, planted);
        } else {
            rl.edit({op, ch});
        }
        expected.apply(op, ch, planted);
        check_editor(rl, expected, op);
    }
    return 0;
}
