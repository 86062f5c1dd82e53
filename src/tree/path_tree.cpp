#include "tree/path_tree.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/check.hpp"
#include "base/raw_array.hpp"
#include "base/word_at_a_time.hpp"
#include "tree/touch_ahead.hpp"

namespace korvel {

namespace {

// The deepest entry the 31-bit depth field can hold.
constexpr uint64_t MAX_DEPTH = (uint64_t{1} << 31) - 1;

// The number of leading bytes that two texts share. Compares a word at a
// time where a word read cannot cross into another page; bytes past a
// terminating NUL never decide the result.
KORVEL_READS_PAST_TEXT uint64_t common_prefix(const char* a, const char* b) {
    uint64_t i = 0;
    for (;;) {
        if constexpr (std::endian::native == std::endian::little) {
            if (word_within_page(a + i) && word_within_page(b + i)) {
                uint64_t wa = load_word(a + i);
                uint64_t wb = load_word(b + i);
                uint64_t stop = (wa ^ wb) | zero_byte_mask(wa);
                if (stop == 0) {
                    i += 8;
                    continue;
                }
                return i + static_cast<uint64_t>(std::countr_zero(stop)) / 8;
            }
        }
        if (a[i] != b[i] || a[i] == '\0') return i;
        i++;
    }
}

// How far ahead of the build other threads may map its arrays.
constexpr size_t ENTRIES_AHEAD = size_t{16} << 20;
constexpr size_t NAMES_AHEAD = size_t{8} << 20;
constexpr size_t ROWS_AHEAD = size_t{4} << 20;

// Room for a store of this many values, mapped ahead as it fills.
template <typename T>
void reserve_ahead(raw_array<T>& array, touch_ahead& touch, uint64_t count, size_t ahead) {
    array.resize_storage(count);
    touch.reset(reinterpret_cast<char*>(array.data), count * sizeof(T), ahead);
}

// The next slot of the array, told to the touch beforehand; an array about
// to move is left alone by the other threads from then on.
template <typename T> T& next_slot(raw_array<T>& array, touch_ahead& touch) {
    if (array.size == array.capacity)
        touch.stop();
    else
        touch.reach(reinterpret_cast<const char*>(array.data + array.size + 1));
    return array.push_back_slot();
}

} // namespace

// A line shares entries only with the path built last, so that path and the
// entries of its components (the branch) are all that is kept: a line
// shares the components that lie wholly inside its common prefix with that
// path. A line that ends within the components it shares builds nothing and
// leaves the branch as it was, so the path built last is not always the
// line before. Texts come with their runs of separators collapsed, which is
// what makes a common prefix mean common components.
struct path_tree::builder::state {
    char separator;
    bool fold;
    uint64_t max_entries;
    raw_array<path_entry> entries;
    raw_array<entry_index> visible;
    // The entries that lines of the input end at.
    bit_set lines;
    std::vector<entry_index> branch;
    // branch_ends[d]: the offset, in previous, of the separator (or the NUL)
    // that ends the component of branch[d].
    std::vector<uint64_t> branch_ends;
    // The text of the path built last, and a copy of it made when a step
    // ends, since the texts of a step may go after it.
    const char* previous = nullptr;
    std::string previous_copy;
    memory_map names;
    char* names_end = nullptr;
    // Other threads may take the first touch of their pages (see help()).
    touch_ahead entries_touch, visible_touch, names_touch;
    // Set when the table is full or a path too deep; building stops.
    outcome failure;

    // The entries of the branch from depth d on have all their descendants.
    void cut_branch(uint64_t d) {
        for (uint64_t j = d; j < branch.size(); j++)
            entries.data[branch[j]].subtree_end = static_cast<entry_index>(entries.size);
        branch.resize(d);
        branch_ends.resize(d);
    }

    // How many components of text are the components of the path built last,
    // given the length of their common prefix.
    uint64_t shared_depth(const char* text, uint64_t common) const {
        uint64_t d = branch.size();
        while (d > 0) {
            uint64_t end = branch_ends[d - 1];
            if (common > end || (common == end && (text[end] == separator || text[end] == '\0')))
                break;
            d--;
        }
        return d;
    }

