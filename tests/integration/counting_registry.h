// A performance registry that passes every query on to a real one and counts them by value name:
// how the tests and the benchmark see what one collection costs in round trips.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/linux/remote/performance_registry.h"

class CountingRegistry : public IPerformanceRegistry {
public:
    explicit CountingRegistry(std::unique_ptr<IPerformanceRegistry> real) : m_real(std::move(real)) {}
    std::map<std::string, int> queries;

    long long Total() const
    {
        long long total = 0;
        for (const auto& [name, count] : queries)
            total += count;
        return total;
    }

    std::uint32_t Open(const std::string& machine, std::unique_ptr<IPerformanceKey>* key) override
    {
        std::unique_ptr<IPerformanceKey> real;
        const std::uint32_t result = m_real->Open(machine, &real);
        if (result == 0)
            *key = std::make_unique<Key>(std::move(real), queries);
        return result;
    }

private:
    struct Key : IPerformanceKey {
        Key(std::unique_ptr<IPerformanceKey> real, std::map<std::string, int>& queries)
            : real(std::move(real)), queries(queries)
        {
        }
        std::uint32_t QueryValue(const std::string& name, std::span<std::uint8_t> buffer, std::uint32_t* length,
                                 std::uint32_t* type, std::uint32_t* needed) override
        {
            ++queries[name];
            return real->QueryValue(name, buffer, length, type, needed);
        }
        bool IsCurrent() const override { return real->IsCurrent(); }
        std::unique_ptr<IPerformanceKey> real;
        std::map<std::string, int>& queries;
    };
    std::unique_ptr<IPerformanceRegistry> m_real;
};
