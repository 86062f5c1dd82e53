#include "search.hpp"

#include <gtest/gtest.h>

#include <locale.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "korvel/status.hpp"
#include "lines.hpp"
#include "paths.hpp"

namespace {

// An entry table built from a list as start-up builds it; released (with the
// search pattern) when the fixture goes.
class tree {
  public:
    explicit tree(const std::string& list, char separator = '/') {
        FILE* input = fmemopen(const_cast<char*>(list.data()), list.size(), "r");
        EXPECT_NE(input, nullptr);
        EXPECT_EQ(get_lines(input, separator, &lines_), 0);
        fclose(input);
        sort_lines(lines_.items, lines_.count);
        count_ = get_paths(&visible_, lines_.items, lines_.count, separator, 0);
    }
    ~tree() {
        free_paths(visible_.items);
        free_lines(&lines_);
    }
    tree(const tree&) = delete;
    tree& operator=(const tree&) = delete;

    uint64_t count() const { return count_; }

    // The full path of every entry the active pattern matches, in table order.
    std::vector<std::string> matching() const {
        std::vector<std::string> out;
        for (uint64_t i = 0; i < count_; ++i) {
            int result = path_matches(i);
            EXPECT_NE(result, 2) << get_error();
            if (result == 0) out.push_back(full_path(i));
        }
        return out;
    }

    // The index of the entry with this full path, or -1.
    int64_t index_of(const std::string& path) const {
        for (uint64_t i = 0; i < count_; ++i)
            if (full_path(i) == path) return static_cast<int64_t>(i);
        return -1;
    }

