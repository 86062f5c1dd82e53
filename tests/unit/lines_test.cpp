#include "thread_state.hpp"
#include "lines.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "plain_load.hpp"
#include "tree_oracle.hpp"
#include "unique_fd.hpp"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// The lines read from a record, as strings.
std::vector<std::string> texts(const input_lines& lines) {
    return {lines.items, lines.items + lines.count};
}

// Reads an in-memory input the way start-up reads standard input.
struct read_result {
    int rc;
    std::vector<std::string> lines;
};

read_result read_bytes(const std::string& bytes, char separator = '/', bool nul_only = false) {
    // fmemopen refuses a zero-sized buffer on some C libraries.
    std::string buffer = bytes.empty() ? std::string(1, '\0') : bytes;
    FILE* stream = fmemopen(buffer.data(), buffer.size(), "r");
    if (bytes.empty()) fgetc(stream); // consume the placeholder byte
    input_lines lines;
    const int rc = get_lines(stream, separator, lines, nul_only).ok() ? 0 : 1;
    fclose(stream);
    return {rc, texts(lines)};
}

// The texts the reading rules give: each line's path with the separator
// after it.
std::vector<std::string> reference_lines(const std::string& bytes, char separator,
                                         bool nul_only = false) {
    std::vector<std::string> out;
    for (const std::string& line : split_lines(bytes, nul_only)) {
        std::string path = given_path(line, separator);
        if (path.empty()) continue;
        if (path.back() != separator) path += separator;
        out.push_back(path);
    }
    return out;
}

struct reading_case {
    const char* name;
    std::string input;
    char separator;
    std::vector<std::string> expected;
    bool nul_only = false;
};

class ReadingRules : public ::testing::TestWithParam<reading_case> {};

