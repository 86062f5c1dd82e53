// Work that outlasts a key: the previews' scans, the walk of a jump to the
// next match and the count of a search's matches. The event loop runs it in slices between events, so that typing
// stays responsive, and a newer edit simply replaces a scan that has gone
// stale instead of queueing behind it.
#pragma once

#include <chrono>

#include "korvel/viewer.hpp"

bool work_pending(const viewer& v);
// Runs pending work for about `budget`, or until some of it finishes: true
// then, so that the screen must be drawn again at once.
bool run_work(viewer& v, std::chrono::milliseconds budget);
// Before the next key or click: a jump still walking gets up to `budget` to
// arrive, so that keys typed ahead (`nnn`) keep their order, and is
// abandoned after that, so that no key waits long for its frame.
void settle_jump(viewer& v, std::chrono::milliseconds budget);
