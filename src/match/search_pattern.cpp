#include "match/search_pattern.hpp"

#include <strings.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <locale.h>

#include "base/check.hpp"
#include "base/utf8.hpp"
#include "match/regex_cost.hpp"

namespace korvel {

namespace {

bool has_ere_special(std::string_view text) {
    return text.find_first_of(".[]()*+?{}|^$\\") != std::string_view::npos;
}

// Patterns of ordinary characters, perhaps anchored at either end, match
// exactly where a plain comparison of bytes does (in the C locale every byte
// is one character), and that is far cheaper than running the expression.
// Returns 0 none, 1 substring, 2 prefix, 3 suffix, 4 whole, with the text.
int classify(std::string_view& query) {
    if (!has_ere_special(query)) return 1;
    bool at_start = query.starts_with('^');
    if (at_start) query.remove_prefix(1);
    bool at_end = query.ends_with('$');
    if (at_end) query.remove_suffix(1);
    if (has_ere_special(query)) return 0;
    if (at_start && at_end) return 4;
    return at_start ? 2 : 3;
}

// A locale made once, kept for the life of the process; (locale_t)0, which
// uselocale and the _l functions take as "no change", when it cannot be made.
class kept_locale {
  public:
    kept_locale(int mask, const char* name)
        : locale_(newlocale(mask, name, static_cast<locale_t>(0))) {}
    ~kept_locale() {
        if (locale_ != static_cast<locale_t>(0)) freelocale(locale_);
    }
    kept_locale(const kept_locale&) = delete;
    kept_locale& operator=(const kept_locale&) = delete;
    locale_t get() const { return locale_; }

  private:
    locale_t locale_;
};

// Letters' case beyond ASCII, whatever locale the caller runs in.
locale_t utf8_locale() {
    static const kept_locale utf8(LC_CTYPE_MASK, "C.UTF-8");
    return utf8.get();
}

// The code point at text[pos], advancing pos; a byte that starts no
// well-formed sequence stands for itself.
char32_t next_code_point(std::string_view text, size_t& pos) {
    const utf8_char c = utf8_at(text, pos);
    const char32_t code_point =
        c.code_point == utf8_char::INVALID ? static_cast<unsigned char>(text[pos]) : c.code_point;
    pos += c.length;
    return code_point;
}

char32_t lower(char32_t c) {
    const locale_t utf8 = utf8_locale();
    if (c < 0x80 || utf8 == static_cast<locale_t>(0)) return c < 0x80 ? static_cast<char32_t>(tolower(static_cast<int>(c))) : c;
    return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), utf8));
}

bool has_upper_case(std::string_view text) {
    const locale_t utf8 = utf8_locale();
    for (size_t pos = 0; pos < text.size();) {
        const char32_t c = next_code_point(text, pos);
        if (c < 0x80 ? isupper(static_cast<int>(c)) != 0
                     : utf8 != static_cast<locale_t>(0) && iswupper_l(static_cast<wint_t>(c), utf8))
            return true;
    }
    return false;
}

std::u32string folded(std::string_view text) {
    std::u32string out;
    for (size_t pos = 0; pos < text.size();) out += lower(next_code_point(text, pos));
    return out;
}

bool ascii_only(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Whether the subject holds the folded text, compared a character at a time
// with each character lower-cased.
bool folded_find(std::string_view subject, const std::u32string& part) {
    if (part.empty()) return true;
    for (size_t start = 0; start < subject.size();) {
        size_t pos = start;
        size_t k = 0;
        while (k < part.size() && pos < subject.size() && lower(next_code_point(subject, pos)) == part[k])
            ++k;
        if (k == part.size()) return true;
        next_code_point(subject, start);
    }
    return false;
}

void keep_longer(std::string& best, std::string& run) {
    if (run.size() > best.size()) best = run;
    run.clear();
}

// In an expression made of ordinary characters, '.', the anchors and the
// quantifiers * + ?, each run of characters that no quantifier makes
// optional stands in every match as it is written; the longest run is the
// text to look for first. Groups, brackets, braces, alternatives, escapes and
// quantifiers that do not follow a character or '.' give nothing.
std::string required_text(std::string_view pattern) {
    if (pattern.find_first_of("()[]{}|\\") != std::string_view::npos) return {};
    std::string best, run;
    bool after_atom = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        switch (c) {
        case '*':
        case '+':
        case '?':
            if (!after_atom) return {};
            after_atom = false;
            break;
        case '^':
        case '$':
            keep_longer(best, run);
            after_atom = false;
            break;
        case '.':
            keep_longer(best, run);
            after_atom = true;
            break;
        default:
            if (next == '*' || next == '?') {
                keep_longer(best, run);
            } else if (next == '+') {
                // One or more: the character is there, but what follows may
                // come after further copies of it.
                run += c;
                keep_longer(best, run);
            } else {
                run += c;
            }
            after_atom = true;
            break;
        }
    }
    keep_longer(best, run);
    return best;
}

// Patterns are compiled and run in the C locale, so that they match bytes
// the same way whatever locale the terminal needs.
locale_t c_locale() {
    static const kept_locale c(LC_ALL_MASK, "C");
    return c.get();
}

} // namespace

// Should the C locale be unavailable, uselocale(0) changes nothing.
c_locale_scope::c_locale_scope() : previous_(uselocale(c_locale())) {}

c_locale_scope::~c_locale_scope() { uselocale(previous_); }