  private:
    input_lines lines_;
    unfolded_paths_t visible_;
    uint64_t count_ = 0;
};

using paths_list = std::vector<std::string>;

struct match_case {
    const char* pattern;
    paths_list expected;
};

// Entries in table order: a, a/x, b, b/box, c, c/xa, x.
const char* const slash_list = "x\nb/box\nc/xa\na/x\n";

TEST(PathMatches, NameOrFullPathByTheSeparator) {
    tree t(slash_list);
    ASSERT_EQ(t.count(), 7u);
    const match_case cases[] = {
        {"x", {"a/x", "b/box", "c/xa", "x"}},
        {"^x", {"a/x", "c/xa", "x"}},
        {"x$", {"a/x", "b/box", "x"}},
        {"^x$", {"a/x", "x"}},
        {"a/x", {"a/x"}},
        {"^a/x", {"a/x"}},
        {"/", {"a/x", "b/box", "c/xa"}},
        {"/x", {"a/x", "c/xa"}},
        {"[/]x$", {"a/x"}},
        {"b.x", {"b/box"}},
        {"o|^a$", {"a", "b/box"}},
        {"X", {}},
        {"Box", {}},
        {"^$", {}},
    };
    for (const match_case& c : cases) {
        SCOPED_TRACE(c.pattern);
        ASSERT_EQ(init_search_ctx(c.pattern, 1), 0) << get_error();
        EXPECT_EQ(search_context().match_full_path, strchr(c.pattern, '/') != nullptr);
        EXPECT_EQ(t.matching(), c.expected);
    }
}

TEST(PathMatches, OtherSeparatorMakesSlashOrdinary) {
    // Entries: a, a.b/c, a.x, d/e.
    tree t("a.b/c\nd/e\na.x\n", '.');
    ASSERT_EQ(t.count(), 4u);
    const match_case cases[] = {
        {"/", {"a.b/c", "d/e"}}, {"^b/c$", {"a.b/c"}}, {"a/c", {}},
        {"^a.x$", {"a.x"}},      {"a.b", {"a.b/c"}},   {"^a$", {"a"}},
    };
    for (const match_case& c : cases) {
        SCOPED_TRACE(c.pattern);
        ASSERT_EQ(init_search_ctx(c.pattern, 1), 0) << get_error();
        EXPECT_EQ(t.matching(), c.expected);
    }
}

TEST(PathMatches, AbsolutePathsBeginWithTheSeparator) {
    // Entries: (empty name), etc, usr, bin.
    tree t("/etc\n/usr/bin\n");
    ASSERT_EQ(t.count(), 4u);
    const match_case cases[] = {
        {"^/$", {"/"}},
        {"^/etc$", {"/etc"}},
        {"^/usr/", {"/usr/bin"}},
        {"^$", {"/"}}, // matched against the empty name
    };
    for (const match_case& c : cases) {
        SCOPED_TRACE(c.pattern);
        ASSERT_EQ(init_search_ctx(c.pattern, 1), 0) << get_error();
        EXPECT_EQ(t.matching(), c.expected);
    }
}

TEST(SearchContext, KeepsItsOwnCopyOfThePattern) {
    tree t(slash_list);
    char query[] = "box";
    ASSERT_EQ(init_search_ctx(query, -1), 0);
    strcpy(query, "zzz");
    EXPECT_TRUE(search_active());
    EXPECT_STREQ(search_context().query, "box");
    EXPECT_EQ(search_context().direction, -1);
    EXPECT_EQ(t.matching(), (paths_list{"b/box"}));
}

TEST(SearchContext, BadPatternRemovesTheOldOne) {
    tree t(slash_list);
    ASSERT_EQ(init_search_ctx("x", 1), 0);
    for (const char* bad : {"(", "a{1", "[z-a]", "*x\\"}) {
        SCOPED_TRACE(bad);
        regex_t oracle;
        int code = regcomp(&oracle, bad, REG_EXTENDED);
        ASSERT_NE(code, 0);
        char text[64];
        regerror(code, &oracle, text, sizeof text);

        EXPECT_EQ(init_search_ctx(bad, 1), 1);
        EXPECT_EQ(std::string(get_error()), std::string("regex failed: ") + text);
        EXPECT_FALSE(search_active());
        EXPECT_EQ(search_context().query, nullptr);
        EXPECT_EQ(t.matching(), paths_list{});
        int64_t out = 42;
        EXPECT_EQ(find_match(&out, 0, 0), 1);
        EXPECT_STREQ(get_error(), "Search query was not given");
        EXPECT_EQ(out, 42);
    }
    ASSERT_EQ(init_search_ctx("x", 1), 0);
    deinit_search_ctx();
    EXPECT_FALSE(search_active());
}

TEST(FindMatch, NoPatternIsReported) {
    tree t(slash_list);
    EXPECT_FALSE(search_active());
    int64_t out = 42;
    set_error("");
    EXPECT_EQ(find_match(&out, 0, 0), 1);
    EXPECT_STREQ(get_error(), "Search query was not given");
    EXPECT_EQ(out, 42);
    EXPECT_EQ(path_matches(0), 1);
}

TEST(FindMatch, WalksOneWayWithoutWrapping) {
    tree t(slash_list); // 0 a, 1 a/x, 2 b, 3 b/box, 4 c, 5 c/xa, 6 x
    struct find_case {
        const char* pattern;
        int direction;
        int64_t from;
        int reverse;
        int64_t expected;
    };
    const find_case cases[] = {
        {"x", 1, 1, 0, 3},    // from itself is never tested
        {"x", 1, -1, 0, 1},   // before the first entry
        {"x", 1, 0, 1, -1},   // backwards from the first: nothing at once
        {"x", 1, 6, 0, -1},   // forwards from the last: nothing at once
        {"x", 1, 7, 0, -1},   // past the end
        {"x", -1, 6, 0, 5},   // the direction of the prompt
        {"x", -1, 6, 1, -1},  // against it, from the last
        {"x", -1, 2, 1, 3},   // against it
        {"x", 1, 3, 1, 1},    // reverse of forwards
        {"^a$", 1, 0, 0, -1}, // a single match at from is not found
        {"^a$", -1, 0, 0, -1}, {"^a$", 1, 6, 1, 0}, {"/x", 1, 1, 0, 5}, // full paths
        {"/x", -1, 5, 0, 1},   {"b.x", 1, 0, 0, 3},                     // a regular expression
        {"q", 1, -1, 0, -1},
    };
    for (const find_case& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " direction " + std::to_string(c.direction) +
                     " from " + std::to_string(c.from) + " reverse " + std::to_string(c.reverse));
        ASSERT_EQ(init_search_ctx(c.pattern, c.direction), 0);
        int64_t out = 42;
        EXPECT_EQ(find_match(&out, c.from, c.reverse), 0);
        EXPECT_EQ(out, c.expected);
    }
}

TEST(FindMatch, AgreesWithPathMatchesOnEveryEntry) {
    tree t("a/b/c/d\na/b/e\na/f\n/g/h\n/g/i/j\nk\nl/m/n/o/p\nl/m/q\n");
    for (const char* pattern : {"/", "b/", "/[a-z]$", "^/g", "e", "^.$", "m/q$"}) {
        SCOPED_TRACE(pattern);
        for (int direction : {1, -1}) {
            ASSERT_EQ(init_search_ctx(pattern, direction), 0);
            std::vector<int64_t> expected;
            for (uint64_t i = 0; i < t.count(); ++i)
                if (path_matches(i) == 0) expected.push_back(static_cast<int64_t>(i));
            if (direction < 0) std::reverse(expected.begin(), expected.end());
            std::vector<int64_t> found;
            int64_t at = direction > 0 ? -1 : static_cast<int64_t>(t.count());
            for (;;) {
                ASSERT_EQ(find_match(&at, at, 0), 0);
                if (at == -1) break;
                found.push_back(at);
            }
            EXPECT_EQ(found, expected);
        }
    }
}

