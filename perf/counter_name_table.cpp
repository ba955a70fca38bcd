#include "perf/counter_name_table.h"

#include <algorithm>
#include <numeric>
#include <type_traits>

#include "framework/ascii_case.h"
#include "perf/perf_data_block.h"

namespace {

// Calls take(string) for each string of a UTF-16LE multi-string, up to the empty one that ends it
// or the end of data, while take returns true.
template <typename Take>
void ForEachString(std::span<const std::uint8_t> data, Take take)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        if (data[i] != 0 || data[i + 1] != 0)
            continue;
        if (i == start || !take(data.subspan(start, i - start)))
            return;
        start = i + 2;
    }
    if (start + 1 < data.size() && (data[start] != 0 || data[start + 1] != 0)) // no final NUL
        take(data.subspan(start));
}

// The index a string of decimal digits gives; false for anything else, or beyond 32 bits.
bool ParseIndex(std::span<const std::uint8_t> text, std::uint32_t* index)
{
    const std::size_t units = text.size() / 2;
    if (units == 0)
        return false;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint8_t low = text[2 * i], high = text[2 * i + 1];
        if (high != 0 || low < '0' || low > '9')
            return false;
        value = value * 10 + (low - '0');
        if (value > 0xFFFFFFFFu)
            return false;
    }
    *index = static_cast<std::uint32_t>(value);
    return true;
}

// Appends UTF-16LE text as UTF-8: ASCII (nearly every name) directly, anything else by way of
// the text type.
void AppendUtf8(std::span<const std::uint8_t> text, std::string& out)
{
    const std::size_t units = text.size() / 2;
    bool ascii = true;
    for (std::size_t i = 0; i < units && ascii; ++i)
        ascii = text[2 * i + 1] == 0 && text[2 * i] < 0x80;
    if (!ascii) {
        out += Utf16LeToUtf8(text);
        return;
    }
    for (std::size_t i = 0; i < units; ++i)
        out += static_cast<char>(text[2 * i]);
}

bool LessIgnoringCase(std::string_view a, std::string_view b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(AsciiLower(x)) < static_cast<unsigned char>(AsciiLower(y));
    });
}

} // namespace

CounterNameTable CounterNameTable::Parse(std::span<const std::uint8_t> data)
{
    CounterNameTable table;
    // Room for the pairs, counted first, so that the arrays are made once at their size.
    std::size_t strings = 0;
    ForEachString(data, [&](std::span<const std::uint8_t>) { return ++strings < 2 * kMaxNames; });
    table.m_byIndex.reserve(strings / 2);
    table.m_text.reserve(std::min(data.size() / 2, std::size_t{ 0xFFFFFFFFu }));

    std::span<const std::uint8_t> digits;
    bool haveDigits = false;
    ForEachString(data, [&](std::span<const std::uint8_t> text) {
        if (!haveDigits) {
            digits = text;
            haveDigits = true;
            return true;
        }
        haveDigits = false;
        std::uint32_t index = 0;
        if (!ParseIndex(digits, &index) || text.size() / 2 > kMaxNameUnits)
            return true;
        const std::size_t offset = table.m_text.size();
        AppendUtf8(text, table.m_text);
        if (table.m_text.size() > 0xFFFFFFFFu)
            return false;
        table.m_byIndex.push_back(
            { index, static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(table.m_text.size() - offset) });
        return table.m_byIndex.size() < kMaxNames;
    });
    table.m_text.shrink_to_fit();

    // A repeated index keeps its first name.
    std::vector<Entry>& entries = table.m_byIndex;
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.index < b.index; });
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const Entry& a, const Entry& b) { return a.index == b.index; }),
                  entries.end());
    entries.shrink_to_fit();

    table.m_byName.resize(entries.size());
    std::iota(table.m_byName.begin(), table.m_byName.end(), std::uint32_t{ 0 });
    std::sort(table.m_byName.begin(), table.m_byName.end(), [&](std::uint32_t a, std::uint32_t b) {
        const std::string_view nameA = table.Text(entries[a]), nameB = table.Text(entries[b]);
        if (LessIgnoringCase(nameA, nameB))
            return true;
        return !LessIgnoringCase(nameB, nameA) && a < b;
    });
    return table;
}

std::string_view CounterNameTable::NameOf(std::uint32_t index) const
{
    const auto found = std::lower_bound(m_byIndex.begin(), m_byIndex.end(), index,
                                        [](const Entry& entry, std::uint32_t wanted) { return entry.index < wanted; });
    return found == m_byIndex.end() || found->index != index ? std::string_view() : Text(*found);
}

std::vector<std::uint32_t> CounterNameTable::IndicesOf(std::string_view name) const
{
    const auto [first, last] =
        std::equal_range(m_byName.begin(), m_byName.end(), name, [&](const auto& a, const auto& b) {
            // One side is the name looked for, the other a position in m_byIndex.
            const auto text = [&](const auto& side) -> std::string_view {
                if constexpr (std::is_same_v<std::decay_t<decltype(side)>, std::uint32_t>)
                    return Text(m_byIndex[side]);
                else
                    return side;
            };
            return LessIgnoringCase(text(a), text(b));
        });
    std::vector<std::uint32_t> indices;
    indices.reserve(static_cast<std::size_t>(last - first));
    for (auto at = first; at != last; ++at)
        indices.push_back(m_byIndex[*at].index); // ascending: m_byName orders a name's by position
    return indices;
}
