#include "paths.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "korvel/status.hpp"
#include "lines.hpp"
#include "search.hpp"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// The tree of an input, built as start-up builds it: read, sort, split.
class built_tree {
public:
    explicit built_tree(const std::string& input, char separator = '/', int fold = 0) {
        std::string buffer = input;
        FILE* stream = fmemopen(buffer.data(), buffer.size(), "r");
        EXPECT_EQ(get_lines(stream, separator, &lines_), 0);
        fclose(stream);
        sort_lines(lines_.items, lines_.count);
        entries = get_paths(&rows, lines_.items, lines_.count, separator, fold);
    }
    ~built_tree() {
        free_paths(rows.items);
        free_lines(&lines_);
    }
    built_tree(const built_tree&) = delete;
    built_tree& operator=(const built_tree&) = delete;

    std::vector<uint64_t> visible() const { return {rows.items, rows.items + rows.len}; }

    unfolded_paths_t rows;
    uint64_t entries = 0;

private:
    input_lines lines_;
};

// The direct children, from the tree-order layout.
std::vector<uint64_t> children_of(uint64_t index) {
    std::vector<uint64_t> out;
    const path_entry& entry = path_at(index);
    for (uint64_t child = index + 1; child < entry.subtree_end; child = path_at(child).subtree_end)
        out.push_back(child);
    return out;
}

std::vector<uint64_t> all_entries() {
    std::vector<uint64_t> out;
    for (uint64_t i = 0; i < path_count(); i++) out.push_back(i);
    return out;
}

// The layout's own rules: parents come before their subtrees, depths and
// child counts agree, subtrees nest.
void expect_consistent_table() {
    for (uint64_t i = 0; i < path_count(); i++) {
        const path_entry& entry = path_at(i);
        ASSERT_GT(entry.subtree_end, i);
        ASSERT_LE(entry.subtree_end, path_count());
        EXPECT_EQ(children_of(i).size(), entry.nchildren) << "entry " << i;
        if (entry.parent == NO_ENTRY) {
            EXPECT_EQ(entry.depth, 0u);
        } else {
            const path_entry& parent = path_at(entry.parent);
            ASSERT_LT(entry.parent, i);
            EXPECT_EQ(entry.depth, parent.depth + 1);
            EXPECT_LE(entry.subtree_end, parent.subtree_end);
        }
    }
}

const char* const EXAMPLE = "b/x\na\n/etc\nb/y/z\na/c\n";

TEST(GetPaths, BuildsTheExampleTable) {
    built_tree tree(EXAMPLE);
    ASSERT_EQ(tree.entries, 8u);
    ASSERT_EQ(path_count(), 8u);
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
        const path_entry& entry = path_at(i);
        SCOPED_TRACE(i);
        EXPECT_STREQ(entry.name, expected[i].name);
        EXPECT_EQ(full_path(i), expected[i].full_path);
        EXPECT_EQ(entry.depth, expected[i].depth);
        EXPECT_EQ(entry.parent, expected[i].parent);
        EXPECT_EQ(children_of(i), expected[i].children);
        EXPECT_EQ(entry.nchildren, expected[i].children.size());
        EXPECT_EQ(entry.folded, 0u);
    }
    EXPECT_EQ(path_separator, '/');
    EXPECT_THAT(tree.visible(), ElementsAre(0, 1, 2, 3, 4, 5, 6, 7));
    expect_consistent_table();
}

TEST(GetPaths, FoldByDefaultShowsTheTopLevelOnly) {
    built_tree tree(EXAMPLE, '/', 1);
    ASSERT_EQ(tree.entries, 8u);
    EXPECT_THAT(tree.visible(), ElementsAre(0, 2, 4));
    for (uint64_t i = 0; i < 8; i++) EXPECT_EQ(path_at(i).folded, 1u) << "entry " << i;
}

TEST(GetPaths, NamesPointIntoTheLinesSplitInPlace) {
    built_tree tree("a/bb/ccc\n");
    ASSERT_EQ(tree.entries, 3u);
    EXPECT_EQ(path_at(1).name, path_at(0).name + 2);
    EXPECT_EQ(path_at(2).name, path_at(0).name + 5);
    EXPECT_STREQ(path_at(2).name, "ccc");
}

