#include <string>

#include <gtest/gtest.h>

#include "app/status.hpp"
#include "base/outcome.hpp"

using namespace korvel;

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
        status_line status;
        EXPECT_EQ(status.row(), ""); // nothing shown yet
        status.show(c.text);
        const std::string row = status.row();
        ASSERT_EQ(row.size(), 255u);
        EXPECT_EQ(row[0], ' ');
        EXPECT_EQ(row.substr(1), c.shown);
    }
}

TEST(StatusLine, StyleFollowsTheKindOfText) {
    status_line status;
    status.show_error("Pattern not found");
    EXPECT_EQ(status.style(), status_style::ERROR);
    status.show("a");
    EXPECT_EQ(status.style(), status_style::MESSAGE);
    status.showf(status_style::ERROR, "%s exited with status %d", "false", 1);
    EXPECT_EQ(status.row().substr(1, 28), "false exited with status 1  ");
    EXPECT_EQ(status.style(), status_style::ERROR);
}

TEST(StatusLine, FormattedTextsAreCutByBytes) {
    // "é" is two bytes: the 255-byte bound of a failure's message cuts it in half.
    const std::string text = std::string(254, 'a') + "é";
    EXPECT_EQ(outcome::failuref("%s", text.c_str()).message(), std::string(254, 'a') + "\xC3");
    status_line status;
    status.showf(status_style::MESSAGE, "Copied: %s", std::string(300, 'p').c_str());
    EXPECT_EQ(status.row().substr(1), "Copied: " + std::string(246, 'p'));
}

TEST(ErrorText, ControlCharactersNeverReachTheTerminalRaw) {
    testing::internal::CaptureStderr();
    print_error("korvel", "unknown command \x1b]0;pwned\x07\x7f\tok");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "korvel: unknown command \\x1B]0;pwned\\x07\\x7F\tok\n");
}

} // namespace
