#pragma once
// A minimal parallel loop over independent indices.

#include <functional>

namespace zelk {

// The number of threads the machine runs at once (at least 1).
int hardwareThreads();

// Calls body(i) for every i in [begin, end), spread over up to `threads` threads. Each index
// is visited exactly once; the call returns when all are done.
void parallelFor(int begin, int end, int threads, const std::function<void(int)>& body);

}  // namespace zelk