// The tree of an input as indented full paths, one per entry in tree order.
std::vector<std::string> outline(const std::string& input, char separator = '/') {
    built_tree tree(input, separator);
    expect_consistent_table();
    std::vector<std::string> out;
    for (uint64_t i = 0; i < tree.entries; i++)
        out.push_back(std::string(2 * path_at(i).depth, ' ') + full_path(i));
    EXPECT_EQ(tree.visible(), all_entries()) << "every entry is visible without folding";
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
        outline_case{"doubled_separator", "a//b\n", '/', {"a"}},
        outline_case{"leading_doubled_separator", "//a\n", '/', {"/"}},
        outline_case{"blanks_in_first_component", " a/x\na/y\n", '/',
                     {" a", "   a/x", "a", "  a/y"}},
        outline_case{"only_adjacent_lines_share", " a/x\na/y\n a/z\n", '/',
                     {" a", "   a/x", "a", "  a/y", " a", "   a/z"}},
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
    std::string texts[] = {std::string("a"), std::string("a/"), std::string("a/b"),
                           std::string("a/b/c/"), std::string("a/bc")};
    std::vector<char*> lines;
    for (std::string& text : texts) lines.push_back(text.data());
    unfolded_paths_t rows;
    ASSERT_EQ(get_paths(&rows, lines.data(), lines.size(), '/', 0), 4u);
    std::vector<std::string> paths;
    for (uint64_t i = 0; i < 4; i++) paths.push_back(full_path(i));
    EXPECT_THAT(paths, ElementsAre("a", "a/b", "a/b/c", "a/bc"));
    EXPECT_THAT(children_of(0), ElementsAre(1, 3));
    free_paths(rows.items);
}

// The table as the plain algorithm builds it: each component compared with
// the entry at its depth on the path of the line before.
struct reference_entry {
    std::string name;
    entry_index parent;
    std::string full_path;
};

std::vector<reference_entry> reference_table(const std::vector<std::string>& sorted_texts,
                                             char separator) {
    std::vector<reference_entry> table;
    std::vector<entry_index> branch;
    for (const std::string& text : sorted_texts) {
        size_t pos = 0, d = 0;
        for (;;) {
            size_t stop = text.find(separator, pos);
            std::string component = text.substr(pos, stop == std::string::npos ? stop : stop - pos);
            if (component.empty() && d > 0) break;
            if (d < branch.size() && table[branch[d]].name == component) {
                d++;
            } else {
                branch.resize(d);
                entry_index parent = d == 0 ? NO_ENTRY : branch.back();
                // The ancestors' names, each followed by the separator.
                std::string path;
                for (entry_index a = parent; a != NO_ENTRY; a = table[a].parent)
                    path.insert(0, table[a].name + separator);
                path += component.empty() ? std::string(1, separator) : component;
                branch.push_back(static_cast<entry_index>(table.size()));
                table.push_back({component, parent, path});
                d++;
            }
            if (stop == std::string::npos) break;
            pos = stop + 1;
        }
    }
    return table;
}

