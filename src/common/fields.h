#pragma once
// Splitting a line of tab-separated text into its fields.

#include <string_view>
#include <vector>

namespace zelk {

// The fields of a line, split at every tab: n tabs give n + 1 fields, empty ones included.
// The views point into the line.
std::vector<std::string_view> splitAtTabs(std::string_view line);

}  // namespace zelk
