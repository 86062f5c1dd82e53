#include "config/config.hpp"
#include "thread_state.hpp"

#include <gtest/gtest.h>

#include <grp.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace korvel;

namespace {

// A key as the configuration writes it, and its command.
using binding = std::pair<std::string, std::string>;

// The bindings in force, in key order.
std::vector<binding> bindings_of(const key_map& map) {
    std::vector<binding> out;
    for (const command* c : map.bindings())
        out.emplace_back(key_notation(c->key), c->text);
    return out;
}

std::vector<binding> bindings_of(const config& c) {
    return bindings_of(c.keys);
}

// The names of a few actions, as the viewer's table would know them.
bool test_action(std::string_view name) {
    return name == "cursor-down" || name == "quit" || name == "prompt-left";
}

struct file_closer {
    void operator()(FILE* file) const { fclose(file); }
};
using file_handle = std::unique_ptr<FILE, file_closer>;

struct parse_result {
    int status; // 0 read, 1 failed
    std::string error;
    std::vector<binding> bindings;
};

config config_of(const std::string& text, outcome& result) {
    config out;
    file_handle file(text.empty() ? fopen("/dev/null", "r")
                                  : fmemopen(const_cast<char*>(text.data()), text.size(), "r"));
    EXPECT_NE(file, nullptr);
    result = read_config_stream(file.get(), out, test_action);
    return out;
}

parse_result parse_text(const std::string& text) {
    outcome result;
    const config out = config_of(text, result);
    return {result ? 0 : 1, result.message(), bindings_of(out.keys)};
}

struct config_case {
    const char* name;
    std::string text;
    int expected_status;
    std::string expected_error; // only checked on failure
    std::vector<binding> expected_bindings;
};

// Listed by name: the default printer would dump the object's bytes, heap
// addresses included.
void PrintTo(const config_case& c, std::ostream* out) {
    *out << c.name;
}

class ConfigTextTest : public testing::TestWithParam<config_case> {};

TEST_P(ConfigTextTest, ParsesLikeTheFile) {
    const config_case& c = GetParam();
    parse_result result = parse_text(c.text);
    EXPECT_EQ(result.status, c.expected_status);
    EXPECT_EQ(result.error, c.expected_error);
    EXPECT_EQ(result.bindings, c.expected_bindings);
}

const std::string prefix = "Failed to read config: ";

// What a message becomes: cut to the bytes that an outcome keeps.
std::string as_kept(const std::string& message) {
    return message.substr(0, outcome::MESSAGE_MAX);
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, ConfigTextTest,
    testing::Values(
        config_case{"Empty", "", 0, "", {}},
        config_case{"BlanksAndComments",
                    "\n   \n\t\n# comment\n\"map x y\n  #indented\n#map x y\n",
                    0,
                    "",
                    {}},
        config_case{"OneBinding", "map x echo hi\n", 0, "", {{"x", "echo hi"}}},
        config_case{
            "BlanksInsideAndAtEndKept", "  map \t x   ls -l  \n", 0, "", {{"x", "ls -l  "}}},
        config_case{"TabsSeparate", "map\tx\tls\n", 0, "", {{"x", "ls"}}},
        config_case{
            "LastLineWithoutNewline", "map x ls\nmap a one", 0, "", {{"a", "one"}, {"x", "ls"}}},
        config_case{"LaterBindingWins", "map x one\nmap x two\n", 0, "", {{"x", "two"}}},
        config_case{"LaterBindingWinsAmongOthers",
                    "map x one\nmap a first\nmap x two\nmap b second\n",
                    0,
                    "",
                    {{"a", "first"}, {"b", "second"}, {"x", "two"}}},
        config_case{"HashAfterBindingIsCommand",
                    "map x echo # not a comment\n",
                    0,
                    "",
                    {{"x", "echo # not a comment"}}},
        // A file saved with CR LF ends reads like one with LF ends.
        config_case{"CarriageReturnBeforeNewlineEndsTheLine",
                    "map x ls\r\n\r\n  \r\n# comment\r\nmap y echo a\r\n",
                    0,
                    "",
                    {{"x", "ls"}, {"y", "echo a"}}},
        config_case{"CarriageReturnElsewhereStays",
                    "map x a\rb\r\r\nmap y ls\r",
                    0,
                    "",
                    {{"x", "a\rb\r"}, {"y", "ls\r"}}},
        config_case{"Command126BytesWithCrLf",
                    "map x " + std::string(126, 'c') + "\r\n",
                    0,
                    "",
                    {{"x", std::string(126, 'c')}}},
        config_case{"Command126BytesWithNewline",
                    "map x " + std::string(126, 'c') + "\n",
                    0,
                    "",
                    {{"x", std::string(126, 'c')}}},
        config_case{"Command127BytesAtEndOfFile",
                    "map x " + std::string(127, 'c'),
                    0,
                    "",
                    {{"x", std::string(127, 'c')}}},
        // The line is taken as a C string: a NUL byte ends it there.
        config_case{"NulEndsTheCommand",
                    std::string("map x ls\0 junk\nmap y echo\n", 26),
                    0,
                    "",
                    {{"x", "ls"}, {"y", "echo"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Blanks are the space, the tab and the newline, nothing else; only the
// first byte of the first token makes a comment.
INSTANTIATE_TEST_SUITE_P(
    Tokens, ConfigTextTest,
    testing::Values(
        config_case{"KeyMayBePunctuation", "map # b\nmap \" c\n", 0, "", {{"\"", "c"}, {"#", "b"}}},
        config_case{"QuoteInsideATokenIsPartOfIt",
                    "ma\"p x ls\n",
                    1,
                    prefix + "line 1: unknown command ma\"p",
                    {}},
        config_case{"VerticalTabIsNoBlank",
                    "map\v x ls\n",
                    1,
                    prefix + "line 1: unknown command map\v",
                    {}},
        config_case{"FormFeedIsNoBlank",
                    "map x\f ls\n",
                    1,
                    prefix + "line 1: mapping cannot consist of multiple characters: x\f",
                    {}},
        config_case{"ControlAndHighBytesMakeTokens",
                    "\x01\xff x\n",
                    1,
                    prefix + "line 1: unknown command \x01\xff",
                    {}},
        config_case{"KeyThenNewlineOnly",
                    "map x\n\n",
                    1,
                    prefix + "line 1: map requires two arguments",
                    {}},
        config_case{"NulBeforeTheCommand",
                    std::string("map x\0 ls\n", 10),
                    1,
                    prefix + "line 1: map requires two arguments",
                    {}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Refused, ConfigTextTest,
    testing::Values(
        config_case{"KeyOfTwoBytes",
                    "map xy ls\n",
                    1,
                    prefix + "line 1: mapping cannot consist of multiple characters: xy",
                    {}},
        config_case{"NoKey", "map\n", 1, prefix + "line 1: map requires two arguments", {}},
        config_case{
            "NoCommand", "map x   \n", 1, prefix + "line 1: map requires two arguments", {}},
        config_case{
            "NoCommandAtEndOfFile", "map x", 1, prefix + "line 1: map requires two arguments", {}},
        config_case{"LongerWord", "maps x ls\n", 1, prefix + "line 1: unknown command maps", {}},
        config_case{"OtherWord", "nmap x ls\n", 1, prefix + "line 1: unknown command nmap", {}},
        config_case{"ShortenedWordM", "m x ls\n", 1, prefix + "line 1: unknown command m", {}},
        config_case{"ShortenedWordMa", "ma x ls\n", 1, prefix + "line 1: unknown command ma", {}},
        config_case{"CaseMatters", "MAP x ls\n", 1, prefix + "line 1: unknown command MAP", {}},
        config_case{"LineOfCarriageReturnOnly", "\r", 1, prefix + "line 1: unknown command \r", {}},
        config_case{"KeyThenCrLfOnly",
                    "map x\r\n",
                    1,
                    prefix + "line 1: map requires two arguments",
                    {}},
        config_case{"Command127BytesWithNewline",
                    "map x " + std::string(127, 'c') + "\n",
                    1,
                    prefix + "line 1: command length cannot be longer than or equal to 128",
                    {}},
        config_case{"Command128BytesAtEndOfFile",
                    "map x " + std::string(128, 'c'),
                    1,
                    prefix + "line 1: command length cannot be longer than or equal to 128",
                    {}},
        config_case{"LineNumberCountsBlanksAndComments",
                    "\n# comment\nmap xy z\n",
                    1,
                    prefix + "line 3: mapping cannot consist of multiple characters: xy",
                    {}},
        config_case{"EarlierBindingsStay",
                    "map b two\nmap a one\nbad\nmap c three\n",
                    1,
                    prefix + "line 3: unknown command bad",
                    {{"a", "one"}, {"b", "two"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// A line is one line whatever its length. Several of these were read as two
// or more lines once, in pieces of 191 bytes.
const std::string long_comment =
    ("# " + std::string(189, 'c') + " map y second " + std::string(300, 'c')).substr(0, 300);

INSTANTIATE_TEST_SUITE_P(
    LongLines, ConfigTextTest,
    testing::Values(
        config_case{"CommentBindsNothingAndCountsOnce",
                    long_comment + "\n\nmap\n",
                    1,
                    prefix + "line 3: map requires two arguments",
                    {}},
        config_case{
            "LongCommentsOnly", "#" + std::string(249, 'c') + "\n" + long_comment, 0, "", {}},
        config_case{"LineNumbersAfterSeveralLongLines",
                    long_comment + "\n" + long_comment + "\n" + long_comment + "\nbad\n",
                    1,
                    prefix + "line 4: unknown command bad",
                    {}},
        config_case{"MapLineFailsOnLength",
                    "map x " + std::string(293, 'c') + "\n",
                    1,
                    prefix + "line 1: command length cannot be longer than or equal to 128",
                    {}},
        config_case{"CommandPastByte191FailsOnLength",
                    "map x" + std::string(150, ' ') + std::string(145, 'c') + "\n",
                    1,
                    prefix + "line 1: command length cannot be longer than or equal to 128",
                    {}},
        config_case{"ShortCommandAfterLongBlanks",
                    "map x" + std::string(100, ' ') + std::string(120, 'c') + "\n",
                    0,
                    "",
                    {{"x", std::string(120, 'c')}}},
        config_case{"BlanksBeforeTheWord",
                    std::string(5000, ' ') + "map x ls\nmap y \t" + std::string(3000, '\t') +
                        "echo\n",
                    0,
                    "",
                    {{"x", "ls"}, {"y", "echo"}}},
        config_case{"LongWordCutInTheMessage",
                    "n" + std::string(400, 'm') + " x ls\n",
                    1,
                    as_kept(prefix + "line 1: unknown command n" + std::string(400, 'm')),
                    {}},
        config_case{"LongKeyCutInTheMessage",
                    "map " + std::string(300, 'k') + " ls\n",
                    1,
                    as_kept(prefix + "line 1: mapping cannot consist of multiple characters: " +
                            std::string(300, 'k')),
                    {}}),
    [](const auto& info) { return std::string(info.param.name); });

std::atomic<int> signals_caught{0};
void count_signal(int) {
    ++signals_caught;
}

TEST(ConfigText, ReadInterruptedBySignalIsRepeated) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = count_signal; // no SA_RESTART: the blocked read fails with EINTR
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    file_handle reader(fdopen(fds[0], "r"));
    ASSERT_NE(reader, nullptr);
    pthread_t parser_thread = pthread_self();
    pid_t parser_tid = gettid();
    std::thread writer([&] {
        EXPECT_EQ(write(fds[1], "map a one\nmap b", 15), 15);
        for (int i = 0; i < 3; ++i) {
            while (!thread_sleeping(parser_tid))
                std::this_thread::yield();
            int before = signals_caught;
            pthread_kill(parser_thread, SIGUSR1);
            while (signals_caught == before)
                std::this_thread::yield();
        }
        EXPECT_EQ(write(fds[1], " two\nmap c three", 16), 16);
        close(fds[1]);
    });
    config map;
    const outcome result = read_config_stream(reader.get(), map, test_action);
    writer.join();
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_TRUE(result.ok()) << result.message();
    EXPECT_EQ(signals_caught, 3);
    EXPECT_EQ(bindings_of(map), (std::vector<binding>{{"a", "one"}, {"b", "two"}, {"c", "three"}}));
}

// Keys beyond one ASCII character, in `map` lines.
INSTANTIATE_TEST_SUITE_P(
    Keys, ConfigTextTest,
    testing::Values(
        config_case{"MultiByteCharacter", "map é echo e\n", 0, "", {{"é", "echo e"}}},
        config_case{"FourByteCharacter", "map 🙂 echo s\n", 0, "", {{"🙂", "echo s"}}},
        config_case{"ControlKey", "map <c-e> echo c\n", 0, "", {{"<c-e>", "echo c"}}},
        config_case{"NamesIgnoreCase", "map <C-E> one\nmap <c-e> two\n", 0, "", {{"<c-e>", "two"}}},
        config_case{"ControlByteIsItsControlKey", "map \x05 echo c\n", 0, "", {{"<c-e>", "echo c"}}},
        config_case{"AltKey", "map <a-e> echo a\n", 0, "", {{"<a-e>", "echo a"}}},
        config_case{"AltKeepsTheLetterCase", "map <a-E> up\nmap <a-e> low\n", 0, "",
                    {{"<a-E>", "up"}, {"<a-e>", "low"}}},
        config_case{"AltWithControlAndSpecialKeys", "map <a-c-e> x\nmap <a-up> y\n", 0, "",
                    {{"<a-c-e>", "x"}, {"<a-up>", "y"}}},
        config_case{"FunctionKeys", "map <f1> one\nmap <F12> twelve\n", 0, "",
                    {{"<f12>", "twelve"}, {"<f1>", "one"}}},
        config_case{"SpecialKeys",
                    "map <enter> a\nmap <esc> b\nmap <tab> c\nmap <space> d\nmap <bs> e\n"
                    "map <del> f\nmap <up> g\nmap <s-tab> h\nmap <pgdn> i\nmap <lt> j\n",
                    0, "",
                    {{"<space>", "d"}, {"<lt>", "j"}, {"<tab>", "c"}, {"<enter>", "a"},
                     {"<esc>", "b"}, {"<bs>", "e"}, {"<s-tab>", "h"}, {"<up>", "g"},
                     {"<pgdn>", "i"}, {"<del>", "f"}}},
        // The same key under two names is one binding.
        config_case{"AliasesAreOneKey", "map <c-i> one\nmap <tab> two\nmap <c-m> three\n", 0, "",
                    {{"<tab>", "two"}, {"<enter>", "three"}}},
        config_case{"LessThanAlone", "map < echo lt\n", 0, "", {{"<lt>", "echo lt"}}},
        config_case{"UnknownName", "map <f13> ls\n", 1, prefix + "line 1: unknown key <f13>", {}},
        config_case{"UnknownControl", "map <c-1> ls\n", 1, prefix + "line 1: unknown key <c-1>", {}},
        config_case{"BrokenUtf8", "map \xe9 ls\n", 1, prefix + "line 1: unknown key \xe9", {}},
        config_case{"TwoMultiByteCharacters", "map éé ls\n", 1,
                    prefix + "line 1: mapping cannot consist of multiple characters: éé", {}},
        config_case{"EmptyBrackets", "map <> ls\n", 1,
                    prefix + "line 1: mapping cannot consist of multiple characters: <>", {}}),
    [](const auto& info) { return std::string(info.param.name); });

// `set` and `bind` lines: what the file chose, or the line that failed.
struct line_case {
    const char* name;
    std::string text;
    std::string expected_error; // "" when the file is read
    settings expected_settings;
    std::vector<std::pair<std::string, std::string>> expected_rebindings; // key, action
};

void PrintTo(const line_case& c, std::ostream* out) {
    *out << c.name;
}

class ConfigLineTest : public testing::TestWithParam<line_case> {};

TEST_P(ConfigLineTest, ReadsTheLine) {
    const line_case& c = GetParam();
    outcome result;
    const config out = config_of(c.text, result);
    EXPECT_EQ(result.message(), c.expected_error);
    EXPECT_TRUE(out.chosen == c.expected_settings);
    std::vector<std::pair<std::string, std::string>> rebindings;
    for (const key_rebinding& r : out.rebindings)
        rebindings.emplace_back(key_notation(r.key), r.action);
    EXPECT_EQ(rebindings, c.expected_rebindings);
}

settings with(void (*change)(settings&)) {
    settings s;
    change(s);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ConfigLineTest,
    testing::Values(
        line_case{"Nothing", "# only a comment\n", "", {}, {}},
        line_case{"EveryBoolean",
                  "set fold on\nset counts true\nset compact yes\nset cancel-status on\n"
                  "set one-file-system on\n",
                  "",
                  with([](settings& s) {
                      s.fold = s.counts = s.compact = s.cancel_status = s.one_file_system = true;
                  }),
                  {}},
        line_case{"Off", "set fold off\nset counts false\nset compact no\n", "",
                  with([](settings& s) { s.fold = s.counts = s.compact = false; }), {}},
        line_case{"LaterLineWins", "set fold on\nset fold off\n", "",
                  with([](settings& s) { s.fold = false; }), {}},
        line_case{"IgnoreCase", "set ignore-case on\n", "",
                  with([](settings& s) { s.letter_case = case_mode::IGNORE; }), {}},
        line_case{"SmartCase", "set ignore-case on\nset smart-case on\n", "",
                  with([](settings& s) { s.letter_case = case_mode::SMART; }), {}},
        line_case{"CaseOff", "set smart-case on\nset smart-case off\n", "",
                  with([](settings& s) { s.letter_case = case_mode::SENSITIVE; }), {}},
        line_case{"UnknownName", "set fold on\nset folding on\n",
                  prefix + "line 2: unknown setting folding",
                  with([](settings& s) { s.fold = true; }), {}},
        line_case{"NotABoolean", "set fold 1\n", prefix + "line 1: on or off expected: 1", {}, {}},
        line_case{"ValuesAreLowerCase", "set fold ON\n", prefix + "line 1: on or off expected: ON",
                  {}, {}},
        line_case{"NoValue", "set fold\n", prefix + "line 1: set requires a name and a value", {},
                  {}},
        line_case{"NoName", "set\n", prefix + "line 1: set requires a name and a value", {}, {}},
        line_case{"TooMany", "set fold on off\n",
                  prefix + "line 1: set requires a name and a value", {}, {}},
        line_case{"CommandLineOnlyOptionsAreNoSettings", "set separator :\n",
                  prefix + "line 1: unknown setting separator", {}, {}},
        line_case{"Preview",
                  "set preview on\nset preview-window bottom:30%\n"
                  "set preview-command   bat --color=always -- \"$f\"\r\n",
                  "",
                  with([](settings& s) {
                      s.preview = true;
                      s.preview_window = pane_place{pane_side::BOTTOM, 30};
                      s.preview_command = "bat --color=always -- \"$f\"";
                  }),
                  {}},
        line_case{"PreviewOff", "set preview on\nset preview off\n", "",
                  with([](settings& s) { s.preview = false; }), {}},
        line_case{"PreviewWindowWithoutSize", "set preview-window right\n", "",
                  with([](settings& s) { s.preview_window = pane_place{pane_side::RIGHT, 50}; }),
                  {}},
        line_case{"PreviewWindowSizes", "set preview-window right:1%\nset preview-window right:99%\n",
                  "",
                  with([](settings& s) { s.preview_window = pane_place{pane_side::RIGHT, 99}; }),
                  {}},
        line_case{"RefusedPreviewWindowKeepsTheEarlierOne",
                  "set preview-window right:30%\nset preview-window left\n",
                  prefix + "line 2: invalid preview window: left (right or bottom, then :SIZE% if "
                           "you like)",
                  with([](settings& s) { s.preview_window = pane_place{pane_side::RIGHT, 30}; }),
                  {}},
        line_case{"PreviewWindowUnknownSide", "set preview-window left\n",
                  prefix + "line 1: invalid preview window: left (right or bottom, then :SIZE% if "
                           "you like)",
                  {}, {}},
        line_case{"PreviewWindowSizeOutOfRange", "set preview-window bottom:0%\n",
                  prefix + "line 1: invalid preview window: bottom:0% (right or bottom, then "
                           ":SIZE% if you like)",
                  {}, {}},
        line_case{"PreviewWindowSizeWithoutPercent", "set preview-window bottom:100\n",
                  prefix + "line 1: invalid preview window: bottom:100 (right or bottom, then "
                           ":SIZE% if you like)",
                  {}, {}},
        line_case{"PreviewWindowIsOneWord", "set preview-window right :30%\n",
                  prefix + "line 1: set requires a name and a value", {}, {}},
        line_case{"PreviewCommandNeedsOne", "set preview-command \t\n",
                  prefix + "line 1: set requires a name and a value", {}, {}},
        line_case{"LaterPreviewCommandWins", "set preview-command cat\nset preview-command head -5\n",
                  "", with([](settings& s) { s.preview_command = "head -5"; }), {}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Bindings, ConfigLineTest,
    testing::Values(
        line_case{"Bind", "bind J cursor-down\n", "", {}, {{"J", "cursor-down"}}},
        line_case{"BindSpecialKeys", "bind <c-e> quit\nbind <a-h> prompt-left\n", "", {},
                  {{"<c-e>", "quit"}, {"<a-h>", "prompt-left"}}},
        line_case{"UnbindAndRebindInOrder", "bind q\nbind <esc>\nbind x quit\n", "", {},
                  {{"q", ""}, {"<esc>", ""}, {"x", "quit"}}},
        line_case{"UnknownAction", "bind J cursor-sideways\n",
                  prefix + "line 1: unknown action cursor-sideways", {}, {}},
        line_case{"NoKey", "bind\n", prefix + "line 1: bind requires a key", {}, {}},
        line_case{"TwoActions", "bind J cursor-down quit\n",
                  prefix + "line 1: bind takes a key and one action", {}, {}},
        line_case{"BadKey", "bind <f0> quit\n", prefix + "line 1: unknown key <f0>", {}, {}},
        line_case{"LongKey", "bind JK quit\n",
                  prefix + "line 1: mapping cannot consist of multiple characters: JK", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Every key the notation names reads back as itself.
TEST(KeyNotation, ReadsBackWhatItWrites) {
    std::vector<key_press> keys;
    for (uint32_t ch : {uint32_t{'a'}, uint32_t{'Z'}, uint32_t{' '}, uint32_t{'<'}, uint32_t{'>'},
                        uint32_t{0xE9}, uint32_t{0x1F642}})
        keys.push_back({0, ch, false});
    for (uint16_t k = 1; k < 0x20; ++k)
        if (k != 0x08) keys.push_back({k, 0, false});
    for (int k = TB_KEY_BACK_TAB; k <= TB_KEY_F1; ++k)
        keys.push_back({static_cast<uint16_t>(k), 0, false});
    keys.push_back({TB_KEY_BACKSPACE2, 0, false});
    const size_t plain = keys.size();
    for (size_t i = 0; i < plain; ++i) keys.push_back({keys[i].key, keys[i].ch, true});
    for (const key_press& k : keys) {
        const std::string written = key_notation(k);
        SCOPED_TRACE(written);
        const std::optional<key_press> read = parse_key(written);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(*read, k);
    }
}

// -- The key map ------------------------------------------------------------

TEST(KeyMap, FindsTheKeyExactly) {
    key_map map;
    map.add('x', "one");
    map.add('a', "first");
    map.add('a', "second");
    map.add(key_press{0, 0xE9, false}, "latin");
    map.add(key_press{TB_KEY_CTRL_E, 0, false}, "control");
    map.add(key_press{0, 'x', true}, "alt");
    struct lookup {
        key_press key;
        const char* expected; // nullptr: nothing found
    };
    const lookup lookups[] = {
        {{0, 'x', false}, "one"},                 // bound once
        {{0, 'a', false}, "second"},              // the later binding
        {{0, 'b', false}, nullptr},               // never bound
        {{0, 0xE9, false}, "latin"},              // é, a character like any other
        {{0, 0x178, false}, nullptr},             // Ÿ, whose low byte is 'x'
        {{TB_KEY_CTRL_E, 0, false}, "control"},   //
        {{0, 'e', false}, nullptr},               // not Ctrl-E
        {{0, 'x', true}, "alt"},                  // Alt-x is not x
        {{TB_KEY_CTRL_E, 0, true}, nullptr},      // nor Alt-Ctrl-E Ctrl-E
    };
    for (const lookup& l : lookups) {
        SCOPED_TRACE(key_notation(l.key));
        const command* found = map.find(l.key);
        if (l.expected == nullptr) {
            EXPECT_EQ(found, nullptr);
        } else {
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->text, l.expected);
        }
    }
    for (const command* c : map.bindings())
        EXPECT_EQ(map.find(c->key), c);
}

TEST(KeyMap, TextIsCutAtNulAndAt127Bytes) {
    key_map map;
    map.add('a', std::string(200, 'c'));
    map.add('b', std::string("ls\0rm", 5));
    map.add('c', std::string(127, 'c'));
    EXPECT_EQ(bindings_of(map),
              (std::vector<binding>{
                  {"a", std::string(127, 'c')}, {"b", "ls"}, {"c", std::string(127, 'c')}}));
}

// read_config as a user whom permission bits stop. Root passes every such
// check, so a root test process runs it in a child that hands `dir` over to
// nobody (uid and gid 65534) and then becomes nobody; any other user runs it
// in a child too, as itself. The child sends back the status, a newline and
// the error text; when it cannot, the status is -1 and the error says why.
struct read_outcome {
    int status;
    std::string error;
};

read_outcome read_config_unprivileged(const std::string& dir) {
    constexpr uid_t NOBODY = 65534;
    int fds[2];
    if (pipe(fds) != 0) return {-1, std::string("pipe: ") + strerror(errno)};
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return {-1, std::string("fork: ") + strerror(errno)};
    }
    if (child == 0) {
        close(fds[0]);
        std::string report;
        const auto fail = [&](const char* what) {
            report = "-1\n" + std::string(what) + ": " + strerror(errno);
        };
        std::error_code error;
        if (geteuid() == 0) {
            if (lchown(dir.c_str(), NOBODY, NOBODY) != 0) fail("chown");
            for (auto it = std::filesystem::recursive_directory_iterator(dir, error);
                 report.empty() && !error && it != std::filesystem::recursive_directory_iterator();
                 it.increment(error))
                if (lchown(it->path().c_str(), NOBODY, NOBODY) != 0) fail("chown");
            if (error) report = "-1\nlisting " + dir + ": " + error.message();
            if (report.empty() && setgroups(0, nullptr) != 0) fail("setgroups");
            if (report.empty() && setgid(NOBODY) != 0) fail("setgid");
            if (report.empty() && setuid(NOBODY) != 0) fail("setuid");
        }
        if (report.empty()) {
            config map;
            const outcome result = read_config(map, test_action);
            // The message of a failure, the warning of a success.
            report = result ? "0\n" + map.warning : "1\n" + result.message();
        }
        const bool sent =
            write(fds[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
        _exit(sent ? 0 : 1);
    }
    close(fds[1]);
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0) {
            report.append(buffer, static_cast<size_t>(n));
        } else if (errno != EINTR) {
            break;
        }
    }
    close(fds[0]);
    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
    }
    const size_t newline = report.find('\n');
    if (!WIFEXITED(wait_status) || WEXITSTATUS(wait_status) != 0 || newline == std::string::npos)
        return {-1, "the child ended with wait status " + std::to_string(wait_status) +
                        " after sending \"" + report + "\""};
    return {std::stoi(report.substr(0, newline)), report.substr(newline + 1)};
}

// read_config finds its file through the environment; each test gets its own
// directory and the variables are put back afterwards.
class ConfigFileTest : public testing::Test {
  protected:
    static constexpr const char* VARIABLES[] = {"XDG_CONFIG_PATH", "XDG_CONFIG_HOME", "HOME"};

    void SetUp() override {
        for (const char* name : VARIABLES) {
            const char* value = getenv(name);
            saved.emplace_back(value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
        char pattern[] = "/tmp/korvel-config-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        for (size_t k = 0; k < saved.size(); ++k)
            set_variable(VARIABLES[k], saved[k]);
        // Tests take permissions away from the directory and the one inside.
        std::error_code ignored;
        for (const std::string& path : {dir, dir + "/korvel"})
            std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(dir);
    }

    static void set_variable(const char* name, const std::optional<std::string>& value) {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }

    // Writes text to dir/relative, creating the directories on the way.
    std::string write_file(const std::string& relative, const std::string& text) {
        std::filesystem::path path = dir + "/" + relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    std::string dir;
    std::vector<std::optional<std::string>> saved;
    config map;
};

// Which file is read, by the variables set. A value that does not start
// with '/' names a directory inside the test's own; so does an expected path.
struct location_case {
    const char* name;
    std::optional<std::string> xdg_config_path, xdg_config_home, home;
    std::string expected_path; // "" when no file can be named
    std::vector<binding> expected_bindings;
};

void PrintTo(const location_case& c, std::ostream* out) {
    *out << c.name;
}

class ConfigLocationTest : public ConfigFileTest,
                           public testing::WithParamInterface<location_case> {
  protected:
    std::string in_dir(const std::string& value) const {
        return value.empty() || value[0] == '/' ? value : dir + "/" + value;
    }
};

TEST_P(ConfigLocationTest, ReadsTheFileTheVariablesName) {
    const location_case& c = GetParam();
    write_file("xdg/korvel/config", "map p xdg-config-path\n");
    write_file("config/korvel/config", "map c xdg-config-home\n");
    write_file("home/.config/korvel/config", "map h home\n");
    const auto variable = [&](const std::optional<std::string>& value) {
        return value ? std::optional<std::string>(in_dir(*value)) : std::nullopt;
    };
    set_variable("XDG_CONFIG_PATH", variable(c.xdg_config_path));
    set_variable("XDG_CONFIG_HOME", variable(c.xdg_config_home));
    set_variable("HOME", variable(c.home));
    const std::string expected_path = in_dir(c.expected_path);
    if (!expected_path.empty() && expected_path.rfind(dir, 0) != 0 &&
        std::filesystem::exists(expected_path)) {
        GTEST_SKIP() << expected_path << " exists here";
    }
    EXPECT_EQ(config_file_path(), expected_path);
    const outcome result = read_config(map, test_action);
    EXPECT_TRUE(result.ok()) << result.message();
    EXPECT_EQ(bindings_of(map), c.expected_bindings);
}

using opt = std::optional<std::string>;
const opt unset = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Variables, ConfigLocationTest,
    testing::Values(
        location_case{"XdgConfigPathFirst",
                      opt("xdg"),
                      opt("config"),
                      opt("home"),
                      "xdg/korvel/config",
                      {{"p", "xdg-config-path"}}},
        location_case{"XdgConfigHomeBeforeHome",
                      unset,
                      opt("config"),
                      opt("home"),
                      "config/korvel/config",
                      {{"c", "xdg-config-home"}}},
        location_case{"XdgConfigHomeWithoutHome",
                      unset,
                      opt("config"),
                      unset,
                      "config/korvel/config",
                      {{"c", "xdg-config-home"}}},
        location_case{"EmptyXdgConfigHomeIsUnset",
                      unset,
                      opt(""),
                      opt("home"),
                      "home/.config/korvel/config",
                      {{"h", "home"}}},
        location_case{
            "HomeAlone", unset, unset, opt("home"), "home/.config/korvel/config", {{"h", "home"}}},
        location_case{"MissingFileUnderXdgConfigPathDoesNotFallBack",
                      opt("absent"),
                      opt("config"),
                      opt("home"),
                      "absent/korvel/config",
                      {}},
        location_case{"MissingFileUnderXdgConfigHomeDoesNotFallBack",
                      unset,
                      opt("absent"),
                      opt("home"),
                      "absent/korvel/config",
                      {}},
        location_case{"EmptyXdgConfigPathLooksAtTheRoot",
                      opt(""),
                      opt("config"),
                      opt("home"),
                      "/korvel/config",
                      {}},
        location_case{
            "EmptyHomeLooksAtTheRoot", unset, unset, opt(""), "/.config/korvel/config", {}},
        location_case{"NoneSet", unset, unset, unset, "", {}},
        location_case{"OnlyAnEmptyXdgConfigHome", unset, opt(""), unset, "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigFileTest, PathMustFitTheBuffer) {
    // "/korvel/config" adds 14 bytes; a path of 1023 bytes is opened.
    std::string base = dir + "/absent";
    while (base.size() < 1023 - 14)
        base += "/d";
    base.resize(1023 - 14);
    setenv("XDG_CONFIG_PATH", base.c_str(), 1);
    EXPECT_EQ(config_file_path().size(), 1023u);
    outcome result = read_config(map, test_action);
    EXPECT_TRUE(result.ok()) << result.message();

    // One byte more is refused, under every variable, and still named whole.
    const std::string too_long = base + "d";
    setenv("XDG_CONFIG_PATH", too_long.c_str(), 1);
    EXPECT_EQ(config_file_path(), too_long + "/korvel/config");
    result = read_config(map, test_action);
    EXPECT_FALSE(result.ok());
    // The message whole, then as much of the path as fits.
    EXPECT_EQ(result.message(),
              as_kept(prefix + strerror(ENAMETOOLONG) + " (in " + config_file_path() + ")"));

    unsetenv("XDG_CONFIG_PATH");
    setenv("XDG_CONFIG_HOME", too_long.c_str(), 1);
    result = read_config(map, test_action);
    EXPECT_EQ(result.message(),
              as_kept(prefix + strerror(ENAMETOOLONG) + " (in " + config_file_path() + ")"));

    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", std::string(1024 - 22, 'h').c_str(), 1); // "/.config/korvel/config"
    EXPECT_EQ(config_file_path().size(), 1024u);
    result = read_config(map, test_action);
    EXPECT_EQ(result.message(),
              as_kept(prefix + strerror(ENAMETOOLONG) + " (in " + config_file_path() + ")"));
    EXPECT_TRUE(map.keys.empty());
}

TEST_F(ConfigFileTest, DirectoryInPlaceOfFileFails) {
    std::filesystem::create_directories(dir + "/korvel/config");
    setenv("XDG_CONFIG_PATH", dir.c_str(), 1);
    const outcome result = read_config(map, test_action);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.message(), prefix + strerror(EISDIR) + " (in " + config_file_path() + ")");
}

TEST_F(ConfigFileTest, UnreadableFileFails) {
    std::string path = write_file("korvel/config", "map x ls\n");
    chmod(path.c_str(), 0);
    setenv("XDG_CONFIG_PATH", dir.c_str(), 1);
    const read_outcome result = read_config_unprivileged(dir);
    EXPECT_EQ(result.status, 1) << result.error;
    EXPECT_EQ(result.error, prefix + strerror(EACCES) + " (in " + path + ")");
}

// A folder on the way that cannot be searched hides whether there is a file
// at all: korvel starts as without one, and says so.
TEST_F(ConfigFileTest, UntraversableDirectoryIsLikeAMissingFileWithAWarning) {
    write_file("korvel/config", "map x ls\n");
    chmod((dir + "/korvel").c_str(), 0);
    setenv("XDG_CONFIG_PATH", dir.c_str(), 1);
    const read_outcome result = read_config_unprivileged(dir);
    EXPECT_EQ(result.status, 0) << result.error;
    EXPECT_EQ(result.error,
              "config not read: " + dir + "/korvel/config: " + strerror(EACCES));
}

TEST_F(ConfigFileTest, ParseErrorNamesTheLine) {
    write_file("korvel/config", "map a one\n\n# c\nmap\n");
    setenv("XDG_CONFIG_PATH", dir.c_str(), 1);
    const outcome result = read_config(map, test_action);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.message(), prefix + "line 4: map requires two arguments (in " + dir +
                                    "/korvel/config)");
    EXPECT_EQ(bindings_of(map), (std::vector<binding>{{"a", "one"}}));
}

// The file's own line numbers, past a comment far longer than any buffer.
TEST_F(ConfigFileTest, ParseErrorAfterLongCommentNamesTheLine) {
    write_file("korvel/config", "#" + std::string(100000, 'c') + "\nmap a one\nmap ab\n");
    setenv("XDG_CONFIG_PATH", dir.c_str(), 1);
    const outcome result = read_config(map, test_action);
    EXPECT_EQ(result.message(),
              prefix + "line 3: mapping cannot consist of multiple characters: ab (in " + dir +
                  "/korvel/config)");
    EXPECT_EQ(bindings_of(map), (std::vector<binding>{{"a", "one"}}));
}

TEST_F(ConfigFileTest, BindingHoldsExactlyTheCommand) {
    write_file("korvel/config", "map x ls");
    setenv("XDG_CONFIG_PATH", dir.c_str(), 1);
    ASSERT_TRUE(read_config(map, test_action).ok());
    const command* found = map.keys.find(*parse_key("x"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->text.size(), 2u);
    EXPECT_STREQ(found->text.c_str(), "ls");
}

using ConfigFileDeathTest = ConfigFileTest;

TEST_F(ConfigFileDeathTest, MapMustBeEmptyOnEntry) {
    map.keys.add('x', "ls");
    EXPECT_DEATH((void)read_config(map, test_action),
                 "read_config: Assertion `out.keys.empty\\(\\)' failed");
}

} // namespace
