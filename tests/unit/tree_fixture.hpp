// Trees built as start-up builds them, for the tests of the modules below
// the viewer.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "paths.hpp"
#include "plain_load.hpp"

// Lines handed over as they are, in this order, in storage a tree can own.
inline input_lines lines_of(const std::vector<std::string>& texts) {
    input_lines lines;
    size_t size = 0;
    for (const std::string& text : texts) size += text.size() + 1;
    lines.arena = static_cast<char*>(malloc(size + 1));
    lines.items = static_cast<char**>(malloc(sizeof(char*) * (texts.size() + 1)));
    char* at = lines.arena;
    for (size_t i = 0; i < texts.size(); ++i) {
        memcpy(at, texts[i].c_str(), texts[i].size() + 1);
        lines.items[i] = at;
        at += texts[i].size() + 1;
    }
    lines.count = texts.size();
    lines.arena_size = size;
    return lines;
}

// The lines of an input, read and sorted.
inline input_lines sorted_lines_of(const std::string& input, char separator = '/') {
    // fmemopen refuses a zero-sized buffer on some C libraries.
    std::string buffer = input.empty() ? std::string(1, '\0') : input;
    FILE* stream = fmemopen(buffer.data(), buffer.size(), "r");
    if (input.empty()) fgetc(stream);
    input_lines lines;
    const outcome read = get_lines(stream, separator, lines);
    EXPECT_TRUE(read.ok()) << read.message();
    fclose(stream);
    sort_lines(lines.items, lines.count, separator);
    return lines;
}

// Reads, sorts and builds.
inline path_tree tree_of(const std::string& input, char separator = '/', bool fold = false) {
    path_tree tree;
    const outcome built =
        build_path_tree(sorted_lines_of(input, separator), separator, fold, tree);
    EXPECT_TRUE(built.ok()) << built.message();
    return tree;
}

// The entries of the visible rows.
inline std::vector<uint64_t> visible(const path_tree& tree) {
    std::vector<uint64_t> rows;
    for (uint64_t r = 0; r < tree.row_count(); ++r) rows.push_back(tree.row_entry(r));
    return rows;
}
