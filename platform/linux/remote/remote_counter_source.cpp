#include "platform/linux/remote/remote_counter_source.h"

#include <algorithm>

#include "directory/win32_error_text.h"
#include "framework/ascii_case.h"
#include "perf/counter_path.h"
#include "perf/pdh_status.h"

namespace {

constexpr char kCounterNames[] = "Counter 009"; // the English names

// What a failed connection means to the counter library: access refused for now is access
// denied, which the caller retries for a while; refused credentials are final, as their own
// Win32 error, since every try would count towards the account's lockout; anything else is a
// machine that cannot be reached.
PDH_STATUS ConnectStatus(std::uint32_t win32)
{
    if (win32 == win32_error::kAccessDenied)
        return PDH_ACCESS_DENIED;
    if (IsRefusedLogon(win32))
        return PdhStatusFromWin32(win32);
    return PDH_CSTATUS_NO_MACHINE;
}

// Whether status says the machine could not be connected or its connection was lost, as opposed
// to an answer it gave.
bool IsConnectionFailure(PDH_STATUS status)
{
    return status == PDH_CSTATUS_NO_MACHINE || status == PDH_ACCESS_DENIED || IsWin32Status(status);
}

} // namespace

struct RemoteCounterSource::Machine {
    std::string name;
    std::unique_ptr<IPerformanceKey> key; // null while not connected
    CounterNameTable names;
    std::uint64_t connection = 0; // counts the connections made
    // How the attempt to connect failed, in the operation under way (a connection, the counters
    // added after it, a collection): the rest of the operation fails at once with it, so that a
    // machine that is not answering holds the caller once, not once per counter. 0 while none.
    PDH_STATUS failure = 0;
    std::uint32_t bufferBytes = kInitialBufferBytes;
    std::vector<std::uint8_t> buffer;
    // The last block read while counters were added, kept to add the next from.
    std::vector<std::uint8_t> definitionBytes;
    PerfDataBlock definitions;
    std::uint64_t definitionsConnection = 0;
};

struct RemoteCounterSource::Counter {
    PerfCounterName name;
    PerfCounterLocation location;
    std::uint64_t locatedOnConnection = 0; // indices hold for that connection's name table
    std::uint32_t type = 0;
    RawCounterSample previous, current;
};

// A query's counters of one machine, which one query of their objects serves.
struct RemoteCounterSource::MachineCounters {
    Machine* machine = nullptr;
    std::vector<std::unique_ptr<Counter>> counters;
    std::string objects;                 // the value name that asks for their objects
    std::uint64_t objectsConnection = 0; // the connection whose indices it holds; 0: to be made again
};

struct RemoteCounterSource::Query {
    std::vector<MachineCounters> machines;
};

RemoteCounterSource::RemoteCounterSource(std::unique_ptr<IPerformanceRegistry> registry, Sleeper sleeper)
    : m_registry(std::move(registry)), m_sleeper(std::move(sleeper))
{
}

RemoteCounterSource::~RemoteCounterSource() = default;

RemoteCounterSource::Machine& RemoteCounterSource::MachineNamed(const std::string& name)
{
    std::unique_ptr<Machine>& machine = m_machines[AsciiLowercase(name)];
    if (!machine) {
        machine = std::make_unique<Machine>();
        machine->name = name;
    }
    return *machine;
}

PDH_STATUS RemoteCounterSource::Connect(Machine& machine)
{
    if (machine.key && machine.key->IsCurrent())
        return 0;
    if (machine.failure != 0)
        return machine.failure;
    machine.key.reset();
    std::unique_ptr<IPerformanceKey> key;
    if (std::uint32_t result = m_registry->Open(machine.name, &key); result != 0)
        return machine.failure = ConnectStatus(result);
    machine.key = std::move(key);
    ++machine.connection;
    std::span<const std::uint8_t> data;
    std::uint32_t type = 0;
    if (PDH_STATUS status = Fetch(machine, kCounterNames, &data, &type); status != 0) {
        machine.key.reset();
        return machine.failure = IsConnectionFailure(status) ? status : PDH_CANNOT_READ_NAME_STRINGS;
    }
    machine.names = type == registry_error::kRegBinary || type == registry_error::kRegMultiSz
                        ? CounterNameTable::Parse(data)
                        : CounterNameTable();
    if (machine.names.IsEmpty()) {
        machine.key.reset();
        return machine.failure = PDH_CANNOT_READ_NAME_STRINGS;
    }
    return 0;
}

