#include "search.hpp"

#include <cstdlib>
#include <cstring>
#include <locale.h>

#include "check.hpp"
#include "korvel/status.hpp"
#include "paths.hpp"

namespace {

search_ctx ctx{};

// Patterns of ordinary characters, perhaps anchored at either end, match
// exactly where a plain comparison of bytes does (in the C locale every byte
// is one character), and that is far cheaper than running the expression.
enum class literal_kind { NONE, SUBSTRING, PREFIX, SUFFIX, WHOLE };

struct literal_pattern {
    literal_kind kind = literal_kind::NONE;
    std::string_view text; // inside ctx.query
};

literal_pattern literal;

// Text that every match of the active expression contains, so that a subject
// without it is ruled out before the expression runs; empty when unknown.
std::string required;

bool has_ere_special(std::string_view text) {
    return text.find_first_of(".[]()*+?{}|^$\\") != std::string_view::npos;
}

literal_pattern classify(std::string_view query) {
    if (!has_ere_special(query)) return {literal_kind::SUBSTRING, query};
    bool at_start = query.starts_with('^');
    if (at_start) query.remove_prefix(1);
    bool at_end = query.ends_with('$');
    if (at_end) query.remove_suffix(1);
    if (has_ere_special(query)) return {};
    if (at_start && at_end) return {literal_kind::WHOLE, query};
    return {at_start ? literal_kind::PREFIX : literal_kind::SUFFIX, query};
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

void set_regex_error(int code) {
    char text[64];
    regerror(code, &ctx.regex, text, sizeof text);
    set_errorf("regex failed: %s", text);
}

// The caller holds a c_locale_scope and has checked that a pattern is active;
// the subject is NUL-terminated at its size.
int match_subject(std::string_view subject) {
    const std::string_view& text = literal.text;
    switch (literal.kind) {
    case literal_kind::SUBSTRING:
        // Both are NUL-terminated (the literal is the whole query), and strstr
        // needs no length of the subject first, unlike memmem.
        return strstr(subject.data(), ctx.query) != nullptr ? 0 : 1;
    case literal_kind::PREFIX:
        return subject.starts_with(text) ? 0 : 1;
    case literal_kind::SUFFIX:
        return subject.ends_with(text) ? 0 : 1;
    case literal_kind::WHOLE:
        return subject == text ? 0 : 1;
    case literal_kind::NONE:
        break;
    }
    if (!required.empty() && strstr(subject.data(), required.c_str()) == nullptr) return 1;
    int result = regexec(&ctx.regex, subject.data(), 0, nullptr, 0);
    if (result == 0) return 0;
    if (result == REG_NOMATCH) return 1;
    set_regex_error(result);
    return 2;
}

} // namespace

std::string_view full_path_walker::path_of(uint64_t index) {
    const path_entry& entry = path_at(index);
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
        const path_entry& entry = path_at(above);
        if (entry.depth < ancestors_.size() && ancestors_[entry.depth] == above) break;
        pending_.push_back(above);
        above = entry.parent;
    }
    size_t kept = above == NO_ENTRY ? 0 : path_at(above).depth + 1;
    ancestors_.resize(kept);
    prefix_lengths_.resize(kept + 1);
    for (auto it = pending_.rbegin(); it != pending_.rend(); ++it)
        append_level(*it, path_at(*it));
}

void full_path_walker::append_level(uint64_t index, const path_entry& entry) {
    size_t depth = ancestors_.size();
    if (entry.depth != depth) check_failed("entry.depth == depth", __func__, __FILE__, __LINE__);
    size_t prefix = prefix_lengths_[depth];
    buffer_.resize(prefix);
    // The separator behind a parent is not kept while the parent's own path
    // is the one in the buffer.
    if (depth > 0) buffer_[prefix - 1] = path_separator;
    size_t name_length = strlen(entry.name);
    buffer_.append(entry.name, name_length);
    if (name_length == 0) buffer_.push_back(path_separator);
    ancestors_.push_back(index);
    prefix_lengths_.push_back(prefix + name_length + 1);
}

const search_ctx& search_context() {
    return ctx;
}

bool search_active() {
    return ctx.init != 0;
}

int init_search_ctx(const char* query, int direction) {
    if (direction != 1 && direction != -1) {
        check_failed("direction == 1 || direction == -1", __func__, __FILE__, __LINE__);
    }
    if (ctx.init) deinit_search_ctx();
    if (ctx.init) check_failed("!ctx->init", __func__, __FILE__, __LINE__);
    ctx.query = strdup(query);
    if (ctx.query == nullptr) check_failed("ctx->query != NULL", __func__, __FILE__, __LINE__);
    c_locale_scope in_c_locale;
    int result = regcomp(&ctx.regex, ctx.query, REG_EXTENDED);
    if (result != 0) {
        set_regex_error(result);
        free(ctx.query);
        ctx.query = nullptr;
        return 1;
    }
    ctx.match_full_path = strchr(ctx.query, path_separator) != nullptr ? 1 : 0;
    ctx.direction = direction;
    ctx.init = 1;
    literal = classify(ctx.query);
    if (literal.kind == literal_kind::NONE) required = required_text(ctx.query);
    return 0;
}

void deinit_search_ctx() {
    if (!ctx.init) check_failed("ctx->init", __func__, __FILE__, __LINE__);
    regfree(&ctx.regex);
    free(ctx.query);
    ctx.query = nullptr;
    literal = {};
    required.clear();
    ctx.init = 0;
}

int match_text(std::string_view text) {
    if (!ctx.init) return 1;
    c_locale_scope in_c_locale;
    return match_subject(text);
}

int path_matches(uint64_t index, full_path_walker& walker) {
    if (!ctx.init) return 1;
    c_locale_scope in_c_locale;
    if (ctx.match_full_path) return match_subject(walker.path_of(index));
    return match_subject(path_at(index).name);
}

int path_matches(uint64_t index) {
    full_path_walker walker;
    return path_matches(index, walker);
}

int find_match(int64_t* out, int64_t from, int reverse) {
    if (!ctx.init) {
        set_error("Search query was not given");
        return 1;
    }
    const int64_t step = reverse ? -ctx.direction : ctx.direction;
    const auto count = static_cast<int64_t>(path_count());
    // Past either end nothing is tested (and from + step cannot overflow).
    if ((step > 0 && from >= count) || (step < 0 && from <= 0)) {
        *out = -1;
        return 0;
    }
    c_locale_scope in_c_locale;
    full_path_walker walker;
    // Names lie in the order the lines were read, not in tree order: fetch
    // them a few entries ahead so the walk does not wait on each one.
    constexpr int64_t PREFETCH_DISTANCE = 16;
    for (int64_t i = from + step; i >= 0 && i < count; i += step) {
        const auto index = static_cast<uint64_t>(i);
        int64_t ahead = i + PREFETCH_DISTANCE * step;
        if (ahead >= 0 && ahead < count)
            __builtin_prefetch(path_at(static_cast<uint64_t>(ahead)).name);
        int result = match_subject(ctx.match_full_path ? walker.path_of(index)
                                                       : std::string_view(path_at(index).name));
        if (result == 0) {
            *out = i;
            return 0;
        }
        if (result == 2) return 1;
    }
    *out = -1;
    return 0;
}
