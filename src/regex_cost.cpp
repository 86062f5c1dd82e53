#include "regex_cost.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// What makes the compile slow, each with the limit that keeps it well under
// a tenth of a second on the C library's compiler (measured over patterns of
// every shape): optional copies (their work grows with their square, and
// each '+' doubles what it follows), pieces in all, copies of a part that can
// match nothing (`((a*)+){1,100}`, worse after an assertion: `^a*+++++`),
// copies of an assertion and the levels of repetition around it
// (`(\b){1,40}`, `(\b)++*`, `(^)+++++`).
constexpr uint64_t OPTIONAL_PIECES_MAX = 1000;
constexpr uint64_t PIECES_MAX = 32000;
constexpr uint64_t EMPTY_LOOP_COPIES_MAX = 8;
constexpr uint64_t ASSERTION_COPIES_MAX = 8;
constexpr uint64_t ASSERTION_REPEATS_MAX = 2;
// POSIX leaves adjacent duplication symbols undefined; two are let through,
// so that `c++` is still a pattern, and an interval never follows another.
constexpr int ADJACENT_DUPLICATIONS_MAX = 2;

constexpr uint64_t CAP = uint64_t{1} << 40;
uint64_t add(uint64_t a, uint64_t b) { return std::min(a + b, CAP); }
uint64_t times(uint64_t a, uint64_t b) { return a != 0 && b > CAP / a ? CAP : std::min(a * b, CAP); }

// What a part of a pattern costs to compile once written out.
struct pattern_cost {
    uint64_t required = 0;          // pieces every copy of the part holds
    uint64_t optional = 0;          // pieces of copies that may be left out
    uint64_t empty_loop_copies = 0; // copies made of a part that can match nothing
    uint64_t assertion_copies = 0;  // copies of its most-repeated assertion
    uint64_t assertion_repeats = 0; // repetitions around an assertion, nested or in a row
    bool matches_empty = false;

    // This part followed by the next, or beside it as another alternative:
    // the same cost either way.
    void add_cost(const pattern_cost& next) {
        required = add(required, next.required);
        optional = add(optional, next.optional);
        empty_loop_copies = std::max(empty_loop_copies, next.empty_loop_copies);
        assertion_copies = std::max(assertion_copies, next.assertion_copies);
        assertion_repeats = std::max(assertion_repeats, next.assertion_repeats);
    }
    // At least `least` copies, at most `most`; most == least + 1 for an
    // unbounded repetition, whose last copy is the starred one.
    void repeat(uint64_t least, uint64_t most) {
        optional = add(times(least, optional), times(most - least, add(required, optional)));
        required = times(least, required);
        if (matches_empty) empty_loop_copies = times(std::max<uint64_t>(empty_loop_copies, 1), most);
        if (assertion_copies != 0) ++assertion_repeats;
        assertion_copies = times(assertion_copies, most);
        matches_empty = matches_empty || least == 0;
    }
    bool too_costly() const {
        return optional > OPTIONAL_PIECES_MAX || add(required, optional) > PIECES_MAX ||
               empty_loop_copies > EMPTY_LOOP_COPIES_MAX || assertion_copies > ASSERTION_COPIES_MAX ||
               assertion_repeats > ASSERTION_REPEATS_MAX;
    }
};

// Where a bracket expression that starts at pattern[at] ends, one past ']';
// the pattern's size when it never ends (regcomp says what is wrong).
size_t bracket_end(std::string_view pattern, size_t at) {
    size_t i = at + 1;
    if (i < pattern.size() && pattern[i] == '^') ++i;
    if (i < pattern.size() && pattern[i] == ']') ++i;
    while (i < pattern.size() && pattern[i] != ']') {
        if (pattern[i] == '[' && i + 1 < pattern.size() &&
            (pattern[i + 1] == ':' || pattern[i + 1] == '=' || pattern[i + 1] == '.')) {
            const char closing[] = {pattern[i + 1], ']', '\0'};
            const size_t end = pattern.find(closing, i + 2);
            if (end == std::string_view::npos) return pattern.size();
            i = end + 2;
        } else {
            ++i;
        }
    }
    return std::min(i + 1, pattern.size());
}

// The bounds of an interval {m}, {m,}, {m,n} or {,n} at pattern[at], as
// least and most copies (most = least + 1 when unbounded), and where it
// ends; false when the C library would not read one there.
bool interval_at(std::string_view pattern, size_t at, uint64_t& least, uint64_t& most, size_t& end) {
    size_t i = at + 1;
    // Inside the braces the C library reads an escaped character as the
    // character itself: `{\1\,9}` is {1,9}.
    auto peek = [&]() -> char {
        if (i < pattern.size() && pattern[i] == '\\' && i + 1 < pattern.size()) return pattern[i + 1];
        return i < pattern.size() ? pattern[i] : '\0';
    };
    auto next = [&] { i += i < pattern.size() && pattern[i] == '\\' && i + 1 < pattern.size() ? 2 : 1; };
    // Every digit counts, leading zeros too.
    auto number = [&](uint64_t& value) {
        bool any = false;
        value = 0;
        for (char c; (c = peek()) >= '0' && c <= '9'; next()) {
            value = std::min(value * 10 + static_cast<uint64_t>(c - '0'), CAP);
            any = true;
        }
        return any;
    };
    uint64_t high = 0;
    // A missing lower bound is 0.
    if (!number(least) && peek() != ',') return false;
    high = least;
    bool bounded = true;
    if (peek() == ',') {
        next();
        bounded = number(high);
    }
    if (i >= pattern.size() || peek() != '}') return false;
    // An upper bound below the lower one is an error the compiler finds at once.
    if (bounded && high < least) return false;
    most = bounded ? high : add(least, 1);
    next();
    end = i;
    return true;
}

