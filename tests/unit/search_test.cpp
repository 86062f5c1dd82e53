#include "search.hpp"

#include <gtest/gtest.h>

#include <locale.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "lines.hpp"
#include "paths.hpp"
#include "search_probe.hpp"
#include "tree_fixture.hpp"

namespace {

// A tree built from a list as start-up builds it, and a pattern to try on it.
class tree {
  public:
    explicit tree(const std::string& list, char separator = '/')
        : paths_(tree_of(list, separator)) {}

    uint64_t count() const { return paths_.size(); }
    const path_tree& paths() const { return paths_; }

    outcome compile(const char* query, int direction = 1) {
        return pattern.compile(query, direction, paths_.separator());
    }
    bool matches(uint64_t index) const {
        const match_result result = match_entry(pattern, paths_, index);
        EXPECT_NE(result, match_result::FAILED) << pattern.failure().message();
        return result == match_result::MATCH;
    }

    // The full path of every entry the pattern matches, in table order.
    std::vector<std::string> matching() const {
        std::vector<std::string> out;
        for (uint64_t i = 0; i < count(); ++i)
            if (matches(i)) out.push_back(paths_.full_path(i));
        return out;
    }

    search_pattern pattern;

  private:
    path_tree paths_;
};

// 0 when the pattern matches the text, 1 when not, as the oracle below says it.
int match_code(const search_pattern& pattern, const std::string& text) {
    return search_pattern_probe::match_text(pattern, text) == match_result::MATCH ? 0 : 1;
}

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
        ASSERT_TRUE(t.compile(c.pattern, 1).ok());
        EXPECT_EQ(t.pattern.matches_full_paths(), strchr(c.pattern, '/') != nullptr);
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
        ASSERT_TRUE(t.compile(c.pattern, 1).ok());
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
        ASSERT_TRUE(t.compile(c.pattern, 1).ok());
        EXPECT_EQ(t.matching(), c.expected);
    }
}

TEST(SearchContext, KeepsItsOwnCopyOfThePattern) {
    tree t(slash_list);
    char query[] = "box";
    ASSERT_TRUE(t.compile(query, -1).ok());
    strcpy(query, "zzz");
    EXPECT_TRUE(t.pattern.active());
    EXPECT_STREQ(t.pattern.query(), "box");
    EXPECT_EQ(t.pattern.direction(), -1);
    EXPECT_EQ(t.matching(), (paths_list{"b/box"}));
}

TEST(SearchContext, BadPatternRemovesTheOldOne) {
    tree t(slash_list);
    ASSERT_TRUE(t.compile("x", 1).ok());
    for (const char* bad : {"(", "a{1", "[z-a]", "*x\\"}) {
        SCOPED_TRACE(bad);
        regex_t oracle;
        int code = regcomp(&oracle, bad, REG_EXTENDED);
        ASSERT_NE(code, 0);
        char text[64];
        regerror(code, &oracle, text, sizeof text);

        EXPECT_EQ(t.compile(bad, 1).message(), std::string("regex failed: ") + text);
        EXPECT_FALSE(t.pattern.active());
        EXPECT_STREQ(t.pattern.query(), "");
        EXPECT_EQ(t.matching(), paths_list{});
        int64_t out = 42;
        EXPECT_EQ(t.pattern.find(t.paths(), 0, false, out).message(),
                  "Search query was not given");
    }
    ASSERT_TRUE(t.compile("x", 1).ok());
    t.pattern.clear();
    EXPECT_FALSE(t.pattern.active());
    t.pattern.clear(); // clearing twice is harmless
}