// The walk builds each full path from the one before; any order of visits
// must give what the entry table itself gives.
TEST(FullPathWalker, GivesTheTablesFullPaths) {
    const std::string list = "/etc/x\n/usr/lib/a/b\n/usr/lib/c\n/usr/share\na/b/c/d/e/f\na/b/g\n"
                             "a/h\nbb\nbb/cc/dd\nz/y/x/w\nz/v\n//double\nq//r\n";
    for (char separator : {'/', '.', 'b'}) {
        SCOPED_TRACE(std::string("separator ") + separator);
        tree t(list, separator);
        std::vector<uint64_t> order;
        for (uint64_t i = 0; i < t.count(); ++i)
            order.push_back(i);
        std::vector<std::vector<uint64_t>> orders{order, {order.rbegin(), order.rend()}};
        std::mt19937 random(7);
        for (int k = 0; k < 3; ++k) {
            std::shuffle(order.begin(), order.end(), random);
            orders.push_back(order);
        }
        for (const auto& visits : orders) {
            full_path_walker walker;
            for (uint64_t i : visits) {
                std::string_view path = walker.path_of(i);
                EXPECT_EQ(path, full_path(i)) << "entry " << i;
                EXPECT_EQ(path.data()[path.size()], '\0');
            }
        }
    }
}

// Compiles and runs the pattern the plain way, in the C locale.
class oracle {
  public:
    explicit oracle(const std::string& pattern) {
        locale_t previous = uselocale(c_locale_);
        compiled_ = regcomp(&regex_, pattern.c_str(), REG_EXTENDED) == 0;
        uselocale(previous);
    }
    ~oracle() {
        if (compiled_) regfree(&regex_);
        freelocale(c_locale_);
    }
    oracle(const oracle&) = delete;
    oracle& operator=(const oracle&) = delete;

    bool compiled() const { return compiled_; }
    int match(const std::string& subject) {
        locale_t previous = uselocale(c_locale_);
        int result = regexec(&regex_, subject.c_str(), 0, nullptr, 0);
        uselocale(previous);
        return result == 0 ? 0 : 1;
    }

  private:
    locale_t c_locale_ = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    regex_t regex_{};
    bool compiled_ = false;
};

// Plain patterns, and those anchored at either end, skip the expression; the
// result must be what the expression gives, for any bytes.
TEST(MatchText, PlainPatternsMatchLikeTheExpression) {
    const std::string alphabet = std::string("ab/ \n\t-,'\"~\x01\x7f\x80\xa9\xc3\xff", 17);
    ASSERT_EQ(alphabet.size(), 17u);
    std::mt19937 random(2024);
    auto text = [&](size_t max_length) {
        std::string out(random() % (max_length + 1), ' ');
        for (char& c : out)
            c = alphabet[random() % alphabet.size()];
        return out;
    };
    std::vector<std::string> subjects{""};
    for (int i = 0; i < 300; ++i)
        subjects.push_back(text(10));
    for (int n = 0; n < 600; ++n) {
        std::string pattern = text(4);
        switch (n % 4) {
        case 1:
            pattern = "^" + pattern;
            break;
        case 2:
            pattern += "$";
            break;
        case 3:
            pattern = "^" + pattern + "$";
            break;
        }
        SCOPED_TRACE(testing::PrintToString(pattern));
        oracle expected(pattern);
        ASSERT_TRUE(expected.compiled());
        ASSERT_EQ(init_search_ctx(pattern.c_str(), 1), 0) << get_error();
        std::vector<std::string> own_subjects = subjects;
        // Subjects that hold the literal, at the start, the end, or alone.
        std::string literal = pattern;
        if (literal.starts_with('^')) literal.erase(0, 1);
        if (literal.ends_with('$')) literal.pop_back();
        own_subjects.insert(own_subjects.end(),
                            {literal, "a" + literal, literal + "b", "a" + literal + "b"});
        for (const std::string& subject : own_subjects)
            ASSERT_EQ(match_text(subject), expected.match(subject))
                << "subject " << testing::PrintToString(subject);
    }
    deinit_search_ctx();
}

