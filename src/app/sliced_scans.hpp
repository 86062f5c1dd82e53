// Work that outlasts a key: the previews' scans and the count of a search's
// matches. The event loop runs it in slices between events, so that typing
// stays responsive, and a newer edit simply replaces a scan that has gone
// stale instead of queueing behind it.
#pragma once

#include <chrono>

#include "app/viewer.hpp"

namespace korvel {

bool work_pending(const viewer& v);
// Runs pending work for about `budget`, or until some of it finishes: true
// then, so that the screen must be drawn again at once.
bool run_work(viewer& v, std::chrono::milliseconds budget);

} // namespace korvel