// One value, asking again with a larger buffer while it does not fit: when the server says so
// (ERROR_MORE_DATA, as Windows does), and when the answer fills the buffer, which is how Samba
// answers a buffer too small for the performance data (WERR_OK and the data cut to its size).
PDH_STATUS RemoteCounterSource::Fetch(Machine& machine, const std::string& valueName,
                                      std::span<const std::uint8_t>* data, std::uint32_t* type)
{
    for (std::uint32_t size = machine.bufferBytes; size <= kLargestBufferBytes;) {
        machine.buffer.resize(size);
        std::uint32_t length = 0, needed = 0;
        const std::uint32_t result = machine.key->QueryValue(valueName, machine.buffer, &length, type, &needed);
        if (result == 0 && length < size) {
            machine.bufferBytes = size;
            *data = std::span<const std::uint8_t>(machine.buffer.data(), length);
            return 0;
        }
        if (result != 0 && result != registry_error::kMoreData) {
            if (result == win32_error::kAccessDenied)
                return PDH_ACCESS_DENIED; // the user may not read the performance data
            if (result == registry_error::kFileNotFound)
                return PDH_NO_DATA;
            machine.key.reset(); // the connection failed: the next operation connects anew
            return machine.failure = PDH_CSTATUS_NO_MACHINE;
        }
        size = std::max(size * 2, needed > size ? needed : 0u);
    }
    return PDH_INSUFFICIENT_BUFFER;
}

// The block of the objects (ObjectList), read from a copy of the answer in *bytes when given,
// else from the machine's buffer.
PDH_STATUS RemoteCounterSource::FetchBlock(Machine& machine, const std::string& objects,
                                           std::vector<std::uint8_t>* bytes, PerfDataBlock* block)
{
    std::span<const std::uint8_t> data;
    std::uint32_t type = 0;
    if (PDH_STATUS status = Fetch(machine, objects, &data, &type); status != 0)
        return status;
    if (data.empty())
        return PDH_NO_DATA;
    if (bytes != nullptr) {
        bytes->assign(data.begin(), data.end());
        data = *bytes;
    }
    return ReadPerfDataBlock(data, block) == PerfDataStatus::Ok ? 0 : PDH_INVALID_DATA;
}

PDH_STATUS RemoteCounterSource::ConnectMachine(const CString& machine)
{
    // A connection begins an operation: a new attempt.
    Machine& named = MachineNamed(machine.ToUtf8());
    named.failure = 0;
    return Connect(named);
}

PDH_STATUS RemoteCounterSource::OpenQuery(std::uintptr_t, PdhQuery** query)
{
    if (query == nullptr)
        return PDH_INVALID_ARGUMENT;
    // A query begins an operation too: the counters added to it try each machine anew.
    for (auto& [name, machine] : m_machines)
        machine->failure = 0;
    auto created = std::make_unique<Query>();
    *query = reinterpret_cast<PdhQuery*>(created.get());
    m_queries.emplace(*query, std::move(created));
    return 0;
}

namespace {

void AppendIndices(const std::vector<std::uint32_t>& indices, std::vector<std::uint32_t>& list)
{
    for (std::uint32_t index : indices) {
        if (std::find(list.begin(), list.end(), index) == list.end())
            list.push_back(index);
    }
}

// The value name that asks for the objects: their indices separated by spaces.
std::string ObjectList(const std::vector<std::uint32_t>& objects)
{
    std::string list;
    for (std::uint32_t index : objects)
        list += (list.empty() ? "" : " ") + std::to_string(index);
    return list;
}

} // namespace

PDH_STATUS RemoteCounterSource::AddCounter(PdhQuery* query, const CString& fullPath, std::uintptr_t,
                                           PdhCounter** counter)
{
    const auto found = m_queries.find(query);
    if (found == m_queries.end())
        return PDH_INVALID_HANDLE;
    if (counter == nullptr)
        return PDH_INVALID_ARGUMENT;
    const std::optional<CounterPath> path = ParseCounterPath(fullPath.ToUtf8());
    if (!path)
        return PDH_CSTATUS_BAD_COUNTERNAME;
    Machine& machine = MachineNamed(path->machine);
    if (PDH_STATUS status = Connect(machine); status != 0)
        return status;

    auto added = std::make_unique<Counter>();
    added->name = { path->object, path->counter, path->hasInstance, path->parent, path->instance, path->index };
    const std::vector<std::uint32_t>& objects = machine.names.IndicesOf(path->object);
    if (objects.empty())
        return PDH_CSTATUS_NO_OBJECT;
    // The definitions come with the data: ask for the object unless the last answer had it.
    if (machine.definitionsConnection != machine.connection ||
        FindNamedObject(machine.definitions, machine.names, path->object) == nullptr) {
        const PDH_STATUS status =
            FetchBlock(machine, ObjectList(objects), &machine.definitionBytes, &machine.definitions);
        if (status != 0)
            return IsConnectionFailure(status) ? status : PDH_CSTATUS_NO_OBJECT;
        machine.definitionsConnection = machine.connection;
    }
    switch (LocatePerfCounter(machine.definitions, machine.names, added->name, &added->location)) {
    case PerfLookupStatus::NoObject:
        return PDH_CSTATUS_NO_OBJECT;
    case PerfLookupStatus::NoCounter:
        return PDH_CSTATUS_NO_COUNTER;
    case PerfLookupStatus::Ok:
        break;
    }
    added->locatedOnConnection = machine.connection;
    *counter = reinterpret_cast<PdhCounter*>(added.get());
    m_counters.insert(*counter);
    std::vector<MachineCounters>& machines = found->second->machines;
    auto own =
        std::find_if(machines.begin(), machines.end(), [&](const MachineCounters& m) { return m.machine == &machine; });
    if (own == machines.end())
        own = machines.insert(machines.end(), MachineCounters{ &machine, {}, {}, 0 });
    own->counters.push_back(std::move(added));
    own->objectsConnection = 0;
    return 0;
}

