// Inputs that the fuzz targets found to go wrong, kept as tests so that they
// stay fixed in the ordinary build.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "lines.hpp"
#include "paths.hpp"
#include "plain_load.hpp"
#include "tree_fixture.hpp"

using ::testing::ElementsAre;

namespace {

std::vector<std::string> all_full_paths(const path_tree& tree) {
    std::vector<std::string> out;
    for (uint64_t i = 0; i < tree.size(); i++)
        out.push_back(tree.full_path(i));
    return out;
}

// With a blank as the separator, a leading blank begins an absolute path:
// ' x y z' is x, y, z under the empty top-level entry, and so is '  x y z'
// once its run of separators is collapsed. A line that ends within the
// components it shares makes no entry, so it must not stop the line after
// it from sharing x, y and z.
TEST(FuzzRegressions, LineEndingInsideTheSharedPartKeepsTheBranch) {
    const char* orders[][3] = {{" x y z ", "  x y z ", " x y z w "},
                               {"  x y z ", " x y z ", " x y z w "}};
    for (const auto& order : orders) {
        path_tree tree;
        // The readers collapse runs of separators before the builder sees them.
        std::vector<std::string> texts(std::begin(order), std::end(order));
        for (std::string& text : texts)
            text.resize(collapse_separators(text.data(), text.data(), text.size(), ' '));
        ASSERT_TRUE(build_path_tree(lines_of(texts), ' ', false, tree).ok());
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