TEST_P(ReadingRules, GivesTheLines) {
    const reading_case& c = GetParam();
    read_result result = read_bytes(c.input, c.separator, c.nul_only);
    EXPECT_EQ(result.rc, 0);
    EXPECT_EQ(result.lines, c.expected);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Lines, ReadingRules,
    ::testing::Values(
        reading_case{"final_newline", "a\nb\n", '/', {"a/", "b/"}},
        reading_case{"no_final_newline", "a\nb", '/', {"a/", "b/"}},
        reading_case{"empty_input", "", '/', {}},
        reading_case{"single_newline", "\n", '/', {}},
        reading_case{"empty_lines", "a\n\n\nb\n", '/', {"a/", "b/"}},
        reading_case{"separators_collapse", "a//b\n//x///\n/\n", '/', {"a/b/", "/x/", "/"}},
        reading_case{"blank_separators_collapse", "  x  y\n", ' ', {" x y "}},
        reading_case{"nul_ends_a_line", "x\0y\n"s, '/', {"x/", "y/"}},
        reading_case{"nul_at_the_end", "x\0"s, '/', {"x/"}},
        reading_case{"lone_nul", "\0"s, '/', {}},
        reading_case{"carriage_return_kept", "a\r\n", '/', {"a\r/"}},
        reading_case{"separator_already_there", "a/b/\nc\n", '/', {"a/b/", "c/"}},
        reading_case{"other_separator", "a.b\na/b\n", '.', {"a.b.", "a/b."}},
        reading_case{"blanks_kept", "  b\n\tc\n", '/', {"  b/", "\tc/"}},
        reading_case{"blank_separator", "   \n", ' ', {" "}},
        reading_case{"high_bytes", "\x80\xff\x01\n", '/', {"\x80\xff\x01/"}},
        // Split at NUL bytes only: newlines belong to the names.
        reading_case{"nul_only", "a\nb\0c\0"s, '/', {"a\nb/", "c/"}, true},
        reading_case{"nul_only_no_final_nul", "a\0b\n"s, '/', {"a/", "b\n/"}, true},
        reading_case{"nul_only_empty_lines", "\0\n\0"s, '/', {"\n/"}, true},
        reading_case{"nul_only_empty_input", "", '/', {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Split at NUL bytes only, as the walker's list is: newlines are part of a
// name.
TEST(GetLines, NulOnlyKeepsNewlinesInNames) {
    struct split_case {
        std::string input;
        std::vector<std::string> expected;
    };
    const split_case cases[] = {
        {"", {}},
        {"a\0b\0"s, {"a/", "b/"}},
        {"new\nline\0last"s, {"new\nline/", "last/"}},
        {"\n\0\0"s, {"\n/"}},
        {"dir/\0"s, {"dir/"}},
    };
    for (const split_case& c : cases) {
        SCOPED_TRACE(c.input);
        const read_result result = read_bytes(c.input, '/', true);
        EXPECT_EQ(result.rc, 0);
        EXPECT_EQ(result.lines, c.expected);
    }
}

TEST(GetLines, RecordHoldsCountAndArena) {
    FILE* stream = tmpfile();
    ASSERT_NE(stream, nullptr);
    fputs("one\ntwo/\nthree", stream);
    rewind(stream);
    input_lines lines;
    ASSERT_TRUE(get_lines(stream, '/', lines).ok());
    fclose(stream);
    EXPECT_THAT(texts(lines), ElementsAre("one/", "two/", "three/"));
    EXPECT_EQ(lines.count, 3u);
    // The texts lie one after the other in the arena, each with its NUL.
    EXPECT_EQ(lines.arena_size, strlen("one/two/three/") + 3);
    EXPECT_EQ(lines.items[0], lines.arena);
    // Moved away, the record is empty and owns nothing.
    input_lines taken = std::move(lines);
    EXPECT_EQ(lines.items, nullptr);
    EXPECT_EQ(lines.arena, nullptr);
    EXPECT_EQ(lines.count, 0u);
    EXPECT_EQ(taken.count, 3u);
}

// Inputs of many blocks, through a regular file and through a pipe, with
// lines that cross block boundaries and one line of several megabytes.
std::string large_input() {
    std::mt19937 random(7);
    std::string bytes;
    const char alphabet[] = "ab/\r \t\x80";
    while (bytes.size() < 600'000) {
        size_t length = random() % 200;
        for (size_t i = 0; i < length; i++) bytes += alphabet[random() % (sizeof alphabet - 1)];
        bytes += random() % 50 == 0 ? '\0' : '\n';
    }
    bytes += std::string(3'000'000, 'm');
    bytes += "\nlast";
    return bytes;
}

TEST(GetLines, LargeInputFromAFile) {
    const std::string bytes = large_input();
    FILE* stream = tmpfile();
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), stream), bytes.size());
    rewind(stream);
    input_lines lines;
    ASSERT_TRUE(get_lines(stream, '/', lines).ok());
    fclose(stream);
    EXPECT_EQ(texts(lines), reference_lines(bytes, '/'));
}

TEST(GetLines, LargeInputAtNulBytesOnly) {
    // NUL bytes only: newlines become part of the texts.
    const std::string bytes = large_input();
    std::string nul_ended = bytes;
    std::replace(nul_ended.begin(), nul_ended.end(), '\n', '\x01');
    std::vector<std::string> expected = reference_lines(nul_ended, '/');
    for (std::string& text : expected)
        std::replace(text.begin(), text.end(), '\x01', '\n');
    EXPECT_EQ(read_bytes(bytes, '/', true).lines, expected);
    EXPECT_EQ(expected, reference_lines(bytes, '/', true));
}

TEST(GetLines, LargeInputFromAPipe) {
    const std::string bytes = large_input();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(fds[1], bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(fds[1]);
    });
    FILE* stream = fdopen(fds[0], "r");
    input_lines lines;
    const outcome rc = get_lines(stream, '/', lines);
    writer.join();
    fclose(stream);
    ASSERT_TRUE(rc.ok()) << rc.message();
    EXPECT_EQ(texts(lines), reference_lines(bytes, '/'));
}

