// The marked entries and the bit sets they are made of: the count must follow
// every change, walking must find exactly the members, across word
// boundaries and at the ends, and whole sets must add and take away right.
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "base/bit_set.hpp"
#include "tree/mark_set.hpp"

using namespace korvel;

namespace {

// A plain model of the same set.
using model = std::vector<bool>;

template <typename Set> std::vector<uint64_t> members_of(const Set& set) {
    std::vector<uint64_t> out;
    for (uint64_t e = set.next(0); e < set.size(); e = set.next(e + 1)) out.push_back(e);
    return out;
}

std::vector<uint64_t> members_of(const model& m) {
    std::vector<uint64_t> out;
    for (uint64_t e = 0; e < m.size(); ++e)
        if (m[e]) out.push_back(e);
    return out;
}

void expect_same(const mark_set& set, const model& m) {
    ASSERT_EQ(set.size(), m.size());
    const std::vector<uint64_t> members = members_of(m);
    EXPECT_EQ(members_of(set), members);
    EXPECT_EQ(set.count(), members.size());
    EXPECT_EQ(set.empty(), members.empty());
    for (uint64_t e = 0; e < m.size(); ++e) EXPECT_EQ(set.contains(e), m[e]) << e;
    // Past the end nothing is marked, and nothing is found.
    EXPECT_FALSE(set.contains(m.size()));
    EXPECT_EQ(set.next(m.size()), m.size());
}

mark_set marks_of_size(uint64_t size) {
    mark_set set;
    set.resize(size);
    return set;
}

bit_set bits_of(const model& m) {
    bit_set bits(m.size());
    for (uint64_t e = 0; e < m.size(); ++e)
        if (m[e]) bits.set(e);
    return bits;
}

// Sizes around the 64-bit words the sets are made of.
const uint64_t SIZES[] = {1, 2, 63, 64, 65, 127, 128, 129, 1000};

TEST(MarkSet, RandomChangesKeepTheCountAndTheMembers) {
    std::mt19937_64 random(7);
    for (const uint64_t size : SIZES) {
        SCOPED_TRACE(size);
        mark_set set = marks_of_size(size);
        model m(size);
        expect_same(set, m);
        for (int step = 0; step < 400; ++step) {
            const uint64_t e = random() % size;
            if (random() % 3 == 0) {
                set.insert(e);
                m[e] = true;
            } else {
                set.flip(e);
                m[e] = !m[e];
            }
        }
        expect_same(set, m);
        set.clear();
        expect_same(set, model(size));
    }
}

TEST(MarkSet, NextStartsAtItsArgumentAndSkipsEmptyWords) {
    mark_set set = marks_of_size(300);
    for (const uint64_t e : {0, 63, 64, 200, 299}) set.insert(e);
    const struct {
        uint64_t from, found;
    } cases[] = {{0, 0},     {1, 63},    {63, 63},   {64, 64},
                 {65, 200},  {201, 299}, {299, 299}, {300, 300}};
    for (const auto& c : cases) EXPECT_EQ(set.next(c.from), c.found) << c.from;
    // Never sized: nothing marked, nothing found.
    const mark_set unsized;
    EXPECT_FALSE(unsized.contains(0));
    EXPECT_EQ(unsized.next(0), 0u);
}

TEST(MarkSet, ResizeKeepsMarksBelowTheNewSizeOnly) {
    mark_set set = marks_of_size(130);
    for (const uint64_t e : {1, 64, 100, 129}) set.insert(e);
    set.resize(101);
    EXPECT_EQ(members_of(set), (std::vector<uint64_t>{1, 64, 100}));
    EXPECT_EQ(set.count(), 3u);
    set.resize(200);
    EXPECT_EQ(members_of(set), (std::vector<uint64_t>{1, 64, 100}));
    set.insert(199);
    EXPECT_EQ(set.count(), 4u);
    set.resize(0);
    EXPECT_TRUE(set.empty());
    EXPECT_EQ(set.next(0), 0u);
}

TEST(MarkSet, WholeSetsAreAddedAndTakenAwayWithTheirCounts) {
    std::mt19937_64 random(11);
    for (const uint64_t size : SIZES) {
        SCOPED_TRACE(size);
        // The other set may be smaller than the marks.
        for (const uint64_t other_size : {size, size / 2 + 1}) {
            model m(size), o(other_size);
            mark_set set = marks_of_size(size);
            for (uint64_t e = 0; e < size; ++e) {
                if (random() % 2) set.insert(e), m[e] = true;
                if (e < other_size && random() % 3 == 0) o[e] = true;
            }
            const bit_set other = bits_of(o);
            uint64_t fresh = 0, shared = 0;
            for (uint64_t e = 0; e < other_size; ++e) {
                fresh += o[e] && !m[e];
                shared += o[e] && m[e];
            }
            EXPECT_EQ(set.includes(other), fresh == 0);

            mark_set added = marks_of_size(size);
            added.insert_all(bits_of(m));
            EXPECT_EQ(added.insert_all(other), fresh);
            model union_of = m;
            for (uint64_t e = 0; e < other_size; ++e) union_of[e] = m[e] || o[e];
            expect_same(added, union_of);
            EXPECT_TRUE(added.includes(other));

            EXPECT_EQ(set.erase_all(other), shared);
            model difference = m;
            for (uint64_t e = 0; e < other_size; ++e) difference[e] = m[e] && !o[e];
            expect_same(set, difference);
            EXPECT_EQ(set.includes(other), members_of(o).empty());
        }
    }
}

TEST(BitSet, FillAndFlipStayWithinTheSize) {
    for (const uint64_t size : SIZES) {
        SCOPED_TRACE(size);
        bit_set bits(size);
        bits.fill();
        EXPECT_EQ(bits.count(), size);
        EXPECT_EQ(bits.next(0), 0u);
        // No stray member past the end, for a set that includes it.
        bit_set larger(size + 64);
        EXPECT_EQ(larger.unite(bits), size);
        EXPECT_EQ(larger.next(size), size + 64);
        bits.flip(size - 1);
        EXPECT_EQ(bits.count(), size - 1);
        EXPECT_FALSE(bits.test(size - 1));
        bits.flip(size - 1);
        EXPECT_TRUE(bits.test(size - 1));
    }
}

TEST(MarkSet, StorageIsABitAnEntry) {
    for (const uint64_t size : {uint64_t{1}, uint64_t{64}, uint64_t{65}, uint64_t{5'000'000}}) {
        mark_set set;
        set.resize(size / 2);
        set.resize(size);
        EXPECT_LE(set.storage_bytes() * 8, size + 63) << size;
    }
}

} // namespace
