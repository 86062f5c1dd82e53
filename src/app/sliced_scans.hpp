// Work that outlasts a key: the previews' scans, the walk of a jump to the
// next match, the scan of a filter entered before it was through, and the
// count of a search's matches, which 'v' may wait for. The event loop runs
// it in slices between events, so that typing stays responsive, and a newer
// edit simply replaces a scan that has gone stale instead of queueing behind
// it.
#pragma once

#include <chrono>

#include "app/viewer.hpp"

namespace korvel {

bool work_pending(const viewer& v);
// Runs pending work for about `budget`, or until some of it finishes: true
// then, so that the screen must be drawn again at once.
bool run_work(viewer& v, std::chrono::milliseconds budget);
// Before the next key or click: the work of the keys before it gets up to
// `budget` to finish, so that keys typed ahead (`nnn`, `v` then `o`, a
// filter's Enter then `G`) keep their order. After that a jump and a marking
// still waiting are abandoned, so that no key waits long for its frame; a
// filter entered goes on being found, and the count too.
void settle_work(viewer& v, std::chrono::milliseconds budget);

} // namespace korvel
