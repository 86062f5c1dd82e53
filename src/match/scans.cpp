#include "match/scans.hpp"

namespace korvel {

// Finding is a scan run to its end.
outcome search_pattern::find(const path_tree& tree, int64_t from, bool reverse,
                             int64_t& found, const bit_set* among) const {
    find_scan scan(tree, *this, from, reverse, among);
    scan.step(UINT64_MAX);
    found = scan.found();
    return scan.failure();
}

match_scan::match_scan(const path_tree& tree, const search_pattern& pattern,
                       const bit_set* candidates, bool keep_ancestors)
    : tree_(tree), pattern_(pattern), candidates_(candidates), walker_(tree),
      matches_(tree.size()), keep_ancestors_(keep_ancestors),
      kept_(keep_ancestors ? tree.size() : 0) {
    if (candidates_ != nullptr) next_ = candidates_->next(0);
}

bool match_scan::step(uint64_t limit) {
    const uint64_t size = tree_.size();
    c_locale_scope in_c_locale;
    // Names lie in the order the lines were read, not in tree order: fetch
    // them ahead so that the scan does not wait on each one. Candidates are
    // mostly dense runs, for which the same distance serves.
    constexpr uint64_t PREFETCH_DISTANCE = 16;
    for (uint64_t tested = 0; !done_ && tested < limit; ++tested) {
        if (next_ >= size) {
            done_ = true;
            break;
        }
        if (next_ + PREFETCH_DISTANCE < size)
            __builtin_prefetch(tree_.at(next_ + PREFETCH_DISTANCE).name);
        const match_result result = pattern_.match_in_c_locale(tree_, next_, walker_);
        if (result == match_result::MATCH) {
            matches_.set(next_);
            ++count_;
            if (keep_ancestors_) keep(next_);
        } else if (result == match_result::FAILED) {
            failure_ = pattern_.failure();
            done_ = true;
            break;
        }
        next_ = candidates_ != nullptr ? candidates_->next(next_ + 1) : next_ + 1;
    }
    return done_;
}

// The match and its ancestors up to the first one kept already, whose own
// ancestors are then kept too: each entry is met about once. Ancestors are
// met here just after their subtree's first match, while still in the cache.
// Every kept entry that is folded is noted when it is first kept (a folded
// directory that matches too, for matches may come below it).
void match_scan::keep(uint64_t match) {
    kept_.set(match);
    if (tree_.at(match).folded && tree_.at(match).nchildren != 0)
        folded_ancestors_.push_back(static_cast<entry_index>(match));
    for (entry_index a = tree_.at(match).parent; a != NO_ENTRY && !kept_.test(a);
         a = tree_.at(a).parent) {
        kept_.set(a);
        if (tree_.at(a).folded) folded_ancestors_.push_back(a);
    }
}

find_scan::find_scan(const path_tree& tree, const search_pattern& pattern, int64_t from,
                     bool reverse, const bit_set* among)
    : tree_(tree), pattern_(pattern), among_(among), walker_(tree),
      step_(reverse ? -pattern.direction() : pattern.direction()) {
    if (!pattern.active()) {
        failure_ = outcome::failure("Search query was not given");
        done_ = true;
        return;
    }
    const auto count = static_cast<int64_t>(tree.size());
    // Past either end nothing is tested (and from + step cannot overflow).
    if ((step_ > 0 && from >= count) || (step_ < 0 && from <= 0)) {
        done_ = true;
        return;
    }
    next_ = from + step_;
}

bool find_scan::step(uint64_t limit) {
    const auto count = static_cast<int64_t>(tree_.size());
    c_locale_scope in_c_locale;
    // Names lie in the order the lines were read, not in tree order: fetch
    // them a few entries ahead so the walk does not wait on each one.
    constexpr int64_t PREFETCH_DISTANCE = 16;
    for (uint64_t tested = 0; !done_ && tested < limit; ++tested) {
        if (next_ < 0 || next_ >= count) {
            done_ = true;
            break;
        }
        const auto index = static_cast<uint64_t>(next_);
        const int64_t ahead = next_ + PREFETCH_DISTANCE * step_;
        if (ahead >= 0 && ahead < count) __builtin_prefetch(tree_.at(static_cast<uint64_t>(ahead)).name);
        if (among_ == nullptr || among_->test(index)) {
            const match_result result = pattern_.match_in_c_locale(tree_, index, walker_);
            if (result == match_result::MATCH) {
                found_ = next_;
                done_ = true;
                break;
            }
            if (result == match_result::FAILED) {
                failure_ = pattern_.failure();
                done_ = true;
                break;
            }
        }
        next_ += step_;
    }
    return done_;
}

} // namespace korvel