PDH_STATUS RemoteCounterSource::Collect(MachineCounters& counters)
{
    Machine& machine = *counters.machine;
    if (PDH_STATUS status = Connect(machine); status != 0)
        return status;
    // The objects the counters need, never "Global": located counters by their object's index,
    // others (found on an earlier connection) by every index their object's name now has. Kept
    // while the connection lasts once every counter is located.
    if (counters.objectsConnection != machine.connection) {
        std::vector<std::uint32_t> list;
        bool located = true;
        for (const auto& c : counters.counters) {
            if (c->locatedOnConnection == machine.connection) {
                AppendIndices({ c->location.objectIndex }, list);
            } else {
                AppendIndices(machine.names.IndicesOf(c->name.object), list);
                located = false;
            }
        }
        if (list.empty())
            return PDH_NO_DATA;
        counters.objects = ObjectList(list);
        counters.objectsConnection = located ? machine.connection : 0;
    }
    PerfDataBlock block;
    if (PDH_STATUS status = FetchBlock(machine, counters.objects, nullptr, &block); status != 0)
        return status;
    for (const auto& c : counters.counters) {
        RawCounterSample sample;
        if (c->locatedOnConnection != machine.connection) {
            // A new connection may have brought a new name table: find the counter again.
            const PerfLookupStatus found = LocatePerfCounter(block, machine.names, c->name, &c->location);
            if (found == PerfLookupStatus::Ok)
                c->locatedOnConnection = machine.connection;
            else
                sample.CStatus = found == PerfLookupStatus::NoObject ? PDH_CSTATUS_NO_OBJECT : PDH_CSTATUS_NO_COUNTER;
        }
        if (c->locatedOnConnection == machine.connection)
            sample = SamplePerfCounter(block, c->location, c->name, &c->type);
        c->previous = c->current;
        c->current = sample;
    }
    return 0;
}

PDH_STATUS RemoteCounterSource::CollectQueryData(PdhQuery* query)
{
    const auto found = m_queries.find(query);
    if (found == m_queries.end())
        return PDH_INVALID_HANDLE;
    Query& q = *found->second;
    if (q.machines.empty())
        return PDH_NO_DATA;
    // A collection begins an operation: one new attempt per machine.
    for (MachineCounters& counters : q.machines)
        counters.machine->failure = 0;
    PDH_STATUS result = 0;
    for (MachineCounters& counters : q.machines) {
        if (PDH_STATUS status = Collect(counters); status != 0 && result == 0)
            result = status;
    }
    return result;
}

PDH_STATUS RemoteCounterSource::GetFormattedCounterValue(PdhCounter* counter, std::uint32_t format,
                                                         PdhFormattedValue* value)
{
    if (!m_counters.contains(counter))
        return PDH_INVALID_HANDLE;
    const Counter& c = *reinterpret_cast<const Counter*>(counter);
    return FormatCounterValue(static_cast<CounterType>(c.type), c.previous, c.current, format, value);
}

PDH_STATUS RemoteCounterSource::GetRawCounterValue(PdhCounter* counter, std::uint32_t* type, RawCounterSample* sample)
{
    if (!m_counters.contains(counter))
        return PDH_INVALID_HANDLE;
    if (type == nullptr || sample == nullptr)
        return PDH_INVALID_ARGUMENT;
    const Counter& c = *reinterpret_cast<const Counter*>(counter);
    *type = c.type;
    *sample = c.current;
    return 0;
}

PDH_STATUS RemoteCounterSource::CloseQuery(PdhQuery* query)
{
    const auto found = m_queries.find(query);
    if (found == m_queries.end())
        return PDH_INVALID_HANDLE;
    for (const MachineCounters& counters : found->second->machines) {
        for (const auto& c : counters.counters)
            m_counters.erase(reinterpret_cast<PdhCounter*>(c.get()));
    }
    m_queries.erase(found);
    return 0;
}

void RemoteCounterSource::Sleep(std::uint32_t milliseconds)
{
    m_sleeper(milliseconds);
}