// A pattern that would take the C library seconds or minutes to compile is
// turned away before it gets there; patterns people type, repetitions and
// anchors included, compile as before.
TEST(SearchContext, PatternTooCostlyToCompileIsRefusedAtOnce) {
    tree t(slash_list);
    std::string doubled_twenty_times(21, '+');
    doubled_twenty_times[0] = 'b';
    for (const std::string& costly : {
             std::string("a{1,30000}"), std::string("a{,30000}"),
             std::string("a{0000000001,30000}"), // leading zeros are read too
             std::string("a{1\\,30000}"),              // and escaped characters
             doubled_twenty_times, std::string("(^)+++++"), std::string("(a*)+{1,333}"),
             std::string("(a{1,255}){1,255}"), std::string("(a|[0-9]){1,1999}"),
             std::string("(a?){1,999}"), std::string("((a*){1,30}){1,30}"),
             std::string("(\\b){1,40}"), std::string("(\\b){40}"), std::string("(\\<|\\>){1,30}"),
             std::string("(^){1,300}"), std::string("((\\b){8}){8}"), std::string("(\\b)++*"),
             std::string("(\\b)*+*+"), std::string("(a*)+++++++++"), std::string("((a*)+){1,100}"),
             std::string("(a|)+++++++"), std::string("a??+*"), std::string("^a*+++++"),
             std::string("(((((a*)+)+)+)+)+"), std::string("a{32767}")}) {
        SCOPED_TRACE(costly);
        ASSERT_TRUE(t.compile("x", 1).ok());
        EXPECT_EQ(t.compile(costly.c_str(), 1).message(), "regex failed: Regular expression too big");
        EXPECT_FALSE(t.pattern.active());
    }
    for (const char* fine :
         {"c++", "b+", "box{1,2}", "[0-9]{1,4}", "a{1,1000}", "a{30000}", "(ab|cd){2,3}", "(ab){1000,}",
          "((x{9}){99}){9}", "x{,3}", "x{,}", "\\{1,99999}", "[{]{1,9}", "[[:digit:]]+", "(b(o(x)))+",
          "(\\b){1,8}", "(^)++", "(\\b)++", "a?+", "a*+", "(a*)+", "(a|b|)*", "(x*y*)+",
          "\\.c$", "^src/.*\\.(c|h)$", "[]+]{1,9}"}) {
        SCOPED_TRACE(fine);
        EXPECT_TRUE(t.compile(fine, 1).ok());
    }
    // An interval whose bounds are the wrong way round gets the C library's
    // own word for it.
    EXPECT_EQ(t.compile("a{30000,1}", 1).message().rfind("regex failed: Invalid content of ", 0), 0u);
    ASSERT_TRUE(t.compile("(b(o(x)))+", 1).ok());
    EXPECT_EQ(t.matching(), (paths_list{"b/box"}));
}

// A back-reference can keep one match backtracking for minutes, and
// nothing can interrupt a match: it is refused, and only a back-reference is.
TEST(SearchContext, BackReferencesAreRefused) {
    tree t(slash_list);
    for (const char* refused : {"(a)\\1", "(.*)(.*)(.*)\\3\\2\\1b", "(.*)\\1b", "(x)(y)\\2", "a|(b)\\1$",
                                "[a](b)\\1", "(a){2}\\1", "\\9"}) {
        SCOPED_TRACE(refused);
        ASSERT_TRUE(t.compile("x").ok());
        EXPECT_EQ(t.compile(refused).message(), "regex failed: Back-references are not supported");
        EXPECT_FALSE(t.pattern.active());
    }
    // An escaped backslash before a digit, a backslash in brackets, an
    // escape inside an interval and other escapes are no back-references.
    for (const char* fine : {"\\\\1", "[\\1]", "[]\\1]", "x{1\\,3}", "\\.1", "\\(1\\)", "a\\b"}) {
        SCOPED_TRACE(fine);
        EXPECT_TRUE(t.compile(fine).ok());
    }
    ASSERT_TRUE(t.compile("\\\\1").ok());
    EXPECT_EQ(match_code(t.pattern, "a\\1"), 0);
    EXPECT_EQ(match_code(t.pattern, "a1"), 1);
}

TEST(FindMatch, NoPatternIsReported) {
    tree t(slash_list);
    EXPECT_FALSE(t.pattern.active());
    int64_t out = 42;
    EXPECT_EQ(t.pattern.find(t.paths(), 0, false, out).message(), "Search query was not given");
    EXPECT_FALSE(t.matches(0));
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
        ASSERT_TRUE(t.compile(c.pattern, c.direction).ok());
        int64_t out = 42;
        EXPECT_TRUE(t.pattern.find(t.paths(), c.from, c.reverse != 0, out).ok());
        EXPECT_EQ(out, c.expected);
    }
}

