// A machine's table of counter and object names, the value "Counter 009" of
// HKEY_PERFORMANCE_DATA: UTF-16LE strings, each index followed by its English name, ended by an
// empty string. Windows sends it as REG_MULTI_SZ, Samba as REG_BINARY; the bytes are the same.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CounterNameTable {
public:
    // Reads the table; pairs whose index is not a number are passed over. Empty when the data
    // holds no name.
    static CounterNameTable Parse(std::span<const std::uint8_t> data);

    bool IsEmpty() const { return m_names.empty(); }
    std::size_t Size() const { return m_names.size(); }
    // The name of an index; empty when the table has none.
    std::string_view NameOf(std::uint32_t index) const;
    // Every index whose name is name, ASCII case ignored, in ascending order. A name can stand
    // for several indices (Windows gives "% Processor Time" to more than one object's counter).
    const std::vector<std::uint32_t>& IndicesOf(std::string_view name) const;

private:
    std::unordered_map<std::uint32_t, std::string> m_names;
    std::unordered_map<std::string, std::vector<std::uint32_t>> m_indices; // by lower-case name
};
