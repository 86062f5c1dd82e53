#include "paths.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "plain_load.hpp"
#include "tree_fixture.hpp"
#include "tree_oracle.hpp"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// The direct children, from the tree-order layout.
std::vector<uint64_t> children_of(const path_tree& tree, uint64_t index) {
    std::vector<uint64_t> out;
    const path_entry& entry = tree.at(index);
    for (uint64_t child = index + 1; child < entry.subtree_end; child = tree.at(child).subtree_end)
        out.push_back(child);
    return out;
}

std::vector<uint64_t> all_entries(const path_tree& tree) {
    std::vector<uint64_t> out;
    for (uint64_t i = 0; i < tree.size(); i++) out.push_back(i);
    return out;
}

// The layout's own rules: parents come before their subtrees, depths and
// child counts agree, subtrees nest.
void expect_consistent_table(const path_tree& tree) {
    for (uint64_t i = 0; i < tree.size(); i++) {
        const path_entry& entry = tree.at(i);
        ASSERT_GT(entry.subtree_end, i);
        ASSERT_LE(entry.subtree_end, tree.size());
        EXPECT_EQ(children_of(tree, i).size(), entry.nchildren) << "entry " << i;
        if (entry.parent == NO_ENTRY) {
            EXPECT_EQ(entry.depth, 0u);
        } else {
            const path_entry& parent = tree.at(entry.parent);
            ASSERT_LT(entry.parent, i);
            EXPECT_EQ(entry.depth, parent.depth + 1);
            EXPECT_LE(entry.subtree_end, parent.subtree_end);
        }
    }
}

const char* const EXAMPLE = "b/x\na\n/etc\nb/y/z\na/c\n";

TEST(GetPaths, BuildsTheExampleTable) {
    path_tree tree = tree_of(EXAMPLE);
    ASSERT_EQ(tree.size(), 8u);
    ASSERT_EQ(tree.size(), 8u);
    struct {
        const char* name;
        const char* full_path;
        uint32_t depth;
        entry_index parent;
        std::vector<uint64_t> children;
    } expected[] = {
        {"", "/", 0, NO_ENTRY, {1}}, {"etc", "/etc", 1, 0, {}}, {"a", "a", 0, NO_ENTRY, {3}},
        {"c", "a/c", 1, 2, {}},      {"b", "b", 0, NO_ENTRY, {5, 6}}, {"x", "b/x", 1, 4, {}},
        {"y", "b/y", 1, 4, {7}},     {"z", "b/y/z", 2, 6, {}},
    };
    for (uint64_t i = 0; i < 8; i++) {
        const path_entry& entry = tree.at(i);
        SCOPED_TRACE(i);
        EXPECT_STREQ(entry.name, expected[i].name);
        EXPECT_EQ(tree.full_path(i), expected[i].full_path);
        EXPECT_EQ(entry.depth, expected[i].depth);
        EXPECT_EQ(entry.parent, expected[i].parent);
        EXPECT_EQ(children_of(tree, i), expected[i].children);
        EXPECT_EQ(entry.nchildren, expected[i].children.size());
        EXPECT_EQ(entry.folded, 0u);
    }
    EXPECT_EQ(tree.separator(), '/');
    EXPECT_THAT(visible(tree), ElementsAre(0, 1, 2, 3, 4, 5, 6, 7));
    expect_consistent_table(tree);
}

TEST(GetPaths, FoldByDefaultShowsTheTopLevelOnly) {
    path_tree tree = tree_of(EXAMPLE, '/', 1);
    ASSERT_EQ(tree.size(), 8u);
    EXPECT_THAT(visible(tree), ElementsAre(0, 2, 4));
    for (uint64_t i = 0; i < 8; i++) EXPECT_EQ(tree.at(i).folded, 1u) << "entry " << i;
}

// The names are copies in the tree's own store, back to back in the order
// the entries were made, so the line texts can go once the tree is built.
TEST(GetPaths, NamesLiveInTheTreesOwnStore) {
    path_tree tree;
    {
        input_lines lines = lines_of({"a/bb/ccc/", "a/d/"});
        ASSERT_TRUE(build_path_tree(std::move(lines), '/', false, tree).ok());
    }
    ASSERT_EQ(tree.size(), 4u);
    EXPECT_EQ(tree.at(1).name, tree.at(0).name + 2);
    EXPECT_EQ(tree.at(2).name, tree.at(0).name + 5);
    EXPECT_EQ(tree.at(3).name, tree.at(0).name + 9);
    EXPECT_STREQ(tree.at(2).name, "ccc");
    EXPECT_EQ(tree.full_path(3), "a/d");
}

