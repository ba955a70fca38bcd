#include "tests/fakes/perf_data_builder.h"

namespace {

class Writer {
public:
    std::vector<std::uint8_t> bytes;

    std::size_t Size() const { return bytes.size(); }
    void U16(std::uint16_t v) { Put(v, 2); }
    void U32(std::uint32_t v) { Put(v, 4); }
    void U64(std::uint64_t v) { Put(v, 8); }
    void Pad8()
    {
        while (bytes.size() % 8 != 0)
            bytes.push_back(0);
    }
    void Put(std::uint64_t v, int width)
    {
        for (int i = 0; i < width; ++i)
            bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void Set32(std::size_t at, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
};

// Bytes a counter takes: 8 for the 64-bit types, and for the 32-bit ones in Samba's layout.
std::uint32_t Width(std::uint32_t type, TestLayout layout)
{
    return (type & 0x300) == 0x100 || layout == TestLayout::Samba ? 8 : 4;
}

std::vector<std::uint32_t> Offsets(const TestObject& object, TestLayout layout, std::uint32_t* blockLength)
{
    std::vector<std::uint32_t> offsets;
    std::uint32_t at = 8; // after ByteLength, 8-aligned
    for (const auto& [index, type] : object.counters) {
        const std::uint32_t width = Width(type, layout);
        at = (at + width - 1) / width * width;
        offsets.push_back(at);
        at += width;
    }
    *blockLength = (at + 7) / 8 * 8;
    return offsets;
}

void CounterBlock(Writer& w, const TestObject& object, const std::vector<std::uint64_t>& values, TestLayout layout)
{
    std::uint32_t length = 0;
    const std::vector<std::uint32_t> offsets = Offsets(object, layout, &length);
    const std::size_t start = w.Size();
    w.U32(length);
    w.bytes.resize(start + length, 0);
    for (std::size_t i = 0; i < offsets.size() && i < values.size(); ++i) {
        const std::uint32_t width = Width(object.counters[i].second, layout);
        for (std::uint32_t b = 0; b < width; ++b)
            w.bytes[start + offsets[i] + b] = static_cast<std::uint8_t>(values[i] >> (8 * b));
    }
}

void Object(Writer& w, const TestObject& object, TestLayout layout)
{
    const std::size_t start = w.Size();
    w.U32(0); // TotalByteLength, set below
    w.U32(0); // DefinitionLength, set below
    w.U32(64);
    w.U32(object.index);
    w.U32(0);
    w.U32(object.index + 1);
    w.U32(0);
    w.U32(100); // PERF_DETAIL_NOVICE
    w.U32(static_cast<std::uint32_t>(object.counters.size()));
    w.U32(0);
    w.U32(object.hasInstances ? static_cast<std::uint32_t>(object.instances.size()) : 0xFFFFFFFF);
    w.U32(0);
    w.U64(object.perfTime);
    w.U64(object.perfFreq);
    std::uint32_t blockLength = 0;
    const std::vector<std::uint32_t> offsets = Offsets(object, layout, &blockLength);
    for (std::size_t i = 0; i < object.counters.size(); ++i) {
        const auto [index, type] = object.counters[i];
        w.U32(40);
        w.U32(index);
        w.U32(0);
        w.U32(index + 1);
        w.U32(0);
        w.U32(0);
        w.U32(100);
        w.U32(type);
        w.U32(Width(type, layout));
        w.U32(offsets[i]);
    }
    w.Set32(start + 4, static_cast<std::uint32_t>(w.Size() - start));
    if (!object.hasInstances) {
        CounterBlock(w, object, object.values, layout);
    } else {
        for (const TestInstance& instance : object.instances) {
            const std::size_t at = w.Size();
            w.U32(0); // ByteLength, set below
            w.U32(instance.parentObject);
            w.U32(instance.parentInstance);
            w.U32(0xFFFFFFFF); // PERF_NO_UNIQUE_ID
            w.U32(24);
            w.U32(static_cast<std::uint32_t>(2 * (instance.name.size() + 1)));
            for (char16_t c : instance.name)
                w.U16(c);
            w.U16(0);
            w.Pad8();
            w.Set32(at, static_cast<std::uint32_t>(w.Size() - at));
            CounterBlock(w, object, instance.values, layout);
        }
    }
    w.Set32(start, static_cast<std::uint32_t>(w.Size() - start));
}

} // namespace

std::vector<std::uint8_t> BuildPerfData(const TestBlock& block, TestLayout layout)
{
    Writer w;
    for (char16_t c : u"PERF")
        if (c != 0)
            w.U16(c);
    w.U32(1); // LittleEndian
    w.U32(1);
    w.U32(1);
    w.U32(0); // TotalByteLength, set below
    w.U32(0); // HeaderLength, set below
    w.U32(static_cast<std::uint32_t>(block.objects.size()));
    w.U32(0xFFFFFFFF);
    for (int i = 0; i < 8; ++i)
        w.U16(0); // SystemTime
    w.U32(0);
    w.U64(block.perfTime);
    w.U64(block.perfFreq);
    w.U64(block.perfTime100nSec);
    w.U32(6);
    w.U32(88);
    for (char16_t c : u"DC1")
        w.U16(c);
    w.Pad8();
    const auto header = static_cast<std::uint32_t>(w.Size());
    w.Set32(24, header);
    for (const TestObject& object : block.objects)
        Object(w, object, layout);
    const auto total = static_cast<std::uint32_t>(w.Size());
    w.Set32(20, layout == TestLayout::Windows ? total : total - header);
    return w.bytes;
}

std::vector<std::uint8_t> BuildCounterNames(const std::vector<std::pair<std::uint32_t, std::string>>& names)
{
    Writer w;
    const auto text = [&](const std::string& s) {
        for (unsigned char c : s)
            w.U16(c);
        w.U16(0);
    };
    for (const auto& [index, name] : names) {
        text(std::to_string(index));
        text(name);
    }
    w.U16(0);
    return w.bytes;
}