    bool add_entry(const char* component, uint64_t length, uint64_t d, uint64_t end) {
        if (entries.size >= max_entries) {
            failure = outcome::failuref("too many entries: the limit is %llu",
                                        static_cast<unsigned long long>(max_entries));
            return false;
        }
        if (d > MAX_DEPTH) {
            failure = outcome::failuref("too many components in one path: the limit is %llu",
                                        static_cast<unsigned long long>(MAX_DEPTH + 1));
            return false;
        }
        KORVEL_CHECK(names_end + length + 1 <= names.data() + names.size());
        names_touch.reach(names_end + length + 1);
        char* name = names_end;
        memcpy(name, component, length);
        name[length] = '\0';
        names_end += length + 1;

        auto index = static_cast<entry_index>(entries.size);
        entry_index parent = d == 0 ? NO_ENTRY : branch.back();
        if (parent != NO_ENTRY) entries.data[parent].nchildren++;
        // Filled in place, field by field: a whole record built aside and
        // copied costs more than the rest of the step.
        path_entry& entry = next_slot(entries, entries_touch);
        entry.name = name;
        entry.parent = parent;
        entry.subtree_end = 0;
        entry.nchildren = 0;
        entry.depth = static_cast<uint32_t>(d);
        entry.folded = fold ? 1 : 0;
        if (d == 0 || !fold) next_slot(visible, visible_touch) = index;
        branch.push_back(index);
        branch_ends.push_back(end);
        return true;
    }

    void mark_line(entry_index entry) {
        if (entry >= lines.size()) lines.resize(std::max<uint64_t>(entry + 1, 2 * lines.size()));
        lines.set(entry);
    }