TEST(GetPaths, AgreesWithThePlainAlgorithm) {
    std::mt19937 random(3);
    const char alphabet[] = "ab/ -";
    for (int round = 0; round < 200; round++) {
        std::vector<std::string> texts;
        int count = 1 + static_cast<int>(random() % 40);
        for (int i = 0; i < count; i++) {
            std::string text;
            int length = static_cast<int>(random() % 12);
            for (int j = 0; j < length; j++) text += alphabet[random() % (sizeof alphabet - 1)];
            if (random() % 4 != 0) text += '/';
            texts.push_back(text);
        }
        std::vector<char*> lines;
        for (std::string& text : texts) lines.push_back(text.data());
        sort_lines(lines.data(), lines.size());
        std::vector<std::string> sorted_texts(lines.begin(), lines.end());
        std::vector<reference_entry> expected = reference_table(sorted_texts, '/');

        unfolded_paths_t rows;
        ASSERT_EQ(get_paths(&rows, lines.data(), lines.size(), '/', 0), expected.size());
        for (uint64_t i = 0; i < expected.size(); i++) {
            ASSERT_EQ(path_at(i).name, expected[i].name) << "round " << round << " entry " << i;
            ASSERT_EQ(path_at(i).parent, expected[i].parent) << "round " << round << " entry " << i;
            ASSERT_EQ(full_path(i), expected[i].full_path) << "round " << round << " entry " << i;
        }
        expect_consistent_table();
        free_paths(rows.items);
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
    built_tree tree(input);
    ASSERT_EQ(tree.entries, 140u * 501u);
    EXPECT_EQ(tree.rows.len, tree.entries);
    EXPECT_EQ(full_path(tree.entries - 1), "d99/f99");
    EXPECT_EQ(path_at(0).nchildren, 500u);
    EXPECT_EQ(path_at(tree.entries - 501).subtree_end, tree.entries);
}

TEST(GetPaths, RefusesMoreEntriesThanTheLimit) {
    std::string texts[] = {std::string("a/b/c/"), std::string("a/d/")};
    std::vector<char*> lines = {texts[0].data(), texts[1].data()};
    unfolded_paths_t rows;
    set_error("");
    EXPECT_EQ(get_paths_with_limit(&rows, lines.data(), 2, '/', 0, 3), 0u);
    EXPECT_THAT(get_error(), HasSubstr("too many entries"));
    EXPECT_EQ(rows.items, nullptr);
    EXPECT_EQ(rows.len, 0u);
    EXPECT_EQ(path_count(), 0u);
    free_paths(rows.items);

    std::string again[] = {std::string("a/b/c/"), std::string("a/d/")};
    lines = {again[0].data(), again[1].data()};
    EXPECT_EQ(get_paths_with_limit(&rows, lines.data(), 2, '/', 0, 4), 4u);
    free_paths(rows.items);
}

TEST(FreePaths, ReleasesTheSearchPattern) {
    auto* tree = new built_tree(EXAMPLE);
    ASSERT_EQ(init_search_ctx("x", 1), 0);
    delete tree;
    EXPECT_FALSE(search_active());
}

TEST(FullPath, AppendsToWhatIsThere) {
    built_tree tree(EXAMPLE);
    std::string out = "> ";
    append_full_path(7, out);
    append_full_path(0, out);
    EXPECT_EQ(out, "> b/y/z/");
}

// Folding, with the example table.
TEST(Folding, FoldAndUnfoldRestoreTheRows) {
    built_tree tree(EXAMPLE);
    EXPECT_EQ(fold_path(&tree.rows, 4), 3u); // b: x, y, z go
    EXPECT_THAT(tree.visible(), ElementsAre(0, 1, 2, 3, 4));
    EXPECT_EQ(path_at(4).folded, 1u);
    EXPECT_EQ(path_at(6).folded, 0u);
    EXPECT_EQ(unfold_path(&tree.rows, 4), 3u); // z comes back under y
    EXPECT_THAT(tree.visible(), ElementsAre(0, 1, 2, 3, 4, 5, 6, 7));
    EXPECT_EQ(path_at(4).folded, 0u);
}

TEST(Folding, InnerFoldSurvivesTheOuterOne) {
    built_tree tree(EXAMPLE);
    EXPECT_EQ(fold_path(&tree.rows, 6), 1u); // y
    EXPECT_EQ(fold_path(&tree.rows, 4), 2u); // b
    EXPECT_THAT(tree.visible(), ElementsAre(0, 1, 2, 3, 4));
    EXPECT_EQ(unfold_path(&tree.rows, 4), 2u);
    EXPECT_THAT(tree.visible(), ElementsAre(0, 1, 2, 3, 4, 5, 6));
    EXPECT_EQ(path_at(6).folded, 1u);
}

TEST(Folding, LeavesOnlyChangeTheirFlag) {
    built_tree tree(EXAMPLE);
    EXPECT_EQ(fold_path(&tree.rows, 1), 0u); // etc
    EXPECT_EQ(path_at(1).folded, 1u);
    EXPECT_EQ(tree.rows.len, 8u);
    EXPECT_EQ(unfold_path(&tree.rows, 1), 0u);
    EXPECT_EQ(path_at(1).folded, 0u);
    // Unfolding what already shows its children inserts nothing.
    EXPECT_EQ(unfold_path(&tree.rows, 4), 0u);
    EXPECT_EQ(tree.rows.len, 8u);
}

TEST(Folding, UnfoldNestedPathRevealsAnEntry) {
    built_tree tree(EXAMPLE, '/', 1);
    uint64_t row = 99;
    unfold_nested_path(&tree.rows, 7, &row); // z
    EXPECT_EQ(row, 5u);
    EXPECT_THAT(tree.visible(), ElementsAre(0, 2, 4, 5, 6, 7));
    for (uint64_t i = 0; i < 8; i++)
        EXPECT_EQ(path_at(i).folded, i == 4 || i == 6 || i == 7 ? 0u : 1u) << "entry " << i;
    EXPECT_EQ(row_of_entry(&tree.rows, 7), 5);
    EXPECT_EQ(row_of_entry(&tree.rows, 3), -1);
}

TEST(Folding, UnfoldNestedPathOnVisibleEntries) {
    built_tree tree(EXAMPLE);
    uint64_t row = 99;
    unfold_nested_path(&tree.rows, 5, &row); // nothing folded on the way
    EXPECT_EQ(row, 5u);
    EXPECT_EQ(tree.rows.len, 8u);
    fold_path(&tree.rows, 4);
    unfold_nested_path(&tree.rows, 4, nullptr); // a visible, folded directory opens
    EXPECT_EQ(tree.rows.len, 8u);
    EXPECT_EQ(path_at(4).folded, 0u);
}

TEST(FoldingDeathTest, RowsOutsideTheListAbort) {
    built_tree tree(EXAMPLE);
    EXPECT_DEATH(fold_path(&tree.rows, 8), "fold_path: Assertion `i < unfolded_paths->len' failed");
    EXPECT_DEATH(unfold_path(&tree.rows, 8),
                 "unfold_path: Assertion `i < unfolded_paths->len' failed");
}

// One line of 100,000 components: no step may recurse or rescan per level.
TEST(Folding, OneVeryDeepLine) {
    constexpr uint64_t DEPTH = 100'000;
    std::string line;
    for (uint64_t i = 0; i < DEPTH; i++) line += "d/";
    for (int fold = 0; fold <= 1; fold++) {
        built_tree tree(line, '/', fold);
        ASSERT_EQ(tree.entries, DEPTH);
        EXPECT_EQ(path_at(DEPTH - 1).depth, DEPTH - 1);
        EXPECT_EQ(full_path(DEPTH - 1).size(), 2 * DEPTH - 1);
        EXPECT_EQ(tree.rows.len, fold ? 1u : DEPTH);
        uint64_t row = 0;
        unfold_nested_path(&tree.rows, DEPTH - 1, &row);
        EXPECT_EQ(row, DEPTH - 1);
        EXPECT_EQ(tree.rows.len, DEPTH);
        EXPECT_EQ(fold_path(&tree.rows, 0), DEPTH - 1);
        EXPECT_EQ(unfold_path(&tree.rows, 0), DEPTH - 1);
        EXPECT_EQ(fold_path(&tree.rows, 1), DEPTH - 2);
        EXPECT_EQ(fold_path(&tree.rows, 0), 1u);
        EXPECT_EQ(unfold_path(&tree.rows, 0), 1u);
    }
}

// Random trees and random operations, against a model in which the rows
// are the entries whose ancestors are all unfolded.
std::vector<uint64_t> model_rows() {
    std::vector<uint64_t> rows;
    for (uint64_t i = 0; i < path_count(); i++) {
        bool shown = true;
        for (entry_index a = path_at(i).parent; a != NO_ENTRY && shown; a = path_at(a).parent)
            shown = path_at(a).folded == 0;
        if (shown) rows.push_back(i);
    }
    return rows;
}

std::vector<unsigned> folded_flags() {
    std::vector<unsigned> flags;
    for (uint64_t i = 0; i < path_count(); i++) flags.push_back(path_at(i).folded);
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
        built_tree tree(random_input(random), '/', static_cast<int>(round % 2));
        ASSERT_EQ(tree.visible(), model_rows());
        for (int step = 0; step < 40; step++) {
            std::vector<unsigned> before = folded_flags();
            uint64_t len = tree.rows.len;
            int action = static_cast<int>(random() % 3);
            if (action == 0) {
                uint64_t row = random() % len;
                uint64_t entry = tree.rows.items[row];
                uint64_t removed = fold_path(&tree.rows, row);
                EXPECT_EQ(removed, len - tree.rows.len);
                before[entry] = 1;
            } else if (action == 1) {
                uint64_t row = random() % len;
                uint64_t entry = tree.rows.items[row];
                uint64_t inserted = unfold_path(&tree.rows, row);
                EXPECT_EQ(inserted, tree.rows.len - len);
                before[entry] = 0;
            } else {
                uint64_t entry = random() % path_count();
                uint64_t row = 0;
                unfold_nested_path(&tree.rows, entry, &row);
                ASSERT_LT(row, tree.rows.len);
                EXPECT_EQ(tree.rows.items[row], entry);
                for (entry_index e = static_cast<entry_index>(entry); e != NO_ENTRY;
                     e = path_at(e).parent)
                    before[e] = 0;
            }
            ASSERT_EQ(folded_flags(), before) << "round " << round << " step " << step;
            ASSERT_EQ(tree.visible(), model_rows()) << "round " << round << " step " << step;
        }
    }
}

} // namespace