// Expressions with '.', anchors and quantifiers are first checked for the
// text every match must hold; that check must never rule out a match.
TEST(MatchText, QuantifiedPatternsMatchLikeTheExpression) {
    const std::string pattern_alphabet = "ab.*+?^$";
    const std::string subject_alphabet = "abc";
    std::mt19937 random(99);
    auto text = [&](const std::string& alphabet, size_t max_length) {
        std::string out(random() % (max_length + 1), ' ');
        for (char& c : out)
            c = alphabet[random() % alphabet.size()];
        return out;
    };
    std::vector<std::string> subjects{""};
    for (int i = 0; i < 200; ++i)
        subjects.push_back(text(subject_alphabet, 8));
    int compiled = 0;
    for (int n = 0; n < 3000; ++n) {
        std::string pattern = text(pattern_alphabet, 7);
        oracle expected(pattern);
        if (!expected.compiled()) continue;
        ++compiled;
        SCOPED_TRACE(testing::PrintToString(pattern));
        ASSERT_EQ(init_search_ctx(pattern.c_str(), 1), 0) << get_error();
        for (const std::string& subject : subjects)
            ASSERT_EQ(match_text(subject), expected.match(subject))
                << "subject " << testing::PrintToString(subject);
    }
    EXPECT_GT(compiled, 1000); // the alphabet must not make most patterns invalid
    deinit_search_ctx();
}

// The caller's locale (UTF-8 for the terminal) does not change what a
// pattern means: bytes are characters.
TEST(MatchText, RunsInTheCLocaleWhateverTheCallerUses) {
    locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (utf8 == static_cast<locale_t>(0)) GTEST_SKIP() << "no C.UTF-8 locale";
    locale_t previous = uselocale(utf8);
    const std::string e_acute = "\xc3\xa9";
    const struct {
        const char* pattern;
        int expected;
    } cases[] = {{"^..$", 0}, {"^.$", 1}, {"^\xc3", 0}, {"\xa9$", 0}, {"^[^a]{2}$", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.pattern)));
        ASSERT_EQ(init_search_ctx(c.pattern, 1), 0) << get_error();
        EXPECT_EQ(match_text(e_acute), c.expected);
        EXPECT_EQ(uselocale(static_cast<locale_t>(0)), utf8);
    }
    deinit_search_ctx();
    uselocale(previous);
    freelocale(utf8);
}

TEST(SearchContextDeathTest, ReleasingWithoutPatternFails) {
    EXPECT_FALSE(search_active());
    EXPECT_DEATH(deinit_search_ctx(), "deinit_search_ctx: Assertion `ctx->init' failed");
}

// A search that finds nothing across a large table; run it by name with
// --gtest_also_run_disabled_tests on an optimised build.
TEST(SearchBenchmark, DISABLED_FullWalkOfFiveMillionEntries) {
    std::string list;
    std::mt19937 random(1);
    const char* const words[] = {"src", "lib", "include", "share", "doc",     "tests",  "build",
                                 "bin", "usr", "local",   "home",  "project", "module", "data"};
    // Seven entries for every four lines: four leaves under three levels of
    // directories, so about five million entries.
    uint64_t lines = 0;
    for (int a = 0; lines < 2857144; ++a) {
        std::string dir = "/";
        dir.append(words[a % 14]).append(std::to_string(a)).append("/");
        dir.append(words[random() % 14]).append("/").append(words[random() % 14]);
        dir.append(std::to_string(a % 97));
        for (int k = 0; k < 4; ++k) {
            list += dir + "/file_" + std::to_string(k) + "_" + std::to_string(random() % 100000) +
                    ".txt\n";
            ++lines;
        }
    }
    tree t(list);
    printf("entries: %llu\n", static_cast<unsigned long long>(t.count()));
    const auto last = static_cast<int64_t>(t.count());
    for (int direction : {1, -1}) {
        for (const char* pattern : {"zzqq", "^zzqq", "q.z", "z+q", "/zzqq", "sr.*/zzqq"}) {
            ASSERT_EQ(init_search_ctx(pattern, direction), 0);
            // The best of a few runs: the machine is shared.
            double best = 1e9;
            for (int run = 0; run < 5; ++run) {
                auto start = std::chrono::steady_clock::now();
                int64_t out = 0;
                ASSERT_EQ(find_match(&out, direction > 0 ? -1 : last, 0), 0);
                EXPECT_EQ(out, -1);
                std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
                best = std::min(best, took.count());
            }
            printf("%-12s %-9s %.3f s\n", pattern, direction > 0 ? "forwards" : "backwards", best);
        }
    }
}

} // namespace
