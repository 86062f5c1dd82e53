// Inputs that the fuzz targets found to go wrong, kept as tests so that they
// stay fixed in the ordinary build.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "lines.hpp"
#include "paths.hpp"

using ::testing::ElementsAre;

namespace {

std::vector<std::string> all_full_paths() {
    std::vector<std::string> out;
    for (uint64_t i = 0; i < path_count(); i++)
        out.push_back(full_path(i));
    return out;
}

// With a blank as the separator, leading blanks are ignored by the sort but
// split the line: ' x y z' is x, y, z under the empty top-level entry, and
// '  x y z' ends at its doubled separator, naming only that entry. It can
// sort between ' x y z' and ' x y z w'; it makes no entry, so it must not
// stop the line after it from sharing x, y and z.
TEST(FuzzRegressions, LineEndingInsideTheSharedPartKeepsTheBranch) {
    const char* orders[][3] = {{" x y z ", "  x y z ", " x y z w "},
                               {"  x y z ", " x y z ", " x y z w "}};
    for (const auto& order : orders) {
        std::vector<std::string> texts(order, order + 3);
        std::vector<char*> lines;
        for (std::string& text : texts)
            lines.push_back(text.data());
        unfolded_paths_t rows;
        ASSERT_EQ(get_paths(&rows, lines.data(), lines.size(), ' ', 0), 5u) << order[0];
        EXPECT_THAT(all_full_paths(), ElementsAre(" ", " x", " x y", " x y z", " x y z w"));
        EXPECT_EQ(path_at(4).parent, 3u);
        free_paths(rows.items);
    }
}

// The same through reading and sorting, whichever way the sort orders the
// two lines that compare equal.
TEST(FuzzRegressions, BlankSeparatorListBuildsOneBranch) {
    std::string input = " x y z\n  x y z\n x y z w\n";
    FILE* stream = fmemopen(input.data(), input.size(), "r");
    ASSERT_NE(stream, nullptr);
    input_lines lines;
    ASSERT_EQ(get_lines(stream, ' ', &lines), 0);
    fclose(stream);
    sort_lines(lines.items, lines.count);
    unfolded_paths_t rows;
    EXPECT_EQ(get_paths(&rows, lines.items, lines.count, ' ', 0), 5u);
    EXPECT_THAT(all_full_paths(), ElementsAre(" ", " x", " x y", " x y z", " x y z w"));
    free_paths(rows.items);
    free_lines(&lines);
}

} // namespace
