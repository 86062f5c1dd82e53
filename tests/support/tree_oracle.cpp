#include "tree_oracle.hpp"

#include <cstring>
#include <map>

std::vector<std::string> split_lines(const std::string& input, bool nul_only) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < input.size()) {
        size_t stop = input.find('\0', pos);
        if (!nul_only) stop = std::min(stop, input.find('\n', pos));
        if (stop == std::string::npos) stop = input.size();
        out.push_back(input.substr(pos, stop - pos));
        pos = stop + 1;
    }
    return out;
}

std::string given_path(const std::string& line, char separator) {
    std::string path;
    for (char c : line)
        if (c != separator || path.empty() || path.back() != separator) path += c;
    if (path.size() > 1 && path.back() == separator) path.pop_back();
    return path;
}

std::set<std::string> given_paths(const std::vector<std::string>& lines, char separator) {
    std::set<std::string> paths;
    for (const std::string& line : lines)
        if (std::string path = given_path(line, separator); !path.empty()) paths.insert(path);
    return paths;
}

namespace {

std::string without_leading_blanks(const std::string& name, char separator) {
    size_t i = 0;
    while (i < name.size() && (name[i] == ' ' || name[i] == '\t') && name[i] != separator) i++;
    return name.substr(i);
}

// The path and every prefix of it that ends before a separator: a/b/c
// gives a, a/b and a/b/c; /x gives / and /x.
std::vector<std::string> prefixes(const std::string& path, char separator) {
    std::vector<std::string> out;
    for (size_t i = 0; i < path.size(); i++)
        if (path[i] == separator) out.push_back(i == 0 ? std::string(1, separator) : path.substr(0, i));
    if (path != std::string(1, separator)) out.push_back(path);
    return out;
}

std::string describe(uint64_t entry, const std::string& path) {
    return "entry " + std::to_string(entry) + " [" + path + "]: ";
}

} // namespace

bool sibling_before(const std::string& a, const std::string& b, char separator, uint32_t depth) {
    const std::string whole_a = a + separator, whole_b = b + separator;
    if (depth == 0) {
        const std::string bare_a = without_leading_blanks(a, separator) + separator;
        const std::string bare_b = without_leading_blanks(b, separator) + separator;
        if (bare_a != bare_b) return bare_a < bare_b;
    }
    return whole_a < whole_b;
}

std::string tree_fault(const path_tree& tree, const std::vector<std::string>& lines,
                       char separator) {
    const std::set<std::string> given = given_paths(lines, separator);
    std::set<std::string> expected;
    for (const std::string& path : given)
        for (std::string& prefix : prefixes(path, separator)) expected.insert(std::move(prefix));

    const uint64_t count = tree.size();
    if (count != expected.size())
        return "the tree has " + std::to_string(count) + " entries, the list " +
               std::to_string(expected.size()) + " paths and prefixes";
    if (tree.line_entries().size() != count) return "the set of lines is not one per entry";
    std::set<std::string> seen;
    std::vector<std::string> paths(count);
    // The last child seen of each parent, to check the order of siblings.
    std::map<entry_index, uint64_t> last_child;
    uint64_t next_top = 0;
    for (uint64_t e = 0; e < count; e++) {
        const path_entry& entry = tree.at(e);
        paths[e] = tree.full_path(e);
        const std::string& path = paths[e];
        if (expected.count(path) == 0) return describe(e, path) + "not a path of the list";
        if (!seen.insert(path).second) return describe(e, path) + "shown twice";
        if (tree.is_line(e) != (given.count(path) != 0))
            return describe(e, path) + (tree.is_line(e) ? "taken for a line" : "a line not taken");
        const std::string name = entry.name;
        if (entry.parent == NO_ENTRY) {
            if (entry.depth != 0) return describe(e, path) + "top level at a depth";
            if (e != next_top) return describe(e, path) + "top level inside another's subtree";
            next_top = entry.subtree_end;
            if (path != (name.empty() ? std::string(1, separator) : name))
                return describe(e, path) + "top level with a parent in its path";
        } else {
            if (entry.parent >= e || e >= tree.at(entry.parent).subtree_end)
                return describe(e, path) + "not inside its parent's subtree";
            if (entry.depth != tree.at(entry.parent).depth + 1)
                return describe(e, path) + "depth is not its parent's plus one";
            const std::string& above = paths[entry.parent];
            const std::string joined =
                (above == std::string(1, separator) ? "" : above) + separator + name;
            if (name.empty() || path != joined) return describe(e, path) + "not under its prefix";
        }
        if (entry.subtree_end <= e || entry.subtree_end > count)
            return describe(e, path) + "subtree out of the table";
        // The entry's subtree is its children's subtrees, one after the other.
        uint64_t children = 0, next = e + 1;
        while (next < entry.subtree_end) {
            if (tree.at(next).parent != e) return describe(e, path) + "subtree holds a stranger";
            next = tree.at(next).subtree_end;
            children++;
        }
        if (next != entry.subtree_end || children != entry.nchildren)
            return describe(e, path) + "children do not fill its subtree";
        const auto [last, first] = last_child.try_emplace(entry.parent, e);
        if (!first) {
            if (!sibling_before(tree.at(last->second).name, name, separator, entry.depth))
                return describe(e, path) + "out of order after its sibling [" +
                       paths[last->second] + "]";
            last->second = e;
        }
    }
    return {};
}