TEST(GetLines, WaitsOnANonBlockingPipe) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    unique_fd write_end(fds[1]);
    FILE* stream = fdopen(fds[0], "r");
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
    const pid_t reader_tid = gettid();
    // Each part goes in only once the reader has taken everything before it
    // and is blocked again, so that every part meets an empty pipe. The
    // thread asserts nothing: whatever happens, the write end is closed when
    // it returns, and the reader sees the end of the input.
    std::vector<std::string> problems;
    std::thread writer([&, end = std::move(write_end)] {
        for (const char* part : {"a/b\n", "c\n", "d"}) {
            const auto waiting = [&] {
                int unread = -1;
                return ioctl(end.get(), FIONREAD, &unread) == 0 && unread == 0 &&
                       thread_sleeping(reader_tid);
            };
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            bool waited = false;
            while (!(waited = waiting()) && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            if (!waited) problems.push_back(std::string("the reader never waited before ") + part);
            if (write(end.get(), part, strlen(part)) != static_cast<ssize_t>(strlen(part))) {
                problems.push_back(std::string("writing ") + part + ": " + strerror(errno));
                return;
            }
        }
    });
    input_lines lines;
    const outcome rc = get_lines(stream, '/', lines);
    writer.join();
    fclose(stream);
    EXPECT_THAT(problems, IsEmpty());
    EXPECT_TRUE(rc.ok()) << rc.message();
    EXPECT_THAT(texts(lines), ElementsAre("a/b/", "c/", "d/"));
}

TEST(GetLines, ReadErrorIsReported) {
    // Reading a directory fails with EISDIR.
    FILE* stream = fopen(std::filesystem::temp_directory_path().c_str(), "r");
    ASSERT_NE(stream, nullptr);
    input_lines lines;
    const outcome rc = get_lines(stream, '/', lines);
    fclose(stream);
    EXPECT_EQ(rc.message(), "failed to read input: "s + strerror(EISDIR));
    EXPECT_EQ(lines.items, nullptr);
    EXPECT_EQ(lines.count, 0u);
}

TEST(CountLeadingBlanks, SkipsSpacesAndTabsThatAreNotTheSeparator) {
    EXPECT_EQ(count_leading_blanks("", '/'), 0u);
    EXPECT_EQ(count_leading_blanks("a/", '/'), 0u);
    EXPECT_EQ(count_leading_blanks("  b/", '/'), 2u);
    EXPECT_EQ(count_leading_blanks("\t a", '/'), 2u);
    EXPECT_EQ(count_leading_blanks("a b", '/'), 0u);
    EXPECT_EQ(count_leading_blanks(" \t/", '/'), 2u);
    // A blank separator begins an absolute path, not a blank.
    EXPECT_EQ(count_leading_blanks(" a ", ' '), 0u);
    EXPECT_EQ(count_leading_blanks("\t a ", ' '), 1u);
    EXPECT_EQ(count_leading_blanks(" \ta\t", '\t'), 1u);
}

TEST(SeparatorRuns, FoundAndCollapsedAtAnyPlace) {
    // Runs at every offset around the sixteen-byte blocks, at both ends and
    // across a block's edge.
    for (size_t length = 1; length < 50; length++) {
        for (size_t at = 0; at + 1 < length; at++) {
            for (size_t run : {size_t{1}, size_t{2}, size_t{3}}) {
                std::string line(length, 'x');
                for (size_t k = at; k < std::min(length, at + run); k++) line[k] = '/';
                const bool doubled = run > 1 && at + 1 < length;
                EXPECT_EQ(has_separator_run(line.data(), length, '/'), doubled)
                    << length << " " << at << " " << run;
                std::string out(length, '\0');
                out.resize(collapse_separators(out.data(), line.data(), length, '/'));
                EXPECT_EQ(out + "x", given_path(line + "x", '/'));
            }
        }
    }
    // A separator right after the line's end is not part of the line.
    const std::string text = "ab//";
    EXPECT_FALSE(has_separator_run(text.data(), 3, '/'));
    EXPECT_TRUE(has_separator_run(text.data(), 4, '/'));
}

