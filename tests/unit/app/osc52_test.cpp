#include "app/osc52.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace korvel;

namespace {

using namespace std::string_literals;

// A name that tries everything: a clipboard write of its own, screen
// clearing, colours, a C1 CSI, NUL, DEL, a DCS opener and an ST.
const std::string HOSTILE_NAME = "\x1b]52;c;ZXZpbA==\x07\x1b[2J\x1b[31mred\x9b"
                                 "1m\0\x7f\x90tmux\x1bP\x1b\\"s;
const std::string HOSTILE_BASE64 = "G101MjtjO1pYWnBiQT09BxtbMkobWzMxbXJlZJsxbQB/kHRtdXgbUBtc";

TEST(Base64, EncodesWithPaddingAndTheWholeAlphabet) {
    struct encode_case {
        std::string bytes;
        const char* expected;
    };
    const encode_case cases[] = {
        {"", ""},
        {"a", "YQ=="},
        {"ab", "YWI="},
        {"abc", "YWJj"},
        {"abcd", "YWJjZA=="},
        {"\0"s, "AA=="},
        {"\xfb\xff", "+/8="},
        {"\xff\xff\xff", "////"},
        {HOSTILE_NAME, HOSTILE_BASE64.c_str()},
    };
    for (const encode_case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(base64_encode(c.bytes), c.expected);
    }
}

TEST(Osc52Sequence, FramesTheBase64ForEachWayToTheTerminal) {
    struct sequence_case {
        std::string text;
        osc52_wrap wrap;
        osc52_end end;
        std::string expected;
    };
    const sequence_case cases[] = {
        {"", osc52_wrap::NONE, osc52_end::BEL, "\x1b]52;c;\x07"},
        {"a", osc52_wrap::NONE, osc52_end::BEL, "\x1b]52;c;YQ==\x07"},
        {"ab", osc52_wrap::NONE, osc52_end::ST, "\x1b]52;c;YWI=\x1b\\"},
        {"abc", osc52_wrap::NONE, osc52_end::BEL, "\x1b]52;c;YWJj\x07"},
        {HOSTILE_NAME, osc52_wrap::NONE, osc52_end::BEL, "\x1b]52;c;" + HOSTILE_BASE64 + "\x07"},
        {"", osc52_wrap::SCREEN, osc52_end::BEL, "\x1bP\x1b]52;c;\x07\x1b\\"},
        // screen takes no ST inside its DCS: BEL whatever was asked.
        {"ab", osc52_wrap::SCREEN, osc52_end::ST, "\x1bP\x1b]52;c;YWI=\x07\x1b\\"},
        {HOSTILE_NAME, osc52_wrap::SCREEN, osc52_end::BEL,
         "\x1bP\x1b]52;c;" + HOSTILE_BASE64 + "\x07\x1b\\"},
    };
    for (const sequence_case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text) + " wrap " +
                     std::to_string(static_cast<int>(c.wrap)) + " end " +
                     std::to_string(static_cast<int>(c.end)));
        const std::string sequence = osc52_sequence(c.text, c.wrap, c.end);
        EXPECT_EQ(sequence, c.expected);
        EXPECT_TRUE(osc52_is_safe(sequence, c.wrap, c.end));
    }
}

// 300 bytes make 400 base64 characters and a 408-byte sequence: two DCS
// strings, the first as long as screen 4.0 takes.
TEST(Osc52Sequence, SplitsLongTextIntoScreenSizedStrings) {
    std::string payload;
    for (int i = 0; i < 100; ++i)
        payload += "YWFh";
    const std::string bare = "\x1b]52;c;" + payload + "\x07";
    const std::string expected =
        "\x1bP" + bare.substr(0, 252) + "\x1b\\" + "\x1bP" + bare.substr(252) + "\x1b\\";
    const std::string sequence = osc52_sequence(std::string(300, 'a'), osc52_wrap::SCREEN);
    EXPECT_EQ(sequence, expected);
    EXPECT_TRUE(osc52_is_safe(sequence, osc52_wrap::SCREEN));
    // An exact multiple of the chunk leaves no empty string behind.
    const std::string exact = osc52_sequence(std::string(183, 'a'), osc52_wrap::SCREEN);
    EXPECT_EQ(exact.size(), 4 + 252u); // 7 + 244 + 1 bytes inside
    EXPECT_TRUE(osc52_is_safe(exact, osc52_wrap::SCREEN));
}

TEST(Osc52IsSafe, RefusesAnythingBeyondFramingAndBase64) {
    struct refused_case {
        const char* why;
        std::string sequence;
        osc52_wrap wrap;
        osc52_end end;
    };
    const std::string raw_name = "\x1b]52;c;" + HOSTILE_NAME + "\x07";
    const refused_case cases[] = {
        {"empty", "", osc52_wrap::NONE, osc52_end::BEL},
        {"the name itself", raw_name, osc52_wrap::NONE, osc52_end::BEL},
        {"an escape in the payload", "\x1b]52;c;YQ\x1b[\x07", osc52_wrap::NONE, osc52_end::BEL},
        {"a BEL in the payload", "\x1b]52;c;YQ\x07=\x07", osc52_wrap::NONE, osc52_end::BEL},
        {"a length not in fours", "\x1b]52;c;YQ=\x07", osc52_wrap::NONE, osc52_end::BEL},
        {"padding in the middle", "\x1b]52;c;YQ==YWJj\x07", osc52_wrap::NONE, osc52_end::BEL},
        {"three padding bytes", "\x1b]52;c;Y===\x07", osc52_wrap::NONE, osc52_end::BEL},
        {"another selection", "\x1b]52;p;YQ==\x07", osc52_wrap::NONE, osc52_end::BEL},
        {"no terminator", "\x1b]52;c;YQ==", osc52_wrap::NONE, osc52_end::BEL},
        {"the other terminator", "\x1b]52;c;YQ==\x07", osc52_wrap::NONE, osc52_end::ST},
        {"bytes after the end", "\x1b]52;c;YQ==\x07\x1b[2J", osc52_wrap::NONE, osc52_end::BEL},
        {"bytes before the start", "x\x1b]52;c;YQ==\x07", osc52_wrap::NONE, osc52_end::BEL},
        {"screen, unwrapped", "\x1b]52;c;YQ==\x07", osc52_wrap::SCREEN, osc52_end::BEL},
        {"screen, an ST inside", "\x1bP\x1b]52;c;YQ==\x1b\\\x1b\\", osc52_wrap::SCREEN,
         osc52_end::ST},
        {"screen, a byte between strings", "\x1bP\x1b]52;c;\x1b\\x\x1bPYQ==\x07\x1b\\",
         osc52_wrap::SCREEN, osc52_end::BEL},
        {"screen, an empty string", "\x1bP\x1b]52;c;YQ==\x07\x1b\\\x1bP\x1b\\", osc52_wrap::SCREEN,
         osc52_end::BEL},
        {"screen, a string too long for screen",
         "\x1bP\x1b]52;c;" + std::string(248, 'A') + "\x07\x1b\\", osc52_wrap::SCREEN,
         osc52_end::BEL},
    };
    for (const refused_case& c : cases)
        EXPECT_FALSE(osc52_is_safe(c.sequence, c.wrap, c.end)) << c.why;
}

} // namespace
