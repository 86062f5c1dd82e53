#include "load.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>
#include <string>
#include <thread>
#include <vector>

#include "buckets.hpp"
#include "helper_threads.hpp"
#include "lines.hpp"
#include "paths.hpp"
#include "plain_load.hpp"
#include "read_input.hpp"
#include "tick_pacer.hpp"
#include "tree_oracle.hpp"
#include "unique_fd.hpp"

using namespace std::string_literals;
using ::testing::HasSubstr;

namespace {

// Everything a tree holds, as text: one line per entry, then the rows.
std::string dump(const path_tree& tree) {
    std::string out;
    for (uint64_t i = 0; i < tree.size(); i++) {
        const path_entry& e = tree.at(i);
        out += std::to_string(i) + " [" + e.name + "] parent " + std::to_string(e.parent) +
               " end " + std::to_string(e.subtree_end) + " children " +
               std::to_string(e.nchildren) + " depth " + std::to_string(e.depth) + " folded " +
               std::to_string(e.folded) + "\n";
    }
    out += "rows";
    for (uint64_t r = 0; r < tree.row_count(); r++)
        out += " " + std::to_string(tree.row_entry(r));
    return out;
}

struct reading {
    char separator = '/';
    bool fold = false;
    bool nul_only = false;
};

// The plain single-thread way: get_lines, sort_lines, build_path_tree.
std::string reference(const std::string& input, const reading& how) {
    std::string buffer = input.empty() ? std::string(1, '\0') : input;
    FILE* stream = fmemopen(buffer.data(), buffer.size(), "r");
    if (input.empty()) fgetc(stream);
    input_lines lines;
    const outcome read = get_lines(stream, how.separator, lines, how.nul_only);
    fclose(stream);
    EXPECT_TRUE(read.ok()) << read.message();
    sort_lines(lines.items, lines.count, how.separator);
    path_tree tree;
    const outcome built = build_path_tree(std::move(lines), how.separator, how.fold, tree);
    EXPECT_TRUE(built.ok()) << built.message();
    return dump(tree);
}

load_options options_for(const reading& how, unsigned threads, const load_tuning& tuning) {
    load_options options;
    options.separator = how.separator;
    options.fold_by_default = how.fold;
    options.nul_only = how.nul_only;
    options.threads = threads;
    options.tuning = tuning;
    return options;
}

// A file holding the input, removed when done.
class input_file {
  public:
    explicit input_file(const std::string& bytes) {
        char name[] = "/tmp/korvel-load-XXXXXX";
        fd_.reset(mkstemp(name));
        path_ = name;
        EXPECT_GE(fd_.get(), 0);
        EXPECT_EQ(write(fd_.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        lseek(fd_.get(), 0, SEEK_SET);
    }
    ~input_file() { unlink(path_.c_str()); }
    int fd() const { return fd_.get(); }

  private:
    unique_fd fd_;
    std::string path_;
};

// Feeds the input through a pipe from another thread, `piece` bytes per write.
load_result load_through_pipe(const std::string& input, size_t piece, const load_options& options,
                              load_progress& progress, path_tree& tree) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    unique_fd read_end(fds[0]);
    std::thread writer([&input, piece, end = unique_fd(fds[1])] {
        for (size_t done = 0; done < input.size();) {
            ssize_t n = write(end.get(), input.data() + done, std::min(piece, input.size() - done));
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    });
    load_result result = load_fd(read_end.get(), options, progress, tree);
    writer.join();
    return result;
}

enum class way { FILE, PIPE, BYTE_PIPE, BUFFER };

const char* name_of(way w) {
    switch (w) {
    case way::FILE:
        return "file";
    case way::PIPE:
        return "pipe";
    case way::BYTE_PIPE:
        return "pipe, one byte per write";
    case way::BUFFER:
        return "buffer";
    }
    return "?";
}

uint64_t count_lines(const std::string& input, bool nul_only) {
    uint64_t n = count_line_ends(input.data(), input.size(), nul_only);
    if (!input.empty() && input.back() != '\0' && (nul_only || input.back() != '\n')) n++;
    return n;
}

// Loads the input every way with the given threads and sizes and compares
// each table with the reference, byte for byte.
void expect_same_tables(const std::string& input, const reading& how, unsigned threads,
                        const load_tuning& tuning, const std::string& label) {
    const std::string expected = reference(input, how);
    const load_options options = options_for(how, threads, tuning);
    for (way w : {way::FILE, way::PIPE, way::BYTE_PIPE, way::BUFFER}) {
        if (w == way::BYTE_PIPE && input.size() > 4096) continue;
        SCOPED_TRACE(label + ", " + name_of(w) + ", " + std::to_string(threads) + " threads");
        load_progress progress;
        path_tree tree;
        load_result result;
        if (w == way::FILE) {
            input_file file(input);
            result = load_fd(file.fd(), options, progress, tree);
        } else if (w == way::BUFFER) {
            result = load_buffer(std::string(input), options, progress, tree);
        } else {
            result = load_through_pipe(input, w == way::PIPE ? 4099 : 1, options, progress, tree);
        }
        ASSERT_TRUE(result.status.ok()) << result.status.message();
        ASSERT_FALSE(result.cancelled);
        ASSERT_EQ(dump(tree), expected);
        if (w == way::FILE && input.size() < (size_t{1} << 20)) {
            ASSERT_EQ(tree_fault(tree, split_lines(input, how.nul_only), how.separator), "");
        }
        EXPECT_EQ(tree.separator(), how.separator);
        EXPECT_EQ(progress.bytes.load(), input.size());
        EXPECT_EQ(progress.lines.load(), count_lines(input, how.nul_only));
    }
}

// Small enough that a few kilobytes make many buckets, threads and blocks;
// a larger input gets a few hundred buckets.
load_tuning tiny(size_t input_size = 0) {
    load_tuning tuning;
    tuning.bucket_bytes = std::max<size_t>(64, input_size / 512);
    tuning.thread_bytes = 1;
    tuning.read_block = 97;
    return tuning;
}

std::string random_list(std::mt19937& random, size_t lines, const std::string& alphabet) {
    static const std::vector<std::string> prefixes = {"",
                                                      "m0001/usr/share/doc/",
                                                      "m0001/usr//share/",
                                                      "  m0001/usr/",
                                                      "\tm0001/usr/share/",
                                                      "/",
                                                      "//srv/",
                                                      "a.b.",
                                                      " "};
    std::string out;
    for (size_t i = 0; i < lines; i++) {
        out += prefixes[random() % prefixes.size()];
        size_t length = random() % 20;
        for (size_t j = 0; j < length; j++)
            out += alphabet[random() % alphabet.size()];
        out += random() % 40 == 0 ? '\0' : '\n';
    }
    if (random() % 2 == 0 && !out.empty()) out.pop_back(); // no final line end
    return out;
}

TEST(Load, RandomListsGiveTheReferenceTables) {
    std::mt19937 random(17);
    const std::string alphabet = "ab/ \t.-\r\x80\xff\n"s;
    const reading hows[] = {{'/', false, false},
                            {'/', true, false},
                            {'/', false, true},
                            {' ', false, false},
                            {'.', true, false}};
    for (int round = 0; round < 24; round++) {
        const reading& how = hows[static_cast<size_t>(round) % std::size(hows)];
        std::string input = random_list(random, 1 + random() % 300, alphabet);
        for (unsigned threads : {1u, 2u, 3u})
            expect_same_tables(input, how, threads, tiny(), "round " + std::to_string(round));
    }
}

TEST(Load, EdgeCasesGiveTheReferenceTables) {
    std::string ties;
    for (int i = 0; i < 200; i++)
        ties += std::string(static_cast<size_t>(i % 3), " \t"[i % 2]) + "a/x\n";
    const std::string huge_line = std::string(700'000, 'h') + "/z";
    struct edge {
        const char* name;
        std::string input;
        reading how;
    } edges[] = {
        {"ties after blanks", ties + "a/y\n a/x/q\n\ta/\n", {}},
        {"ties after blanks, blank separator", ties + "  a x\n", {' ', false, false}},
        {"empty lines", "\n\n\na\n\n", {}},
        {"only empty lines", "\n\n", {}},
        {"no final newline", "b/c\na", {}},
        {"NUL bytes", "x\0y\n\0\0z"s, {}},
        {"NUL bytes only", "x\ny\0z\n\0"s, {'/', false, true}},
        {"carriage returns", "a\r\nb\r\n\r\n", {}},
        {"doubled separators", "a//b\na/b\n//srv/x\n/srv//x/\n///\n", {}},
        {"one huge line", huge_line + "\na/b\n" + huge_line + "/y\n", {}},
        {"smaller than a page", "z/y\nz\n", {}},
        {"one line", "a", {}},
        {"one newline", "\n", {}},
        {"one NUL", "\0"s, {}},
        {"high bytes", "\xff/\x80\n\x80/\xff\n", {}},
    };
    for (const edge& e : edges) {
        for (unsigned threads : {1u, 2u, 3u}) {
            expect_same_tables(e.input, e.how, threads, tiny(e.input.size()), e.name);
            expect_same_tables(e.input, e.how, threads, load_tuning(), e.name);
        }
    }
}

// Lines of exactly one bucket's or one thread's size, so that cuts fall
// right on and right around line ends.
TEST(Load, CutsOnLineBoundaries) {
    for (size_t size : {size_t{63}, size_t{64}, size_t{65}, size_t{127}, size_t{128}}) {
        std::string input;
        for (int i = 0; i < 40; i++) {
            // Appended piece by piece: GCC 12 warns falsely on the
            // concatenation at -O3.
            std::string line = "d";
            line += std::to_string(i % 7);
            line += '/';
            line += std::string(size - 1 - line.size(), static_cast<char>('a' + i % 5));
            input += line + "\n";
        }
        for (unsigned threads : {2u, 3u, 4u})
            expect_same_tables(input, {}, threads, tiny(), "lines of " + std::to_string(size));
    }
}

// Lines in order, as a listing comes, meet the guess of the bucket, and
// shuffled ones its misses.
TEST(Load, ListingOrderAndShuffled) {
    std::vector<std::string> lines;
    for (int d = 0; d < 30; d++)
        for (int f = 0; f < 40; f++) {
            std::string line = "m";
            line += std::to_string(d);
            line += "/usr/";
            line += f % 3 ? " f" : "f";
            line += std::to_string(f);
            line += f % 7 ? "" : "//x";
            lines.push_back(line);
        }
    std::string ordered, shuffled;
    for (const std::string& line : lines)
        ordered += line + "\n";
    std::mt19937 random(31);
    std::shuffle(lines.begin(), lines.end(), random);
    for (const std::string& line : lines)
        shuffled += line + "\n";
    for (unsigned threads : {1u, 2u}) {
        expect_same_tables(ordered, {}, threads, tiny(), "listing order");
        expect_same_tables(shuffled, {}, threads, tiny(), "shuffled");
    }
}

TEST(Load, LargeListWithTheUsualSizes) {
    std::mt19937 random(23);
    std::string input;
    while (input.size() < (size_t{5} << 20)) {
        input += "m" + std::to_string(random() % 40) + "/usr/share/";
        input += std::to_string(random() % 1000) + "/f" + std::to_string(random() % 100) + "\n";
    }
    expect_same_tables(input, {}, 2, load_tuning(), "5 MB");
}

// An input of empty lines only is as empty as no input: no entry `/`.
TEST(Load, EmptyInputGivesAnEmptyTree) {
    const std::string many_empty(5000, '\n');
    for (const std::string& input : {""s, "\n"s, "\n\n\0\n"s, many_empty}) {
        for (unsigned threads : {1u, 2u}) {
            load_options options;
            options.threads = threads;
            options.tuning = tiny(input.size());
            for (way w : {way::FILE, way::PIPE, way::BUFFER}) {
                SCOPED_TRACE(std::string(name_of(w)) + ", " + std::to_string(input.size()) +
                             " bytes");
                load_progress progress;
                path_tree tree;
                load_result result;
                if (w == way::FILE) {
                    input_file file(input);
                    result = load_fd(file.fd(), options, progress, tree);
                } else if (w == way::BUFFER) {
                    result = load_buffer(std::string(input), options, progress, tree);
                } else {
                    result = load_through_pipe(input, 1, options, progress, tree);
                }
                EXPECT_TRUE(result.status.ok());
                EXPECT_FALSE(result.cancelled);
                EXPECT_EQ(tree.size(), 0u);
            }
        }
    }
}

// Runs of separators and blanks that lead lines, where the buckets split a
// directory: the tree holds each directory once, at every bucket size.
TEST(Load, EveryDirectoryOnce) {
    std::string input;
    for (int i = 0; i < 300; i++) {
        input += std::string(static_cast<size_t>(i % 3), ' ') + "a//b/" + std::to_string(i) + "\n";
        input += "a/b//" + std::to_string(i) + "x\n";
        input += " a/c/" + std::to_string(i) + "\n\n";
    }
    for (unsigned threads : {1u, 2u, 3u})
        for (size_t bucket : {size_t{64}, size_t{512}, size_t{1} << 20}) {
            load_tuning tuning = tiny();
            tuning.bucket_bytes = bucket;
            load_options options;
            options.threads = threads;
            options.tuning = tuning;
            load_progress progress;
            path_tree tree;
            ASSERT_TRUE(load_buffer(std::string(input), options, progress, tree).status.ok());
            ASSERT_EQ(tree_fault(tree, split_lines(input, false), '/'), "")
                << threads << " threads, buckets of " << bucket;
        }
}

// A file is read from where its descriptor stands, as a stream would be.
TEST(Load, FileFromItsDescriptorsPosition) {
    for (off_t at : {off_t{0}, off_t{4}, off_t{9}, off_t{12}}) {
        input_file file("a/b\nc/d\nef\nx");
        ASSERT_EQ(lseek(file.fd(), at, SEEK_SET), at);
        load_progress progress;
        path_tree tree;
        const load_result result = load_fd(file.fd(), load_options(), progress, tree);
        ASSERT_TRUE(result.status.ok());
        EXPECT_EQ(dump(tree),
                  reference(std::string("a/b\nc/d\nef\nx").substr(static_cast<size_t>(at)), {}))
            << "from " << at;
    }
}

TEST(Load, ReadErrorIsReported) {
    unique_fd directory(open(std::filesystem::temp_directory_path().c_str(), O_RDONLY));
    load_progress progress;
    path_tree tree;
    const load_result result = load_fd(directory.get(), load_options(), progress, tree);
    EXPECT_EQ(result.status.message(), "failed to read input: "s + strerror(EISDIR));
    EXPECT_EQ(tree.size(), 0u);
}

// A pipe whose writer waits: the tick keeps coming while nothing arrives,
// and a non-blocking read end waits instead of failing.
TEST(Load, TicksWhileAPipeIsSlow) {
    for (bool non_blocking : {false, true}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        unique_fd read_end(fds[0]);
        if (non_blocking) {
            ASSERT_EQ(fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
        }
        std::thread writer([end = unique_fd(fds[1])] {
            for (const char* part : {"a/b\n", "c\n", "d"}) {
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
                if (write(end.get(), part, strlen(part)) < 0) return;
            }
        });
        int ticks = 0;
        load_options options;
        options.tick = [&](const load_progress&) { return ++ticks > 0; };
        load_progress progress;
        path_tree tree;
        const load_result result = load_fd(read_end.get(), options, progress, tree);
        writer.join();
        EXPECT_TRUE(result.status.ok()) << result.status.message();
        EXPECT_EQ(tree.size(), 4u);
        // About 450 ms of waiting at one tick per 50 ms.
        EXPECT_GE(ticks, 4) << (non_blocking ? "non-blocking" : "blocking");
        EXPECT_EQ(progress.lines.load(), 3u);
    }
}

// A tick that answers false ends the load, whether it waits on a pipe or
// works on a large list, and the helpers stop with it.
TEST(Load, TickCanCancel) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    unique_fd read_end(fds[0]), write_end(fds[1]);
    load_options options;
    options.tick = [](const load_progress&) { return false; };
    load_progress progress;
    path_tree tree;
    load_result result = load_fd(read_end.get(), options, progress, tree);
    EXPECT_TRUE(result.cancelled);
    EXPECT_TRUE(result.status.ok());

    std::string big;
    for (uint64_t i = 0; i < 400'000; i++)
        big += "m/usr/" + std::to_string(i * 7919 % 400'000) + "\n";
    for (int cancel_at : {1, 3, 8}) {
        int ticks = 0;
        options.tick = [&](const load_progress&) { return ++ticks < cancel_at; };
        options.threads = 2;
        result = load_buffer(std::string(big), options, progress, tree);
        if (result.cancelled) {
            EXPECT_EQ(ticks, cancel_at);
            EXPECT_EQ(tree.size(), 0u);
        } else {
            EXPECT_LT(ticks, cancel_at); // finished before the tick said no
        }
    }
}

// The wake descriptor brings a tick, also while a pipe keeps silent: with no
// tick due for an hour, only the wake can end this load.
TEST(Load, WakeDescriptorBringsATick) {
    int wake[2];
    ASSERT_EQ(pipe(wake), 0);
    unique_fd wake_read(wake[0]), wake_write(wake[1]);
    ASSERT_EQ(write(wake_write.get(), "x", 1), 1);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    unique_fd read_end(pipe_fds[0]), write_end(pipe_fds[1]);

    load_options options;
    options.wake_fd = wake_read.get();
    options.tuning.tick_period = std::chrono::hours(1);
    options.tick = [&](const load_progress&) {
        char drained;
        return read(wake_read.get(), &drained, 1) != 1; // the wake means stop
    };
    load_progress progress;
    path_tree tree;
    const load_result result = load_fd(read_end.get(), options, progress, tree);
    EXPECT_TRUE(result.cancelled);
}

TEST(HelperThreads, BlockEverySignalAndPassOnWhatTheyThrow) {
    std::vector<int> blocked(3, 0);
    helper_threads helpers(3, [&](unsigned helper) {
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        blocked[helper - 1] = sigismember(&mask, SIGINT) && sigismember(&mask, SIGTSTP) &&
                              sigismember(&mask, SIGTERM);
        if (helper == 2) throw std::runtime_error("helper 2 failed");
    });
    EXPECT_THROW(helpers.join(), std::runtime_error);
    EXPECT_EQ(blocked, std::vector<int>({1, 1, 1}));
    // The main thread's own mask is as it was.
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    EXPECT_FALSE(sigismember(&mask, SIGINT));
}

// A starter that lets `allowed` threads start, then fails as a process
// limit (RLIMIT_NPROC, a container's pids limit) makes std::thread fail.
thread_starter failing_after(unsigned allowed) {
    auto started = std::make_shared<std::atomic<unsigned>>(0);
    return [started, allowed](std::function<void()> body) {
        if (started->fetch_add(1) >= allowed)
            throw std::system_error(EAGAIN, std::generic_category(), "thread limit");
        return std::thread(std::move(body));
    };
}

// Helpers that cannot start leave their work to the others and the main
// thread: the load ends, with the same tree, whatever the threads asked for.
TEST(Load, HelpersThatCannotStartLeaveTheirWork) {
    std::mt19937 random(41);
    const std::string input = random_list(random, 3000, "ab/ .\n"s);
    const std::string expected = reference(input, {});
    for (unsigned threads : {2u, 3u, 4u}) {
        for (unsigned allowed = 0; allowed + 1 < threads; allowed++) {
            SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(allowed) +
                         " could start");
            load_options options = options_for({}, threads, tiny(input.size()));
            options.start_thread = failing_after(allowed);
            for (way w : {way::FILE, way::PIPE, way::BUFFER}) {
                SCOPED_TRACE(name_of(w));
                options.start_thread = failing_after(allowed);
                load_progress progress;
                path_tree tree;
                load_result result;
                if (w == way::FILE) {
                    input_file file(input);
                    result = load_fd(file.fd(), options, progress, tree);
                } else if (w == way::BUFFER) {
                    result = load_buffer(std::string(input), options, progress, tree);
                } else {
                    result = load_through_pipe(input, 4099, options, progress, tree);
                }
                ASSERT_TRUE(result.status.ok()) << result.status.message();
                EXPECT_EQ(dump(tree), expected);
                EXPECT_EQ(progress.lines.load(), count_lines(input, false));
            }
        }
    }
}

TEST(HelperThreads, RunAsManyAsCanStart) {
    for (unsigned allowed : {0u, 1u, 2u}) {
        std::atomic<unsigned> ran{0};
        helper_threads helpers(3, [&](unsigned helper) {
            EXPECT_LE(helper, allowed);
            ran++;
        }, failing_after(allowed));
        EXPECT_EQ(helpers.started(), allowed);
        EXPECT_TRUE(helpers.wait_for(std::chrono::seconds(10)));
        helpers.join();
        EXPECT_EQ(ran.load(), allowed);
    }
}

// A text as the loader makes it: runs of separators collapsed, the
// separator at the end.
std::string as_text(const std::string& line, char separator) {
    std::string text = line;
    text.resize(collapse_separators(text.data(), text.data(), text.size(), separator));
    if (text.empty() || text.back() != separator) text += separator;
    return text;
}

// The bucket of any text agrees with comparing it against every splitter,
// and so does the check of a guessed bucket.
TEST(Splitters, BucketIsTheNumberOfSplittersAtOrBelow) {
    std::mt19937 random(29);
    const std::string alphabet = "ab/ \t\x80"s;
    for (int round = 0; round < 40; round++) {
        std::vector<std::string> texts;
        size_t count = random() % 30;
        for (size_t i = 0; i < count; i++) {
            std::string text;
            size_t length = random() % 24;
            for (size_t j = 0; j < length; j++)
                text += alphabet[random() % alphabet.size()];
            texts.push_back(as_text(text, '/'));
        }
        const splitter_set splitters(texts, '/');
        ASSERT_EQ(splitters.bucket_count(), count + 1);
        for (int k = 0; k < 300; k++) {
            std::string line = k % 3 == 0 && count > 0 ? texts[random() % count] : "";
            if (k % 3 == 0 && !line.empty() && line.back() == '/') line.pop_back();
            size_t length = random() % 20;
            for (size_t j = 0; j < length && k % 3 != 0; j++)
                line += alphabet[random() % alphabet.size()];
            line.resize(collapse_separators(line.data(), line.data(), line.size(), '/'));
            std::string text = line.empty() || line.back() != '/' ? line + "/" : line;
            size_t expected = 0;
            for (const std::string& splitter : texts)
                expected += compare_line_order(splitter.c_str(), text.c_str(), '/') <= 0;
            ASSERT_EQ(splitters.bucket_of(line.data(), line.size()), expected)
                << "[" << line << "] round " << round;
            for (size_t b = 0; b <= count; b++)
                ASSERT_EQ(splitters.holds(b, line.data(), line.size()), b == expected)
                    << "[" << line << "] bucket " << b << " round " << round;
        }
    }
}

// The tree of keys finds the same bucket as comparing with every splitter,
// for splitters that share long prefixes (several levels of the tree, groups
// of one splitter, duplicates) and lines made from them: cut at and around every eighth byte, with a byte raised or
// lowered, with leading blanks, ending in the separator, empty, and with a
// blank separator, for which an all-blank line compares whole. Small sets
// come many times; a few sets are as large as the loader makes them, with
// nodes of many keys and samples as long as it takes.
TEST(Splitters, TreeAgreesWithComparingEverySplitter) {
    std::mt19937 random(31);
    const std::vector<std::string> parts = {"m0005", "usr", "share", "locale", "pl", "LC_MESSAGES",
                                            "a",     "ab",  " ",     "\t",     "",   "\xff\x01"};
    const std::string alphabet = "ab/ \t\n\x01\xff"s;
    struct shape {
        int rounds;
        size_t most_splitters, most_parts, longest;
        size_t cut_splitters; // how many splitters lines are cut from
    };
    for (const shape& sh : {shape{30, 40, 7, 80, 40}, shape{2, 3000, 40, 256, 120}}) {
        for (char separator : {'/', ' '}) {
            for (int round = 0; round < sh.rounds; round++) {
                std::vector<std::string> texts;
                const size_t count = 1 + random() % sh.most_splitters;
                for (size_t i = 0; i < count; i++) {
                    std::string text = i > 0 && random() % 4 == 0 ? texts[random() % i] : "";
                    // Splitters with blanks are searched by their texts;
                    // half the rounds have none, for the tree of keys.
                    if (round % 2 == 0 && random() % 3 == 0)
                        text.insert(0, random() % 3, random() % 2 ? ' ' : '\t');
                    const size_t depth = random() % sh.most_parts;
                    for (size_t d = 0; d < depth; d++)
                        text += parts[random() % parts.size()] + separator;
                    if (random() % 2 == 0) text += parts[random() % parts.size()];
                    texts.push_back(as_text(text.substr(0, sh.longest), separator));
                }
                std::vector<std::string> lines = {"", " ", "\t \t", std::string(1, separator),
                                                  std::string(9, separator)};
                for (size_t n = 0; n < sh.cut_splitters; n++) {
                    const std::string& text = texts[random() % texts.size()];
                    for (size_t cut = 0; cut <= text.size(); cut++) {
                        // Every cut of a short splitter; of a long one, those
                        // that end a key or come close.
                        if (text.size() > 24 && cut % 8 > 1 && cut % 8 < 7) continue;
                        const std::string line = text.substr(0, cut);
                        lines.push_back(line);
                        lines.push_back(line + separator);
                        lines.push_back("  " + line);
                        lines.push_back(line + alphabet[random() % alphabet.size()]);
                        if (cut < text.size()) {
                            std::string near = text;
                            near[cut] = static_cast<char>(near[cut] + 1);
                            lines.push_back(near);
                            near[cut] = static_cast<char>(near[cut] - 2);
                            lines.push_back(near);
                        }
                    }
                }
                for (int k = 0; k < 200; k++) {
                    std::string line;
                    for (size_t j = random() % 30; j > 0; j--)
                        line += alphabet[random() % alphabet.size()];
                    lines.push_back(line);
                }
                const splitter_set splitters(texts, separator);
                // The splitters in order, to count those at or below a line.
                std::vector<std::string> sorted = texts;
                const auto before = [separator](const std::string& a, const std::string& b) {
                    return compare_line_order(a.c_str(), b.c_str(), separator) < 0;
                };
                std::sort(sorted.begin(), sorted.end(), before);
                for (std::string line : lines) {
                    if (line.find('\0') != std::string::npos) continue;
                    // Lines come to the splitters with their runs collapsed.
                    line.resize(
                        collapse_separators(line.data(), line.data(), line.size(), separator));
                    const std::string text =
                        line.empty() || line.back() != separator ? line + separator : line;
                    const auto expected = static_cast<size_t>(
                        std::upper_bound(sorted.begin(), sorted.end(), text, before) - sorted.begin());
                    ASSERT_EQ(splitters.bucket_of(line.data(), line.size()), expected)
                        << "[" << line << "] round " << round;
                }
            }
        }
    }
}

// Where there are no memory files, a pipe is read into blocks of whole
// lines, a block growing for a line longer than itself.
TEST(ReadInput, BlocksHoldWholeLines) {
    const std::string input = "a/b\nccc\n" + std::string(300, 'x') + "\ny\0z\n" + "tail"s;
    for (bool nul_only : {false, true}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        unique_fd read_end(fds[0]);
        std::thread writer([&input, end = unique_fd(fds[1])] {
            for (size_t done = 0; done < input.size(); done += 7)
                if (write(end.get(), input.data() + done,
                          std::min<size_t>(7, input.size() - done)) < 0)
                    return;
        });
        load_options options;
        load_progress progress;
        tick_pacer pacer(options, progress);
        read_blocks blocks;
        const outcome read =
            read_input(read_end.get(), {'/', nul_only}, 16, pacer, progress, blocks);
        writer.join();
        ASSERT_TRUE(read.ok()) << read.message();
        std::string joined;
        for (size_t k = 0; k < blocks.parts.size(); k++) {
            const input_part& part = blocks.parts[k];
            joined.append(part.data, part.size);
            const char last = part.data[part.size - 1];
            if (k + 1 < blocks.parts.size()) {
                EXPECT_TRUE(last == '\0' || (!nul_only && last == '\n')) << "block " << k;
            }
        }
        EXPECT_EQ(joined, input);
        EXPECT_EQ(progress.bytes.load(), input.size());
        EXPECT_EQ(progress.lines.load(), count_lines(input, nul_only));
    }
}

TEST(CountLineEnds, CountsNewlinesAndNulBytes) {
    std::string bytes(1000, 'x');
    for (size_t i = 0; i < bytes.size(); i += 7)
        bytes[i] = i % 2 ? '\n' : '\0';
    size_t newlines = 0, nuls = 0;
    for (char c : bytes)
        newlines += c == '\n', nuls += c == '\0';
    for (size_t from : {size_t{0}, size_t{3}})
        for (size_t n : {size_t{0}, size_t{15}, size_t{16}, size_t{17}, size_t{990}}) {
            size_t nl = 0, nul = 0;
            for (size_t i = from; i < from + n; i++)
                nl += bytes[i] == '\n', nul += bytes[i] == '\0';
            EXPECT_EQ(count_line_ends(bytes.data() + from, n, false), nl + nul);
            EXPECT_EQ(count_line_ends(bytes.data() + from, n, true), nul);
        }
    EXPECT_EQ(count_line_ends(bytes.data(), bytes.size(), false), newlines + nuls);
}

} // namespace