int sign(int value) { return (value > 0) - (value < 0); }

int compare(const char* a, const char* b) {
    return sign(compare_line_order(a, b, '/'));
}

TEST(CompareLines, OrdersBytesAfterTheBlanks) {
    struct {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"a/", "b/", -1},      {"  b/", "a/", 1},    {"  b/", "c/", -1},
        {" a/", "a/", -1},     {"a-b/", "a/", -1},   {"a/", "a/b/", -1},
        {"\x80/", "a/", 1},    {"\xff/", "\x80/", 1}, {"   /", " /", -1},
        {"\t/", " /", -1},     {"/etc/", "a/", -1},  {"a/b/", "a/b/", 0},
        // The whole first component decides before the rest does.
        {" a/z/", "a/y/", -1}, {"a/a/", " a/b/", 1}, {" a/b/", "\ta/a/", 1},
        {" ab/", "a/", 1},     {" a-/", "a/", -1},   {"  /x/", "/y/", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compare(c.a, c.b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(compare(c.b, c.a), -c.expected) << c.b << " vs " << c.a;
    }
}

// Sorts copies of the texts and gives them back in their new order.
std::vector<std::string> sorted(std::vector<std::string> input) {
    std::vector<char*> items;
    for (std::string& text : input) items.push_back(text.data());
    sort_lines(items.data(), items.size(), '/', {});
    return {items.begin(), items.end()};
}

TEST(SortLines, OrdersLikeTheComparator) {
    EXPECT_THAT(sorted({"b/x/", "a/", "/etc/", "b/y/z/", "a/c/"}),
                ElementsAre("/etc/", "a/", "a/c/", "b/x/", "b/y/z/"));
    EXPECT_THAT(sorted({"a/b/", "a-b/", "a/"}), ElementsAre("a-b/", "a/", "a/b/"));
    EXPECT_THAT(sorted({"c/", "  b/", "a/"}), ElementsAre("a/", "  b/", "c/"));
    EXPECT_THAT(sorted({" a/z/", "a/y/", " a/x/"}), ElementsAre(" a/x/", " a/z/", "a/y/"));
    EXPECT_THAT(sorted({"b/", " a/b/", "a/c/", " a/d/", "\ta/", "  a/a/"}),
                ElementsAre("\ta/", "  a/a/", " a/b/", " a/d/", "a/c/", "b/"));
    EXPECT_THAT(sorted({}), IsEmpty());
    EXPECT_THAT(sorted({"x/"}), ElementsAre("x/"));
}

TEST(SortLines, TiesGoByTheWholeText) {
    EXPECT_THAT(sorted({"a/", " a/", "b/", "\ta/", "  a/", " a/"}),
                ElementsAre("\ta/", "  a/", " a/", " a/", "a/", "b/"));
    EXPECT_LT(compare_line_order(" a/", "a/", '/'), 0);
    EXPECT_GT(compare_line_order("a/", "\ta/", '/'), 0);
    EXPECT_EQ(compare_line_order(" a/", " a/", '/'), 0);
    EXPECT_LT(compare_line_order("  b/", " c/", '/'), 0);
}

// Random texts with long shared prefixes, blanks and high bytes: sort_lines
// gives the one sequence that compare_line_order defines, which qsort with
// compare_lines agrees with up to ties.
TEST(SortLines, GivesTheOneOrder) {
    std::mt19937 random(11);
    const char alphabet[] = "ab/ \t-\x80\xff";
    const std::vector<std::string> prefixes = {"", "m0001/usr/share/doc/", "m0001/usr/share/d",
                                               "  m0001/usr/", "\tm0001/usr/share/doc/",
                                               " m0001/usr/share/doc/"};
    for (int round = 0; round < 60; round++) {
        size_t count = round < 10 ? static_cast<size_t>(round) : random() % 3000;
        std::vector<std::string> storage;
        for (size_t i = 0; i < count; i++) {
            std::string text = prefixes[random() % prefixes.size()];
            size_t length = random() % 24;
            for (size_t j = 0; j < length; j++) text += alphabet[random() % (sizeof alphabet - 1)];
            storage.push_back(text + '/');
        }
        std::vector<char*> items, by_qsort;
        for (std::string& text : storage) items.push_back(text.data());
        by_qsort = items;
        if (count > 0) qsort(by_qsort.data(), count, sizeof(char*), compare_lines);
        sort_lines(items.data(), items.size(), '/', {});

        std::vector<std::string> expected(storage);
        std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
            return compare_line_order(a.c_str(), b.c_str(), '/') < 0;
        });
        ASSERT_EQ(std::vector<std::string>(items.begin(), items.end()), expected)
            << "round " << round;
        for (size_t i = 0; i < count; i++)
            ASSERT_EQ(compare_lines(&items[i], &by_qsort[i]), 0) << "round " << round << " at " << i;
    }
}

