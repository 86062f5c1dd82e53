// Inputs that the fuzz targets found to go wrong, kept as tests so that they
// stay fixed in the ordinary build.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "plain_load.hpp"
#include "tree/path_tree.hpp"
#include "tree_fixture.hpp"

using namespace korvel;

using ::testing::ElementsAre;

namespace {

std::vector<std::string> all_full_paths(const path_tree& tree) {
    std::vector<std::string> out;
    for (uint64_t i = 0; i < tree.size(); i++)
        out.push_back(tree.full_path(i));
    return out;
}

// With a blank as the separator, leading blanks are ignored by the sort but
// split the line: ' x y z' is x, y, z under the empty top-level entry, and
// so is '  x y z', whose second, empty component is skipped. It can sort
// between ' x y z' and ' x y z w'; it makes no entry, so it must not stop
// the line after it from sharing x, y and z.
TEST(FuzzRegressions, LineEndingInsideTheSharedPartKeepsTheBranch) {
    const char* orders[][3] = {{" x y z ", "  x y z ", " x y z w "},
                               {"  x y z ", " x y z ", " x y z w "}};
    for (const auto& order : orders) {
        path_tree tree;
        ASSERT_TRUE(build_path_tree(lines_of({order[0], order[1], order[2]}), ' ', false, tree).ok());
        ASSERT_EQ(tree.size(), 5u) << order[0];
        EXPECT_THAT(all_full_paths(tree), ElementsAre(" ", " x", " x y", " x y z", " x y z w"));
        EXPECT_EQ(tree.at(4).parent, 3u);
    }
}

// The same through reading and sorting, whichever way the sort orders the
// two lines that compare equal.
TEST(FuzzRegressions, BlankSeparatorListBuildsOneBranch) {
    const path_tree tree = tree_of(" x y z\n  x y z\n x y z w\n", ' ');
    EXPECT_EQ(tree.size(), 5u);
    EXPECT_THAT(all_full_paths(tree), ElementsAre(" ", " x", " x y", " x y z", " x y z w"));
}

} // namespace