// An escaped character that the C library takes for an assertion.
bool is_escaped_assertion(char c) {
    return c == 'b' || c == 'B' || c == '<' || c == '>' || c == '`' || c == '\'';
}

} // namespace

bool too_costly_to_compile(std::string_view pattern) {
    // A group being read: the alternatives before this one, and this one's
    // items, the last of which a duplication symbol repeats.
    struct group {
        pattern_cost done;         // every piece before the last item
        pattern_cost last;
        int repeats = 0;           // duplication symbols applied to `last` in a row
        bool items_empty = true;   // the items before `last` can all match nothing
        bool some_alternative_empty = false;

        void add_item(const pattern_cost& item) {
            done.add_cost(last);
            items_empty = items_empty && last.matches_empty;
            last = item;
            repeats = 0;
        }
        bool alternative_empty() const { return items_empty && last.matches_empty; }
        // The group as one item, with a piece for itself.
        pattern_cost closed() const {
            pattern_cost whole = done;
            whole.add_cost(last);
            whole.required = add(whole.required, 1);
            whole.matches_empty = some_alternative_empty || alternative_empty();
            return whole;
        }
    };
    std::vector<group> open(1);
    // A group with no item yet can match nothing.
    open.back().last.matches_empty = true;
    const pattern_cost atom{1, 0, 0, 0, 0, false};
    const pattern_cost assertion{1, 0, 0, 1, 0, true};
    for (size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        group& g = open.back();
        uint64_t least = 0, most = 0;
        size_t end = i + 1;
        bool duplication = true;
        if (c == '*' || c == '?') {
            least = 0, most = 1;
        } else if (c == '+') {
            least = 1, most = 2;
        } else if (c != '{' || !interval_at(pattern, i, least, most, end)) {
            duplication = false;
        }
        if (duplication) {
            if (++g.repeats > ADJACENT_DUPLICATIONS_MAX || (g.repeats > 1 && c == '{')) return true;
            g.last.repeat(least, most);
            if (g.last.too_costly()) return true;
            i = end;
        } else if (c == '\\') {
            const bool asserts = i + 1 < pattern.size() && is_escaped_assertion(pattern[i + 1]);
            g.add_item(asserts ? assertion : atom);
            i += 2;
        } else if (c == '^' || c == '$') {
            g.add_item(assertion);
            ++i;
        } else if (c == '[') {
            g.add_item(atom);
            i = bracket_end(pattern, i);
        } else if (c == '(') {
            open.emplace_back();
            open.back().last.matches_empty = true;
            ++i;
        } else if (c == ')' && open.size() > 1) {
            const pattern_cost inner = g.closed();
            open.pop_back();
            open.back().add_item(inner);
            ++i;
        } else if (c == '|') {
            g.some_alternative_empty = g.some_alternative_empty || g.alternative_empty();
            g.done.add_cost(g.last);
            g.done.required = add(g.done.required, 1);
            g.last = pattern_cost{};
            g.last.matches_empty = true;
            g.items_empty = true;
            g.repeats = 0;
            ++i;
        } else {
            g.add_item(atom);
            ++i;
        }
    }
    pattern_cost total;
    for (const group& g : open) total.add_cost(g.closed());
    return total.too_costly();
}

bool has_back_reference(std::string_view pattern) {
    for (size_t i = 0; i < pattern.size();) {
        uint64_t least = 0, most = 0;
        size_t end = i + 1;
        if (pattern[i] == '[') {
            end = bracket_end(pattern, i);
        } else if (pattern[i] == '{') {
            // Inside an interval an escaped digit is a digit.
            (void)interval_at(pattern, i, least, most, end);
        } else if (pattern[i] == '\\') {
            if (i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') return true;
            end = i + 2;
        }
        i = end;
    }
    return false;
}

std::string single_pass_form(std::string_view pattern) {
    std::string form = "^.*(";
    form.reserve(pattern.size() + 8);
    size_t open = 0;
    for (size_t i = 0; i < pattern.size();) {
        uint64_t least = 0, most = 0;
        size_t end = i + 1;
        const char c = pattern[i];
        if (c == '[') {
            end = bracket_end(pattern, i);
        } else if (c == '{') {
            (void)interval_at(pattern, i, least, most, end);
        } else if (c == '\\') {
            end = std::min(i + 2, pattern.size());
        } else if (c == '(') {
            ++open;
        } else if (c == ')') {
            if (open == 0) form += '\\';
            else --open;
        }
        form.append(pattern.substr(i, end - i));
        i = end;
    }
    form += ')';
    return form;
}