// A long sort asks whether to go on, and stops when told not to.
TEST(SortLines, LongSortCanBeStopped) {
    std::vector<std::string> storage;
    for (int i = 0; i < 200'000; i++) storage.push_back("d/" + std::to_string(i * 7919 % 200'000));
    std::vector<char*> items;
    for (std::string& text : storage) items.push_back(text.data());
    int asked = 0;
    EXPECT_FALSE(sort_lines(items.data(), items.size(), '/', [&] { return ++asked < 2; }));
    EXPECT_EQ(asked, 2);
    asked = 0;
    EXPECT_TRUE(sort_lines(items.data(), items.size(), '/', [&] { return ++asked > 0; }));
    EXPECT_GT(asked, 0);
    for (size_t i = 1; i < items.size(); i++)
        ASSERT_LE(compare_line_order(items[i - 1], items[i], '/'), 0);
}

// Texts that end right before an unreadable page: sorting reads no byte
// past a terminating NUL that could fault.
TEST(SortLines, NeverReadsPastTheEndOfAPage) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* mapping = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapping, MAP_FAILED);
    ASSERT_EQ(mprotect(static_cast<char*>(mapping) + page, page, PROT_NONE), 0);
    char* end = static_cast<char*>(mapping) + page;
    // Texts of 0 to 20 bytes, each ending with its NUL at the page's last byte.
    std::vector<char*> items;
    for (size_t length = 0; length <= 20; length++) {
        char* text = end - length - 1 - 32 * length;
        memset(text, 'p', length);
        text[length] = '\0';
        items.push_back(text);
    }
    char* at_end = end - 5;
    memcpy(at_end, "ppp/", 5);
    items.push_back(at_end);
    items.push_back(end - 1); // the empty text at the very end
    sort_lines(items.data(), items.size(), '/', {});
    for (size_t i = 1; i < items.size(); i++) EXPECT_LE(compare_lines(&items[i - 1], &items[i]), 0);
    munmap(mapping, 2 * page);
}

TEST(SortLines, ManyEqualAndLongTexts) {
    // Identical texts longer than any cached key, and texts that differ only
    // at their very end or only in leading blanks.
    std::string long_text(5000, 'q');
    std::vector<std::string> input;
    for (int i = 0; i < 300; i++) input.push_back(long_text + (i % 3 == 0 ? "b/" : "a/"));
    for (int i = 0; i < 50; i++) input.push_back(std::string(i % 4, ' ') + long_text + "a/");
    std::vector<std::string> output = sorted(input);
    std::vector<std::string> stripped;
    for (const std::string& text : output) stripped.push_back(text.substr(text.find('q')));
    EXPECT_TRUE(std::is_sorted(stripped.begin(), stripped.end()));
    EXPECT_EQ(std::count(stripped.begin(), stripped.end(), long_text + "a/"), 250);
}

} // namespace