// The tree of an input as indented full paths, one per entry in tree order.
std::vector<std::string> outline(const std::string& input, char separator = '/') {
    path_tree tree = tree_of(input, separator);
    expect_consistent_table(tree);
    std::vector<std::string> out;
    for (uint64_t i = 0; i < tree.size(); i++)
        out.push_back(std::string(2 * tree.at(i).depth, ' ') + tree.full_path(i));
    EXPECT_EQ(visible(tree), all_entries(tree)) << "every entry is visible without folding";
    return out;
}

struct outline_case {
    const char* name;
    std::string input;
    char separator;
    std::vector<std::string> expected;
};

class Sharing : public ::testing::TestWithParam<outline_case> {};

TEST_P(Sharing, BuildsTheTree) {
    const outline_case& c = GetParam();
    EXPECT_EQ(outline(c.input, c.separator), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    GetPaths, Sharing,
    ::testing::Values(
        outline_case{"duplicates", "a/b\na/b/\na/b\n", '/', {"a", "  a/b"}},
        outline_case{"parent_line_and_child", "a\na/b\n", '/', {"a", "  a/b"}},
        outline_case{"hyphen_sorts_first", "a\na-b\na/b\n", '/', {"a-b", "a", "  a/b"}},
        outline_case{"absolute_and_empty",
                     "/etc\n/\n\n/usr/lib\n",
                     '/',
                     {"/", "  /etc", "  /usr", "    /usr/lib"}},
        // Empty components between separators are skipped; an absolute
        // path keeps its empty first one.
        outline_case{"doubled_separator", "a//b\n", '/', {"a", "  a/b"}},
        outline_case{"doubled_separator_in_absolute_path", "/usr//bin/ls\n", '/',
                     {"/", "  /usr", "    /usr/bin", "      /usr/bin/ls"}},
        outline_case{"leading_doubled_separator", "//srv/share/file\n", '/',
                     {"/", "  /srv", "    /srv/share", "      /srv/share/file"}},
        outline_case{"separators_only", "//\n///\n", '/', {"/"}},
        outline_case{"doubled_and_single_share", "a//b\na/b\na/b//c\na///b/d\n", '/',
                     {"a", "  a/b", "    a/b/c", "    a/b/d"}},
        // Runs of separators are gone before the lines are ordered, so a//b
        // sorts as a/b does, and a//c cannot come between them.
        outline_case{"doubled_separator_sorts_as_single", "a//b/x\na/a\na/b/y\na//c\n", '/',
                     {"a", "  a/a", "  a/b", "    a/b/x", "    a/b/y", "  a/c"}},
        outline_case{"empty_lines_are_no_entries", "a\n\nb\n", '/', {"a", "b"}},
        outline_case{"doubled_dot_separator", "a..b\na.b.c\n", '.',
                     {"a", "  a.b", "    a.b.c"}},
        outline_case{"doubled_blank_separator", "  x  y\n x y z\n", ' ',
                     {" ", "   x", "     x y", "       x y z"}},
        outline_case{"blanks_in_first_component", " a/x\na/y\n", '/',
                     {" a", "   a/x", "a", "  a/y"}},
        // Lines whose first components are the same lie together, whatever
        // the blanks of the others.
        outline_case{"blank_led_directory_is_one_entry", " a/b\na/c\n a/d\n", '/',
                     {" a", "   a/b", "   a/d", "a", "  a/c"}},
        outline_case{"blanks_order_only_among_equals", "\tb/x\na/y\n b/z\nc\n", '/',
                     {"a", "  a/y", "\tb", "  \tb/x", " b", "   b/z", "c"}},
        outline_case{"siblings_split_later", "a/b/c\na/b/d\na/e\n", '/',
                     {"a", "  a/b", "    a/b/c", "    a/b/d", "  a/e"}},
        outline_case{"prefix_names", "ab/c\na/c\nabc\n", '/',
                     {"a", "  a/c", "ab", "  ab/c", "abc"}},
        outline_case{"dot_separator", "a.b\na.c\nx/y.z\n", '.',
                     {"a", "  a.b", "  a.c", "x/y", "  x/y.z"}},
        outline_case{"dot_separator_absolute", ".x\ncom.example.Foo\n", '.',
                     {".", "  .x", "com", "  com.example", "    com.example.Foo"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GetPaths, LinesNotEndingWithTheSeparator) {
    // Lines handed over by other means than get_lines may lack the final
    // separator; their last component ends at the NUL.
    path_tree tree;
    ASSERT_TRUE(
        build_path_tree(lines_of({"a", "a/", "a/b", "a/b/c/", "a/bc"}), '/', false, tree).ok());
    ASSERT_EQ(tree.size(), 4u);
    std::vector<std::string> paths;
    for (uint64_t i = 0; i < 4; i++) paths.push_back(tree.full_path(i));
    EXPECT_THAT(paths, ElementsAre("a", "a/b", "a/b/c", "a/bc"));
    EXPECT_THAT(children_of(tree, 0), ElementsAre(1, 3));
}

// Random lists with blanks, runs of separators, empty lines and names that
// sort around the separator: the tree is the tree of the list.
TEST(GetPaths, IsTheTreeOfTheList) {
    std::mt19937 random(3);
    const char alphabet[] = "ab/ -\t";
    for (char separator : {'/', ' '}) {
        for (int round = 0; round < 200; round++) {
            std::string input;
            std::vector<std::string> lines;
            int count = 1 + static_cast<int>(random() % 40);
            for (int i = 0; i < count; i++) {
                std::string line;
                int length = static_cast<int>(random() % 12);
                for (int j = 0; j < length; j++) line += alphabet[random() % (sizeof alphabet - 1)];
                if (random() % 4 != 0) line += separator;
                lines.push_back(line);
                input += line + '\n';
            }
            path_tree tree = tree_of(input, separator);
            ASSERT_EQ(tree_fault(tree, lines, separator), "")
                << "round " << round << " separator [" << separator << "]";
            expect_consistent_table(tree);
        }
    }
}

// Only the paths of the lines are lines: `a/b` and `a/b/` give a/b; the
// directories made to hold them, and the root of absolute paths, are not,
// unless they were lines too.
TEST(GetPaths, KnowsWhichEntriesWereLines) {
    struct lines_case {
        std::string input;
        char separator;
        std::vector<std::string> lines;
    } cases[] = {
        {"a/b/c\na/b/\n/x/y\n", '/', {"/x/y", "a/b", "a/b/c"}},
        {"/\n/x\n//x//\n\n", '/', {"/", "/x"}},
        {"a\na/b\nab\n", '/', {"a", "a/b", "ab"}},
        {"com.example.Foo\ncom..example\n", '.', {"com.example", "com.example.Foo"}},
        {" x y\nx  y z\n", ' ', {" x y", "x y z"}},
    };
    for (const lines_case& c : cases) {
        path_tree tree = tree_of(c.input, c.separator);
        std::vector<std::string> lines;
        for (uint64_t e = 0; e < tree.size(); e++)
            if (tree.is_line(e)) lines.push_back(tree.full_path(e));
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(lines, c.lines) << c.input;
        EXPECT_EQ(tree.line_entries().size(), tree.size());
    }
}

TEST(GetPaths, ManyLines) {
    // Enough lines that the build hands back the line array as it goes.
    std::string input;
    for (int d = 0; d < 140; d++) {
        for (int f = 0; f < 500; f++) {
            input.append("d").append(std::to_string(d));
            input.append("/f").append(std::to_string(f)).append("\n");
        }
    }
    path_tree tree = tree_of(input);
    ASSERT_EQ(tree.size(), 140u * 501u);
    EXPECT_EQ(tree.row_count(), tree.size());
    EXPECT_EQ(tree.full_path(tree.size() - 1), "d99/f99");
    EXPECT_EQ(tree.at(0).nchildren, 500u);
    EXPECT_EQ(tree.at(tree.size() - 501).subtree_end, tree.size());
}

TEST(GetPaths, RefusesMoreEntriesThanTheLimit) {
    path_tree tree;
    const outcome refused = build_path_tree(lines_of({"a/b/c/", "a/d/"}), '/', false, tree, 3);
    EXPECT_THAT(refused.message(), HasSubstr("too many entries"));
    EXPECT_EQ(tree.size(), 0u);
    EXPECT_EQ(tree.row_count(), 0u);

    EXPECT_TRUE(build_path_tree(lines_of({"a/b/c/", "a/d/"}), '/', false, tree, 4).ok());
    EXPECT_EQ(tree.size(), 4u);
}

TEST(FullPath, AppendsToWhatIsThere) {
    path_tree tree = tree_of(EXAMPLE);
    std::string out = "> ";
    tree.append_full_path(7, out);
    tree.append_full_path(0, out);
    EXPECT_EQ(out, "> b/y/z/");
}

// Folding, with the example table.
TEST(Folding, FoldAndUnfoldRestoreTheRows) {
    path_tree tree = tree_of(EXAMPLE);
    EXPECT_EQ(tree.fold_row(4), 3u); // b: x, y, z go
    EXPECT_THAT(visible(tree), ElementsAre(0, 1, 2, 3, 4));
    EXPECT_EQ(tree.at(4).folded, 1u);
    EXPECT_EQ(tree.at(6).folded, 0u);
    EXPECT_EQ(tree.unfold_row(4), 3u); // z comes back under y
    EXPECT_THAT(visible(tree), ElementsAre(0, 1, 2, 3, 4, 5, 6, 7));
    EXPECT_EQ(tree.at(4).folded, 0u);
}

TEST(Folding, InnerFoldSurvivesTheOuterOne) {
    path_tree tree = tree_of(EXAMPLE);
    EXPECT_EQ(tree.fold_row(6), 1u); // y
    EXPECT_EQ(tree.fold_row(4), 2u); // b
    EXPECT_THAT(visible(tree), ElementsAre(0, 1, 2, 3, 4));
    EXPECT_EQ(tree.unfold_row(4), 2u);
    EXPECT_THAT(visible(tree), ElementsAre(0, 1, 2, 3, 4, 5, 6));
    EXPECT_EQ(tree.at(6).folded, 1u);
}

TEST(Folding, LeavesOnlyChangeTheirFlag) {
    path_tree tree = tree_of(EXAMPLE);
    EXPECT_EQ(tree.fold_row(1), 0u); // etc
    EXPECT_EQ(tree.at(1).folded, 1u);
    EXPECT_EQ(tree.row_count(), 8u);
    EXPECT_EQ(tree.unfold_row(1), 0u);
    EXPECT_EQ(tree.at(1).folded, 0u);
    // Unfolding what already shows its children inserts nothing.
    EXPECT_EQ(tree.unfold_row(4), 0u);
    EXPECT_EQ(tree.row_count(), 8u);
}

TEST(Folding, UnfoldNestedPathRevealsAnEntry) {
    path_tree tree = tree_of(EXAMPLE, '/', 1);
    EXPECT_EQ(tree.reveal(7), 5u); // z
    EXPECT_THAT(visible(tree), ElementsAre(0, 2, 4, 5, 6, 7));
    for (uint64_t i = 0; i < 8; i++)
        EXPECT_EQ(tree.at(i).folded, i == 4 || i == 6 || i == 7 ? 0u : 1u) << "entry " << i;
    EXPECT_EQ(tree.row_of(7), 5);
    EXPECT_EQ(tree.row_of(3), -1);
}

TEST(Folding, UnfoldNestedPathOnVisibleEntries) {
    path_tree tree = tree_of(EXAMPLE);
    EXPECT_EQ(tree.reveal(5), 5u); // nothing folded on the way
    EXPECT_EQ(tree.row_count(), 8u);
    tree.fold_row(4);
    EXPECT_EQ(tree.reveal(4), 4u); // a visible, folded directory opens
    EXPECT_EQ(tree.row_count(), 8u);
    EXPECT_EQ(tree.at(4).folded, 0u);
}

TEST(FoldingDeathTest, RowsOutsideTheListAbort) {
    path_tree tree = tree_of(EXAMPLE);
    EXPECT_DEATH(tree.fold_row(8), "fold_row: Assertion `i < row_count_' failed");
    EXPECT_DEATH(tree.unfold_row(8), "unfold_row: Assertion `i < row_count_' failed");
}

// One line of 100,000 components: no step may recurse or rescan per level.
TEST(Folding, OneVeryDeepLine) {
    constexpr uint64_t DEPTH = 100'000;
    std::string line;
    for (uint64_t i = 0; i < DEPTH; i++) line += "d/";
    for (int fold = 0; fold <= 1; fold++) {
        path_tree tree = tree_of(line, '/', fold);
        ASSERT_EQ(tree.size(), DEPTH);
        EXPECT_EQ(tree.at(DEPTH - 1).depth, DEPTH - 1);
        EXPECT_EQ(tree.full_path(DEPTH - 1).size(), 2 * DEPTH - 1);
        EXPECT_EQ(tree.row_count(), fold ? 1u : DEPTH);
        EXPECT_EQ(tree.reveal(DEPTH - 1), DEPTH - 1);
        EXPECT_EQ(tree.row_count(), DEPTH);
        EXPECT_EQ(tree.fold_row(0), DEPTH - 1);
        EXPECT_EQ(tree.unfold_row(0), DEPTH - 1);
        EXPECT_EQ(tree.fold_row(1), DEPTH - 2);
        EXPECT_EQ(tree.fold_row(0), 1u);
        EXPECT_EQ(tree.unfold_row(0), 1u);
    }
}

// Random trees and random operations, against a model in which the rows
// are the entries whose ancestors are all unfolded.
std::vector<uint64_t> model_rows(const path_tree& tree) {
    std::vector<uint64_t> rows;
    for (uint64_t i = 0; i < tree.size(); i++) {
        bool shown = true;
        for (entry_index a = tree.at(i).parent; a != NO_ENTRY && shown; a = tree.at(a).parent)
            shown = tree.at(a).folded == 0;
        if (shown) rows.push_back(i);
    }
    return rows;
}

std::vector<unsigned> folded_flags(const path_tree& tree) {
    std::vector<unsigned> flags;
    for (uint64_t i = 0; i < tree.size(); i++) flags.push_back(tree.at(i).folded);
    return flags;
}

std::string random_input(std::mt19937& random) {
    std::string input;
    int lines = 1 + static_cast<int>(random() % 60);
    for (int i = 0; i < lines; i++) {
        int depth = 1 + static_cast<int>(random() % 5);
        for (int d = 0; d < depth; d++) {
            input += "abc"[random() % 3];
            if (random() % 4 == 0) input += "xy"[random() % 2];
            input += '/';
        }
        input += '\n';
    }
    return input;
}

TEST(Folding, AgreesWithTheModel) {
    std::mt19937 random(5);
    for (int round = 0; round < 150; round++) {
        path_tree tree = tree_of(random_input(random), '/', static_cast<int>(round % 2));
        ASSERT_EQ(visible(tree), model_rows(tree));
        for (int step = 0; step < 40; step++) {
            std::vector<unsigned> before = folded_flags(tree);
            uint64_t len = tree.row_count();
            int action = static_cast<int>(random() % 3);
            if (action == 0) {
                uint64_t row = random() % len;
                uint64_t entry = tree.row_entry(row);
                uint64_t removed = tree.fold_row(row);
                EXPECT_EQ(removed, len - tree.row_count());
                before[entry] = 1;
            } else if (action == 1) {
                uint64_t row = random() % len;
                uint64_t entry = tree.row_entry(row);
                uint64_t inserted = tree.unfold_row(row);
                EXPECT_EQ(inserted, tree.row_count() - len);
                before[entry] = 0;
            } else {
                uint64_t entry = random() % tree.size();
                const uint64_t row = tree.reveal(entry);
                ASSERT_LT(row, tree.row_count());
                EXPECT_EQ(tree.row_entry(row), entry);
                for (entry_index e = static_cast<entry_index>(entry); e != NO_ENTRY;
                     e = tree.at(e).parent)
                    before[e] = 0;
            }
            ASSERT_EQ(folded_flags(tree), before) << "round " << round << " step " << step;
            ASSERT_EQ(visible(tree), model_rows(tree)) << "round " << round << " step " << step;
        }
    }
}

} // namespace
