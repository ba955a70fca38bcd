#include "perf/counter_name_table.h"

#include <algorithm>
#include <charconv>

#include "framework/ascii_case.h"
#include "perf/perf_data_block.h"

namespace {

// The strings of a UTF-16LE multi-string, up to the empty one that ends it or the end of data.
std::vector<std::string> Strings(std::span<const std::uint8_t> data)
{
    std::vector<std::string> strings;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        if (data[i] != 0 || data[i + 1] != 0)
            continue;
        if (i == start)
            break;
        strings.push_back(Utf16LeToUtf8(data.subspan(start, i - start)));
        start = i + 2;
    }
    if (start + 1 < data.size() && (data[start] != 0 || data[start + 1] != 0)) // no final NUL
        strings.push_back(Utf16LeToUtf8(data.subspan(start)));
    return strings;
}

} // namespace

CounterNameTable CounterNameTable::Parse(std::span<const std::uint8_t> data)
{
    CounterNameTable table;
    const std::vector<std::string> strings = Strings(data);
    for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
        const std::string& digits = strings[i];
        std::uint32_t index = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
            continue;
        if (!table.m_names.emplace(index, strings[i + 1]).second)
            continue; // a repeated index keeps its first name
        table.m_indices[AsciiLowercase(strings[i + 1])].push_back(index);
    }
    for (auto& [name, indices] : table.m_indices)
        std::sort(indices.begin(), indices.end());
    return table;
}

std::string_view CounterNameTable::NameOf(std::uint32_t index) const
{
    const auto found = m_names.find(index);
    return found == m_names.end() ? std::string_view() : std::string_view(found->second);
}

const std::vector<std::uint32_t>& CounterNameTable::IndicesOf(std::string_view name) const
{
    static const std::vector<std::uint32_t> kNone;
    const auto found = m_indices.find(AsciiLowercase(name));
    return found == m_indices.end() ? kNone : found->second;
}