    bool add_line(const char* text) {
        if (text[0] == '\0') return true;
        uint64_t d = 0;
        uint64_t pos = 0;
        if (previous != nullptr) {
            const uint64_t common = common_prefix(text, previous);
            d = shared_depth(text, common);
            if (d > 0) {
                uint64_t end = branch_ends[d - 1];
                // A line that ends within the components it shares makes no
                // entry and leaves the branch as it was, so the next line is
                // still compared with the line that built the branch. (With a
                // blank separator such a line can sort between two that
                // share more.)
                if (text[end] == '\0' || text[end + 1] == '\0') {
                    mark_line(branch[d - 1]);
                    return true;
                }
                pos = end + 1;
            }
            cut_branch(d);
        }
        previous = text;
        for (;;) {
            const char* component = text + pos;
            const char* stop = strchrnul(component, separator);
            // Past the first component, an empty one is the end of the text
            // after its final separator: there are no others.
            if (stop == component && d > 0) break;
            const auto end = static_cast<uint64_t>(stop - text);
            if (!add_entry(component, end - pos, d, end)) return false;
            d++;
            if (*stop == '\0') break;
            pos = end + 1;
        }
        mark_line(branch.back());
        return true;
    }
};

path_tree::builder::builder(char separator, bool fold_by_default, uint64_t expected_lines,
                            uint64_t text_bytes, uint64_t max_entries)
    : state_(new state{separator, fold_by_default, std::min(max_entries, MAX_ENTRIES),
                       {}, {}, {}, {}, {}, nullptr, {}, memory_map::anonymous(text_bytes),
                       nullptr, {}, {}, {}, {}}) {
    state& s = *state_;
    s.names_end = s.names.data();
    s.names_touch.reset(s.names.data(), s.names.size(), NAMES_AHEAD);
    // Most lines add one entry; reserving a little more costs nothing until
    // used.
    const uint64_t room = expected_lines + expected_lines / 32 + 1024;
    reserve_ahead(s.entries, s.entries_touch, room, ENTRIES_AHEAD);
    reserve_ahead(s.visible, s.visible_touch, room, ROWS_AHEAD);
    s.lines.reserve(room);
}

bool path_tree::builder::help() {
    state& s = *state_;
    return s.entries_touch.touch_next() || s.names_touch.touch_next() ||
           s.visible_touch.touch_next();
}

path_tree::builder::~builder() = default;

uint64_t path_tree::builder::entries() const { return state_->entries.size; }

outcome path_tree::builder::add(char* const* lines, uint64_t count) {
    state& s = *state_;
    if (!s.failure.ok()) return s.failure;
    constexpr uint64_t AHEAD = 8;
    for (uint64_t k = 0; k < count; k++) {
        if (k + AHEAD < count) __builtin_prefetch(lines[k + AHEAD]);
        if (!s.add_line(lines[k])) return s.failure;
    }
    if (s.previous != nullptr && s.previous != s.previous_copy.data()) {
        s.previous_copy.assign(s.previous);
        s.previous = s.previous_copy.data();
    }
    return {};
}

void path_tree::builder::finish(path_tree& out) {
    state& s = *state_;
    s.entries_touch.stop();
    s.visible_touch.stop();
    s.names_touch.stop();
    s.cut_branch(0);
    out = path_tree();
    out.separator_ = s.separator;
    const uint64_t total = s.entries.size;
    if (total == 0) return;
    // Unfolding inserts rows in place: the visible list has room for every entry.
    s.entries.resize_storage(total);
    s.visible.resize_storage(total);
    s.names.trim(static_cast<size_t>(s.names_end - s.names.data()));
    out.names_ = std::move(s.names);
    s.lines.resize(total);
    out.lines_ = std::move(s.lines);
    out.row_count_ = s.visible.size;
    out.rows_ = s.visible.release();
    out.entries_ = s.entries.release();
    out.count_ = total;
}

path_tree::path_tree(path_tree&& other) noexcept
    : names_(std::move(other.names_)), lines_(std::move(other.lines_)), entries_(std::exchange(other.entries_, nullptr)),
      count_(std::exchange(other.count_, 0)), rows_(std::exchange(other.rows_, nullptr)),
      row_count_(std::exchange(other.row_count_, 0)), separator_(other.separator_),
      shown_(std::exchange(other.shown_, nullptr)), compact_(other.compact_) {}

path_tree& path_tree::operator=(path_tree&& other) noexcept {
    if (this != &other) {
        release();
        names_ = std::move(other.names_);
        lines_ = std::move(other.lines_);
        entries_ = std::exchange(other.entries_, nullptr);
        count_ = std::exchange(other.count_, 0);
        rows_ = std::exchange(other.rows_, nullptr);
        row_count_ = std::exchange(other.row_count_, 0);
        separator_ = other.separator_;
        shown_ = std::exchange(other.shown_, nullptr);
        compact_ = other.compact_;
    }
    return *this;
}

path_tree::~path_tree() { release(); }

void path_tree::release() {
    free(entries_);
    free(rows_);
    entries_ = nullptr;
    rows_ = nullptr;
    count_ = row_count_ = 0;
    shown_ = nullptr;
    names_ = memory_map();
    lines_ = bit_set();
}

void path_tree::append_full_path(uint64_t index, std::string& out) const {
    const path_entry* entries = entries_;
    const path_entry& last = entries[index];
    uint64_t length = last.name[0] == '\0' ? 1 : strlen(last.name);
    for (entry_index i = last.parent; i != NO_ENTRY; i = entries[i].parent)
        length += strlen(entries[i].name) + 1;

    // Written back to front, from the entry up its parent chain.
    size_t start = out.size();
    out.resize(start + length);
    char* cursor = out.data() + start + length;
    auto put_name = [&cursor](const char* name) {
        size_t n = strlen(name);
        cursor -= n;
        memcpy(cursor, name, n);
    };
    if (last.name[0] == '\0')
        *--cursor = separator_;
    else
        put_name(last.name);
    for (entry_index i = last.parent; i != NO_ENTRY; i = entries[i].parent) {
        *--cursor = separator_;
        put_name(entries[i].name);
    }
}

std::string path_tree::full_path(uint64_t index) const {
    std::string path;
    append_full_path(index, path);
    return path;
}

int64_t path_tree::row_of(uint64_t entry) const {
    const entry_index* begin = rows_;
    const entry_index* end = begin + row_count_;
    const entry_index* found = std::lower_bound(begin, end, entry);
    if (found == end || *found != entry) return -1;
    return found - begin;
}

uint64_t path_tree::fold_row(uint64_t i) {
    KORVEL_CHECK(i < row_count_);
    entry_index* items = rows_;
    path_entry& entry = entries_[items[i]];
    entry.folded = 1;
    if (entry.nchildren == 0) return 0;
    // The visible descendants are the rows after i below subtree_end.
    entry_index* tail = std::lower_bound(items + i + 1, items + row_count_, entry.subtree_end);
    uint64_t removed = static_cast<uint64_t>(tail - (items + i + 1));
    memmove(items + i + 1, tail, (row_count_ - i - 1 - removed) * sizeof *items);
    row_count_ -= removed;
    return removed;
}

uint64_t path_tree::unfold_row(uint64_t i) {
    KORVEL_CHECK(i < row_count_);
    entry_index* items = rows_;
    const entry_index first = items[i];
    path_entry* entries = entries_;
    path_entry& entry = entries[first];
    // An unfolded entry already shows its children.
    if (entry.nchildren == 0 || !entry.folded) {
        entry.folded = 0;
        return 0;
    }
    // The rows to insert are the shown descendants whose ancestors below the
    // entry are all unfolded: a walk in tree order that skips folded
    // subtrees, and subtrees that are not shown (nothing in them is).
    auto each_row = [&](auto&& take) {
        for (entry_index e = first + 1; e < entry.subtree_end;) {
            if (!is_shown(e)) {
                e = entries[e].subtree_end;
                continue;
            }
            if (!absorbed(e)) take(e);
            e = next_row_candidate(e);
        }
    };
    uint64_t added = 0;
    each_row([&added](entry_index) { added++; });
    KORVEL_CHECK(row_count_ + added <= count_);

    memmove(items + i + 1 + added, items + i + 1, (row_count_ - i - 1) * sizeof *items);
    entry_index* row = items + i + 1;
    each_row([&row](entry_index e) { *row++ = e; });
    row_count_ += added;
    entry.folded = 0;
    return added;
}

uint64_t path_tree::reveal(uint64_t entry, std::vector<entry_index>* unfolded) {
    KORVEL_CHECK(entry < count_ && is_shown(entry));
    path_entry* entries = entries_;
    // Unfolding the topmost folded entry of the chain, with every entry below
    // it on the chain already marked unfolded, inserts the same rows as
    // unfolding them one by one from the top, in one move of the tail. An
    // entry that shares a row with the directory below it has no row of its
    // own to unfold: only its flag changes.
    entry_index topmost = NO_ENTRY;
    for (auto e = static_cast<entry_index>(entry); e != NO_ENTRY; e = entries[e].parent) {
        if (entries[e].folded) {
            entries[e].folded = 0;
            if (!absorbed(e)) topmost = e;
            if (unfolded != nullptr) unfolded->push_back(e);
        }
    }
    if (topmost != NO_ENTRY) {
        const int64_t top_row = row_of(topmost);
        KORVEL_CHECK(top_row >= 0);
        entries[topmost].folded = 1;
        unfold_row(static_cast<uint64_t>(top_row));
    }
    const int64_t found = row_of(row_owner(entry));
    KORVEL_CHECK(found >= 0);
    return static_cast<uint64_t>(found);
}

void path_tree::set_shown(const bit_set* shown) {
    shown_ = shown;
    rebuild_rows();
}

void path_tree::rebuild_rows() {
    row_count_ = 0;
    for (entry_index e = 0; e < count_;) {
        if (!is_shown(e)) {
            e = entries_[e].subtree_end;
            continue;
        }
        if (!absorbed(e)) rows_[row_count_++] = e;
        e = next_row_candidate(e);
    }
}

void path_tree::set_compact(bool compact) {
    compact_ = compact;
    rebuild_rows();
}

void path_tree::fold_all(bool folded) {
    for (uint64_t e = 0; e < count_; ++e) entries_[e].folded = folded ? 1 : 0;
    rebuild_rows();
}

bit_set path_tree::folded_flags() const {
    bit_set flags(count_);
    for (uint64_t e = 0; e < count_; ++e)
        if (entries_[e].folded) flags.set(e);
    return flags;
}

void path_tree::set_folded_flags(const bit_set& flags) {
    for (uint64_t e = 0; e < count_; ++e) entries_[e].folded = flags.test(e) ? 1 : 0;
    rebuild_rows();
}

} // namespace korvel
