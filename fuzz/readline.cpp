// The line editor driven by arbitrary key sequences. Each input byte is one
// operation (byte % 9); an insertion takes the byte after it as the
// character. After every operation the editor's own structure is checked
// (positions, terminators, the links of the history list) and its texts are
// compared with a plain model of the history kept in a vector.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "readline.hpp"

namespace {

// The history as the editor should hold it: oldest first, newest last.
struct model {
    std::vector<std::string> lines{std::string()};
    size_t current = 0;
    int32_t pos = 0;

    std::string& line() { return lines[current]; }
    size_t newest() const { return lines.size() - 1; }

    void apply(int32_t op, char byte) {
        auto length = static_cast<int32_t>(line().size());
        switch (op) {
        case RL_LEFT:
            if (pos > 0) pos--;
            break;
        case RL_RIGHT:
            if (pos < length) pos++;
            break;
        case RL_OLDER:
            if (current > 0) {
                current--;
                pos = static_cast<int32_t>(line().size());
            }
            break;
        case RL_NEWER:
            if (current < newest()) {
                current++;
                pos = static_cast<int32_t>(line().size());
            }
            break;
        case RL_INSERT:
            if (length < RL_LINE_MAX) {
                line().insert(static_cast<size_t>(pos), 1, byte);
                pos++;
            }
            break;
        case RL_DELETE:
            if (pos < length) line().erase(static_cast<size_t>(pos), 1);
            break;
        case RL_BACKSPACE:
            if (pos > 0) {
                line().erase(static_cast<size_t>(pos - 1), 1);
                pos--;
            }
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
        default:
            abort();
        }
    }
};

void check_editor(const readline& rl, const model& expected, int32_t op) {
    FUZZ_CHECK(rl.newest != nullptr && rl.current != nullptr);
    FUZZ_CHECK(rl.newest->newer == nullptr);
    FUZZ_CHECK(rl.pos >= 0 && rl.pos <= rl.current->length);

    // Walk from the newest line to the oldest; a broken or cyclic list shows
    // up as a mismatch with the model before the walk can run away.
    std::vector<const rl_line*> walked;
    for (const rl_line* line = rl.newest; line != nullptr; line = line->older) {
        FUZZ_CHECK(walked.size() < expected.lines.size());
        FUZZ_CHECK(line->length >= 0 && line->length <= RL_LINE_MAX);
        FUZZ_CHECK(line->buf[line->length] == '\0');
        if (line->older != nullptr) FUZZ_CHECK(line->older->newer == line);
        walked.push_back(line);
    }
    FUZZ_CHECK(walked.size() == expected.lines.size());

    bool current_found = false;
    for (size_t k = 0; k < walked.size(); k++) {
        const rl_line* line = walked[walked.size() - 1 - k];
        FUZZ_CHECK(std::string(line->buf, static_cast<size_t>(line->length)) == expected.lines[k]);
        if (line == rl.current) {
            FUZZ_CHECK(k == expected.current);
            current_found = true;
        }
    }
    FUZZ_CHECK(current_found);
    FUZZ_CHECK(rl.pos == expected.pos);

    if (op == RL_SUBMIT || op == RL_CANCEL) {
        FUZZ_CHECK(rl.current == rl.newest);
        FUZZ_CHECK(rl.pos == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readline rl{};
    init_readline(&rl);
    model expected;
    check_editor(rl, expected, RL_CANCEL);
    for (size_t k = 0; k < size; k++) {
        rl_edit edit{data[k] % 9, '\0'};
        if (edit.op == RL_INSERT) {
            if (++k == size) break;
            edit.byte = static_cast<char>(data[k]);
        }
        readline_edit(&rl, edit);
        expected.apply(edit.op, edit.byte);
        check_editor(rl, expected, edit.op);
    }
    free_readline(&rl);
    return 0;
}
