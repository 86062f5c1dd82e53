#include <string>

#include <gtest/gtest.h>

#include "korvel/status.hpp"

namespace {

TEST(StatusLine, AlwaysTwoHundredFiftyFiveCharactersBehindOneBlank) {
    const struct {
        std::string text;
        std::string shown; // bytes 1..254
    } cases[] = {
        {"", std::string(254, ' ')},
        {"src/util", "src/util" + std::string(246, ' ')},
        {std::string(254, 'x'), std::string(254, 'x')},
        {std::string(300, 'y'), std::string(254, 'y')},
    };
    for (const auto& c : cases) {
        show_message(c.text.c_str());
        ASSERT_EQ(std::string(status_line).size(), 255u);
        EXPECT_EQ(status_line[0], ' ');
        EXPECT_EQ(std::string(status_line + 1), c.shown);
        EXPECT_EQ(status_line[255], '\0');
    }
}

TEST(StatusLine, ColoursFollowTheKindOfText) {
    show_error("Pattern not found");
    EXPECT_EQ(status_colors.fg, TB_WHITE);
    EXPECT_EQ(status_colors.bg, TB_RED);
    show_message("a");
    EXPECT_EQ(status_colors.fg, TB_BLACK);
    EXPECT_EQ(status_colors.bg, TB_WHITE);
    show_errorf("%s exited with status %d", "false", 1);
    EXPECT_EQ(std::string(status_line).substr(1, 28), "false exited with status 1  ");
    EXPECT_EQ(status_colors.bg, TB_RED);
}

TEST(StatusLine, FormattedTextsAreCutByBytes) {
    // "é" is two bytes: the 255-byte bound of a formatted error cuts it in half.
    std::string text = std::string(254, 'a') + "é";
    set_errorf("%s", text.c_str());
    EXPECT_EQ(std::string(error_text), std::string(254, 'a') + "\xC3");
    show_messagef("Copied: %s", std::string(300, 'p').c_str());
    EXPECT_EQ(std::string(status_line + 1), "Copied: " + std::string(246, 'p'));
}

TEST(ErrorText, ControlCharactersNeverReachTheTerminalRaw) {
    testing::internal::CaptureStderr();
    print_error("unknown command \x1b]0;pwned\x07\x7f\tok");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "korvel: unknown command \\x1B]0;pwned\\x07\\x7F\tok\n");
}

} // namespace
