#include "search.hpp"

#include <cstdlib>
#include <cstring>
#include <locale.h>

#include "check.hpp"

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
    struct holder {
        locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        ~holder() {
            if (locale != static_cast<locale_t>(0)) freelocale(locale);
        }
    };
    static holder instance;
    return instance.locale;
}

class c_locale_scope {
  public:
    // Should the C locale be unavailable, uselocale(0) changes nothing.
    c_locale_scope() : previous_(uselocale(c_locale())) {}
    ~c_locale_scope() { uselocale(previous_); }
    c_locale_scope(const c_locale_scope&) = delete;
    c_locale_scope& operator=(const c_locale_scope&) = delete;

  private:
    locale_t previous_;
};

} // namespace

std::string_view full_path_walker::path_of(uint64_t index) {
    const path_entry& entry = tree_.at(index);
    // Walking forwards the parent is always in the buffer already.
    bool parent_kept = entry.parent == NO_ENTRY || (entry.depth <= ancestors_.size() &&
                                                    ancestors_[entry.depth - 1] == entry.parent);
    if (!parent_kept) restore_ancestors(entry.parent);
    ancestors_.resize(entry.depth);
    prefix_lengths_.resize(entry.depth + 1);
    append_level(index, entry);
    return buffer_;
}

void full_path_walker::restore_ancestors(uint64_t parent) {
    // Climb to the deepest ancestor still in the buffer, then come back down.
    pending_.clear();
    uint64_t above = parent;
    while (above != NO_ENTRY) {
        const path_entry& entry = tree_.at(above);
        if (entry.depth < ancestors_.size() && ancestors_[entry.depth] == above) break;
        pending_.push_back(above);
        above = entry.parent;
    }
    size_t kept = above == NO_ENTRY ? 0 : tree_.at(above).depth + 1;
    ancestors_.resize(kept);
    prefix_lengths_.resize(kept + 1);
    for (auto it = pending_.rbegin(); it != pending_.rend(); ++it)
        append_level(*it, tree_.at(*it));
}

void full_path_walker::append_level(uint64_t index, const path_entry& entry) {
    size_t depth = ancestors_.size();
    KORVEL_CHECK(entry.depth == depth);
    size_t prefix = prefix_lengths_[depth];
    buffer_.resize(prefix);
    // The separator behind a parent is not kept while the parent's own path
    // is the one in the buffer.
    if (depth > 0) buffer_[prefix - 1] = tree_.separator();
    size_t name_length = strlen(entry.name);
    buffer_.append(entry.name, name_length);
    if (name_length == 0) buffer_.push_back(tree_.separator());
    ancestors_.push_back(index);
    prefix_lengths_.push_back(prefix + name_length + 1);
}

outcome search_pattern::compile(const char* query, int direction, char separator) {
    KORVEL_CHECK(direction == 1 || direction == -1);
    clear();
    query_ = query;
    c_locale_scope in_c_locale;
    const int result = regcomp(&regex_, query_.c_str(), REG_EXTENDED);
    if (result != 0) {
        char text[64];
        regerror(result, &regex_, text, sizeof text);
        query_.clear();
        return outcome::failuref("regex failed: %s", text);
    }
    active_ = true;
    direction_ = direction;
    full_paths_ = query_.find(separator) != std::string::npos;
    std::string_view text = query_;
    literal_ = static_cast<literal_kind>(classify(text));
    literal_text_ = text;
    if (literal_ == literal_kind::NONE) required_ = required_text(query_);
    return {};
}

void search_pattern::clear() {
    if (!active_) return;
    regfree(&regex_);
    active_ = false;
    query_.clear();
    literal_ = literal_kind::NONE;
    literal_text_ = {};
    required_.clear();
}

// The caller holds a c_locale_scope and has checked that a pattern is active;
// the subject is NUL-terminated at its size.
match_result search_pattern::match_subject(std::string_view subject) const {
    auto result = [](bool yes) { return yes ? match_result::MATCH : match_result::NO_MATCH; };
    switch (literal_) {
    case literal_kind::SUBSTRING:
        // Both are NUL-terminated (the literal is the whole query), and strstr
        // needs no length of the subject first, unlike memmem.
        return result(strstr(subject.data(), query_.c_str()) != nullptr);
    case literal_kind::PREFIX:
        return result(subject.starts_with(literal_text_));
    case literal_kind::SUFFIX:
        return result(subject.ends_with(literal_text_));
    case literal_kind::WHOLE:
        return result(subject == literal_text_);
    case literal_kind::NONE:
        break;
    }
    if (!required_.empty() && strstr(subject.data(), required_.c_str()) == nullptr)
        return match_result::NO_MATCH;
    const int code = regexec(&regex_, subject.data(), 0, nullptr, 0);
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

match_result search_pattern::match_text(std::string_view text) const {
    if (!active_) return match_result::NO_MATCH;
    c_locale_scope in_c_locale;
    return match_subject(text);
}

match_result search_pattern::match(const path_tree& tree, uint64_t index,
                                   full_path_walker& walker) const {
    if (!active_) return match_result::NO_MATCH;
    c_locale_scope in_c_locale;
    if (full_paths_) return match_subject(walker.path_of(index));
    return match_subject(tree.at(index).name);
}

match_result search_pattern::match(const path_tree& tree, uint64_t index) const {
    full_path_walker walker(tree);
    return match(tree, index, walker);
}

outcome search_pattern::find(const path_tree& tree, int64_t from, bool reverse,
                             int64_t& found) const {
    if (!active_) return outcome::failure("Search query was not given");
    const int64_t step = reverse ? -direction_ : direction_;
    const auto count = static_cast<int64_t>(tree.size());
    found = -1;
    // Past either end nothing is tested (and from + step cannot overflow).
    if ((step > 0 && from >= count) || (step < 0 && from <= 0)) return {};
    c_locale_scope in_c_locale;
    full_path_walker walker(tree);
    // Names lie in the order the lines were read, not in tree order: fetch
    // them a few entries ahead so the walk does not wait on each one.
    constexpr int64_t PREFETCH_DISTANCE = 16;
    for (int64_t i = from + step; i >= 0 && i < count; i += step) {
        const auto index = static_cast<uint64_t>(i);
        const int64_t ahead = i + PREFETCH_DISTANCE * step;
        if (ahead >= 0 && ahead < count) __builtin_prefetch(tree.at(static_cast<uint64_t>(ahead)).name);
        const match_result result = match_subject(full_paths_ ? walker.path_of(index)
                                                              : std::string_view(tree.at(index).name));
        if (result == match_result::MATCH) {
            found = i;
            return {};
        }
        if (result == match_result::FAILED) return failure();
    }
    return {};
}