outcome search_pattern::compile(const char* query, int direction, char separator, case_mode mode) {
    KORVEL_CHECK(direction == 1 || direction == -1);
    clear();
    query_ = query;
    ignore_case_ = mode == case_mode::IGNORE || (mode == case_mode::SMART && !has_upper_case(query_));
    if (too_costly_to_compile(query_)) {
        query_.clear();
        // The C library's own words for a pattern too big to compile.
        return outcome::failure("regex failed: Regular expression too big");
    }
    if (has_back_reference(query_)) {
        query_.clear();
        return outcome::failure("regex failed: Back-references are not supported");
    }
    c_locale_scope in_c_locale;
    // Only whether an entry matches is asked, never where: without
    // sub-matches to track the C library matches in one pass.
    const int flags = REG_EXTENDED | REG_NOSUB | (ignore_case_ ? REG_ICASE : 0);
    const int result = regcomp(&regex_, query_.c_str(), flags);
    if (result != 0) {
        char text[64];
        regerror(result, &regex_, text, sizeof text);
        query_.clear();
        return outcome::failuref("regex failed: %s", text);
    }
    // The pattern as typed is compiled for the C library's word on what is
    // wrong with it; entries are matched with its single-pass form.
    if (regex_t single; regcomp(&single, single_pass_form(query_).c_str(), flags) == 0) {
        regfree(&regex_);
        regex_ = single;
    }
    active_ = true;
    separator_ = separator;
    direction_ = direction;
    full_paths_ = query_.find(separator) != std::string::npos;
    std::string_view text = query_;
    literal_ = static_cast<literal_kind>(classify(text));
    literal_text_ = text;
    if (literal_ == literal_kind::NONE) required_ = required_text(query_);
    // The C locale folds ASCII letters only; plain text with other letters
    // is compared character by character, lower-cased.
    if (ignore_case_ && literal_ == literal_kind::SUBSTRING && !ascii_only(query_))
        folded_ = folded(query_);
    return {};
}

std::unique_ptr<search_pattern> search_pattern::copy() const {
    auto twin = std::make_unique<search_pattern>();
    if (active_) {
        const outcome compiled = twin->compile(query_.c_str(), direction_, separator_,
                                               ignore_case_ ? case_mode::IGNORE : case_mode::SENSITIVE);
        KORVEL_CHECK(compiled.ok());
    }
    return twin;
}

void search_pattern::clear() {
    if (!active_) return;
    regfree(&regex_);
    active_ = false;
    ignore_case_ = false;
    folded_.clear();
    query_.clear();
    literal_ = literal_kind::NONE;
    literal_text_ = {};
    required_.clear();
}

// Both are NUL-terminated, and strstr needs no length of the subject first,
// unlike memmem.
bool search_pattern::contains(const char* subject, const char* part) const {
    if (ignore_case_) return strcasestr(subject, part) != nullptr;
    return strstr(subject, part) != nullptr;
}

// The caller holds a c_locale_scope and has checked that a pattern is active.
// The subject is NUL-terminated; its length is measured only by the kinds of
// pattern that need it, since for a name that is an extra pass over bytes
// that are often not yet in the cache.
match_result search_pattern::match_subject(const char* subject, size_t length) const {
    auto result = [](bool yes) { return yes ? match_result::MATCH : match_result::NO_MATCH; };
    const std::string_view& text = literal_text_;
    auto same = [this](const char* a, const std::string_view& b) {
        return ignore_case_ ? strncasecmp(a, b.data(), b.size()) == 0
                            : memcmp(a, b.data(), b.size()) == 0;
    };
    auto measured = [&] {
        if (length == UNKNOWN_LENGTH) length = strlen(subject);
        return length;
    };
    switch (literal_) {
    case literal_kind::SUBSTRING:
        if (!folded_.empty()) return result(folded_find(std::string_view(subject, measured()), folded_));
        return result(contains(subject, query_.c_str()));
    case literal_kind::PREFIX:
        // strncmp stops at the subject's end, so no length is needed.
        return result(ignore_case_ ? strncasecmp(subject, text.data(), text.size()) == 0
                                   : strncmp(subject, text.data(), text.size()) == 0);
    case literal_kind::SUFFIX:
        return result(measured() >= text.size() && same(subject + length - text.size(), text));
    case literal_kind::WHOLE:
        return result(measured() == text.size() && same(subject, text));
    case literal_kind::NONE:
        break;
    }
    if (!required_.empty() && !contains(subject, required_.c_str())) return match_result::NO_MATCH;
    const int code = regexec(&regex_, subject, 0, nullptr, 0);
    if (code == 0) return match_result::MATCH;
    if (code == REG_NOMATCH) return match_result::NO_MATCH;
    last_error_ = code;
    return match_result::FAILED;
}

outcome search_pattern::failure() const {
    char text[64];
    regerror(last_error_, &regex_, text, sizeof text);
    return outcome::failuref("regex failed: %s", text);
}

match_result search_pattern::match(const path_tree& tree, uint64_t index,
                                   full_path_walker& walker) const {
    c_locale_scope in_c_locale;
    return match_in_c_locale(tree, index, walker);
}

match_result search_pattern::match_in_c_locale(const path_tree& tree, uint64_t index,
                                               full_path_walker& walker) const {
    if (!active_) return match_result::NO_MATCH;
    if (full_paths_) {
        const std::string_view path = walker.path_of(index);
        return match_subject(path.data(), path.size());
    }
    return match_subject(tree.at(index).name, UNKNOWN_LENGTH);
}

} // namespace korvel
