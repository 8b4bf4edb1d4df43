#pragma once
// A minimal parallel loop over independent indices.

#include <functional>

namespace zelk {

// The number of threads the machine runs at once (at least 1).
int hardwareThreads();

// Calls body(i) for every i in [begin, end), spread over up to `threads` threads (the
// calling thread is one of them). Each index is visited exactly once; indices are handed
// out one at a time in increasing order, so uneven work balances itself. The call returns
// when all are done.
void parallelFor(int begin, int end, int threads, const std::function<void(int)>& body);

}  // namespace zelk
