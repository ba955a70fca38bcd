// The counter-path parser: \\machine\object(parent/instance#index)\counter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "perf/counter_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto path = ParseCounterPath(text);
    if (!path)
        return 0;
    // What was parsed came from the text: no part is longer than the whole, and a path that
    // parses has an object and a counter.
    if (path->object.empty() || path->counter.empty())
        std::abort();
    if (path->machine.size() + path->object.size() + path->counter.size() + path->instance.size() > size)
        std::abort();
    if (path->index < 0)
        std::abort();
    return 0;
}
