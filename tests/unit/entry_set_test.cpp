// The set of marked entries: its count must follow every change, and walking
// it must find exactly its members, across word boundaries and at the ends.
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "entry_set.hpp"

namespace {

// A plain model of the same set.
using model = std::vector<bool>;

std::vector<uint64_t> members_of(const entry_set& set) {
    std::vector<uint64_t> out;
    for (uint64_t e = set.next(0); e != entry_set::NONE; e = set.next(e + 1))
        out.push_back(e);
    return out;
}

std::vector<uint64_t> members_of(const model& m) {
    std::vector<uint64_t> out;
    for (uint64_t e = 0; e < m.size(); ++e)
        if (m[e]) out.push_back(e);
    return out;
}

void expect_same(const entry_set& set, const model& m) {
    ASSERT_EQ(set.size(), m.size());
    const std::vector<uint64_t> members = members_of(m);
    EXPECT_EQ(members_of(set), members);
    EXPECT_EQ(set.count(), members.size());
    EXPECT_EQ(set.empty(), members.empty());
    for (uint64_t e = 0; e < m.size(); ++e)
        EXPECT_EQ(set.contains(e), m[e]) << e;
    // Past the end nothing is a member, and nothing is found.
    EXPECT_FALSE(set.contains(m.size()));
    EXPECT_EQ(set.next(m.size()), entry_set::NONE);
}

// Sizes around the 64-bit words the set is made of.
const uint64_t SIZES[] = {1, 2, 63, 64, 65, 127, 128, 129, 1000};

TEST(EntrySet, RandomChangesKeepTheCountAndTheMembers) {
    std::mt19937_64 random(7);
    for (const uint64_t size : SIZES) {
        SCOPED_TRACE(size);
        entry_set set(size);
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

TEST(EntrySet, EverythingFillsExactlyTheSize) {
    for (const uint64_t size : SIZES) {
        SCOPED_TRACE(size);
        entry_set set(size);
        set.insert_everything();
        expect_same(set, model(size, true));
        // Flipping the last one leaves no stray bit behind it.
        set.flip(size - 1);
        model m(size, true);
        m[size - 1] = false;
        expect_same(set, m);
    }
}

TEST(EntrySet, NextStartsAtItsArgumentAndSkipsEmptyWords) {
    entry_set set(300);
    for (const uint64_t e : {0, 63, 64, 200, 299})
        set.insert(e);
    const struct {
        uint64_t from, found;
    } cases[] = {{0, 0},    {1, 63},    {63, 63},   {64, 64},
                 {65, 200}, {201, 299}, {299, 299}, {300, entry_set::NONE}};
    for (const auto& c : cases)
        EXPECT_EQ(set.next(c.from), c.found) << c.from;
    EXPECT_EQ(entry_set().next(0), entry_set::NONE);
}

TEST(EntrySet, ResizeKeepsMembersBelowTheNewSizeOnly) {
    entry_set set(130);
    for (const uint64_t e : {1, 64, 100, 129})
        set.insert(e);
    set.resize(101);
    EXPECT_EQ(members_of(set), (std::vector<uint64_t>{1, 64, 100}));
    EXPECT_EQ(set.count(), 3u);
    set.resize(200);
    EXPECT_EQ(members_of(set), (std::vector<uint64_t>{1, 64, 100}));
    set.insert(199);
    EXPECT_EQ(set.count(), 4u);
    set.resize(0);
    EXPECT_TRUE(set.empty());
    EXPECT_EQ(set.next(0), entry_set::NONE);
}

TEST(EntrySet, WholeSetsAreAddedAndTakenAwayWithTheirCounts) {
    std::mt19937_64 random(11);
    for (const uint64_t size : SIZES) {
        SCOPED_TRACE(size);
        // The other set may be smaller, as a set not yet grown to the tree is.
        for (const uint64_t other_size : {size, size / 2 + 1}) {
            entry_set set(size), other(other_size);
            model m(size), o(size);
            for (uint64_t e = 0; e < size; ++e) {
                if (random() % 2) set.insert(e), m[e] = true;
                if (e < other_size && random() % 3 == 0) other.insert(e), o[e] = true;
            }
            uint64_t fresh = 0, shared = 0;
            for (uint64_t e = 0; e < size; ++e) {
                fresh += o[e] && !m[e];
                shared += o[e] && m[e];
            }
            EXPECT_EQ(set.includes(other), fresh == 0);

            entry_set added(size);
            added.insert_all(set);
            EXPECT_EQ(added.insert_all(other), fresh);
            model union_of(size);
            for (uint64_t e = 0; e < size; ++e)
                union_of[e] = m[e] || o[e];
            expect_same(added, union_of);
            EXPECT_TRUE(added.includes(other));

            EXPECT_EQ(set.erase_all(other), shared);
            model difference(size);
            for (uint64_t e = 0; e < size; ++e)
                difference[e] = m[e] && !o[e];
            expect_same(set, difference);
            EXPECT_EQ(set.includes(other), other.empty());
        }
    }
}

TEST(EntrySet, StorageIsABitAnEntry) {
    for (const uint64_t size : {uint64_t{1}, uint64_t{64}, uint64_t{65}, uint64_t{5'000'000}}) {
        entry_set set;
        set.resize(size / 2);
        set.resize(size);
        EXPECT_LE(set.storage_bytes() * 8, size + 63) << size;
    }
}

} // namespace
