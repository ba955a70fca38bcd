// A machine's table of counter and object names, the value "Counter 009" of
// HKEY_PERFORMANCE_DATA: UTF-16LE strings, each index followed by its English name, ended by an
// empty string. Windows sends it as REG_MULTI_SZ, Samba as REG_BINARY; the bytes are the same.
//
// The table comes from the other machine and may be as large as the reader lets an answer be:
// its names are kept in one block of text with two sorted arrays of 32-bit positions into it,
// and no more than kMaxNames of them are kept.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CounterNameTable {
public:
    // Far more names than any machine has (Windows numbers its counters and objects in the tens
    // of thousands); pairs beyond them are not read.
    static constexpr std::size_t kMaxNames = std::size_t{ 1 } << 18;
    // The longest name kept, in UTF-16 units (PDH_MAX_COUNTER_NAME); a pair with a longer one,
    // which no counter path can name, is passed over.
    static constexpr std::size_t kMaxNameUnits = 1024;

    // Reads the table; pairs whose index is not a number are passed over. Empty when the data
    // holds no name.
    static CounterNameTable Parse(std::span<const std::uint8_t> data);

    bool IsEmpty() const { return m_byIndex.empty(); }
    std::size_t Size() const { return m_byIndex.size(); }
    // The name of an index; empty when the table has none.
    std::string_view NameOf(std::uint32_t index) const;
    // Every index whose name is name, ASCII case ignored, in ascending order. A name can stand
    // for several indices (Windows gives "% Processor Time" to more than one object's counter).
    std::vector<std::uint32_t> IndicesOf(std::string_view name) const;

private:
    struct Entry {
        std::uint32_t index;
        std::uint32_t offset; // of the name in m_text
        std::uint32_t length;
    };
    std::string_view Text(const Entry& entry) const
    {
        return std::string_view(m_text).substr(entry.offset, entry.length);
    }

    std::string m_text;                  // the names in UTF-8, one after another
    std::vector<Entry> m_byIndex;        // by ascending index; a repeated index keeps its first name
    std::vector<std::uint32_t> m_byName; // positions in m_byIndex by lower-case name, then index
};