TEST(FindMatch, AgreesWithPathMatchesOnEveryEntry) {
    tree t("a/b/c/d\na/b/e\na/f\n/g/h\n/g/i/j\nk\nl/m/n/o/p\nl/m/q\n");
    for (const char* pattern : {"/", "b/", "/[a-z]$", "^/g", "e", "^.$", "m/q$"}) {
        SCOPED_TRACE(pattern);
        for (int direction : {1, -1}) {
            ASSERT_TRUE(t.compile(pattern, direction).ok());
            std::vector<int64_t> expected;
            for (uint64_t i = 0; i < t.count(); ++i)
                if (t.matches(i)) expected.push_back(static_cast<int64_t>(i));
            if (direction < 0) std::reverse(expected.begin(), expected.end());
            std::vector<int64_t> found;
            int64_t at = direction > 0 ? -1 : static_cast<int64_t>(t.count());
            for (;;) {
                ASSERT_TRUE(t.pattern.find(t.paths(), at, false, at).ok());
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
            full_path_walker walker(t.paths());
            for (uint64_t i : visits) {
                std::string_view path = walker.path_of(i);
                EXPECT_EQ(path, t.paths().full_path(i)) << "entry " << i;
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
        search_pattern compiled;
        ASSERT_TRUE(compiled.compile(pattern.c_str(), 1, '/').ok());
        std::vector<std::string> own_subjects = subjects;
        // Subjects that hold the literal, at the start, the end, or alone.
        std::string literal = pattern;
        if (literal.starts_with('^')) literal.erase(0, 1);
        if (literal.ends_with('$')) literal.pop_back();
        own_subjects.insert(own_subjects.end(),
                            {literal, "a" + literal, literal + "b", "a" + literal + "b"});
        for (const std::string& subject : own_subjects)
            ASSERT_EQ(match_code(compiled, subject), expected.match(subject))
                << "subject " << testing::PrintToString(subject);
    }
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
        search_pattern own;
        const outcome compiled = own.compile(pattern.c_str(), 1, '/');
        // More than two duplication symbols in a row, which POSIX leaves
        // undefined, are refused before they reach the C library.
        if (std::regex_search(pattern, std::regex("[*+?]{3}"))) {
            EXPECT_EQ(compiled.message(), "regex failed: Regular expression too big");
            continue;
        }
        ASSERT_TRUE(compiled.ok()) << compiled.message();
        for (const std::string& subject : subjects)
            ASSERT_EQ(match_code(own, subject), expected.match(subject))
                << "subject " << testing::PrintToString(subject);
    }
    EXPECT_GT(compiled, 1000); // the alphabet must not make most patterns invalid
}

// Entries are matched with a single-pass form of the pattern, which must
// match exactly where the pattern does: groups, alternatives, anchors,
// brackets and a ')' that closes nothing among them.
TEST(MatchText, GroupedPatternsMatchLikeTheExpression) {
    const std::string pattern_alphabet = "ab.*+?^$()|[]\\";
    const std::string subject_alphabet = "ab()|c";
    std::mt19937 random(7);
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
    int with_groups = 0;
    for (int n = 0; n < 6000; ++n) {
        const std::string pattern = text(pattern_alphabet, 8);
        oracle expected(pattern);
        if (!expected.compiled()) continue;
        search_pattern own;
        if (!own.compile(pattern.c_str(), 1, '/').ok()) continue;
        ++compiled;
        with_groups += pattern.find_first_of("()") != std::string::npos;
        SCOPED_TRACE(testing::PrintToString(pattern));
        for (const std::string& subject : subjects)
            ASSERT_EQ(match_code(own, subject), expected.match(subject))
                << "subject " << testing::PrintToString(subject);
    }
    // The alphabet must not make most patterns invalid.
    EXPECT_GT(compiled, 1000);
    EXPECT_GT(with_groups, 300);
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
        search_pattern compiled;
        ASSERT_TRUE(compiled.compile(c.pattern, 1, '/').ok());
        EXPECT_EQ(match_code(compiled, e_acute), c.expected);
        EXPECT_EQ(uselocale(static_cast<locale_t>(0)), utf8);
    }
    uselocale(previous);
    freelocale(utf8);
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
            ASSERT_TRUE(t.compile(pattern, direction).ok());
            // The best of a few runs: the machine is shared.
            double best = 1e9;
            for (int run = 0; run < 5; ++run) {
                auto start = std::chrono::steady_clock::now();
                int64_t out = 0;
                ASSERT_TRUE(t.pattern.find(t.paths(), direction > 0 ? -1 : last, false, out).ok());
                EXPECT_EQ(out, -1);
                std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
                best = std::min(best, took.count());
            }
            printf("%-12s %-9s %.3f s\n", pattern, direction > 0 ? "forwards" : "backwards", best);
        }
    }
}

} // namespace
