// Counter paths in the PDH syntax: \\machine\object(parent/instance#index)\counter, where the
// instance part is optional and so are parent and index within it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct CounterPath {
    std::string machine;
    std::string object;
    bool hasInstance = false;
    std::string parent;
    std::string instance;
    int index = 0; // the N of "#N"; 0 without
    std::string counter;
};

// Empty when the path does not follow the syntax.
std::optional<CounterPath> ParseCounterPath(std::string_view path);
