// One refresh of the program's thirteen counters from a Samba server's winreg on loopback (a
// standalone smbd of tests/integration/run_smbd.sh, its perfmon filled with a Windows-sized
// Process object), beside the floor: the bare BaseRegQueryValue of the same objects through the
// same library, with nothing read or formatted. tools/bench-remote.sh starts the peer, runs this
// and python3-samba's winreg doing the same query; docs/performance.md has the figures.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/tcp.h> // struct tcp_info with tcpi_bytes_received
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/counter_set.h"
#include "perf/counter_path.h"
#include "perf/pdh_status.h"
#include "perf/perf_counter_lookup.h"
#include "platform/linux/remote/remote_counter_source.h"
#include "platform/linux/remote/samba_performance_registry.h"
#include "platform/linux/remote/winreg_client.h"
#include "platform/linux/samba/credential_registry.h"
#include "tests/integration/counting_registry.h"

namespace {

std::map<std::string, std::string> Peer()
{
    std::map<std::string, std::string> state;
    const char* path = std::getenv("ZELTOR_SMBD_STATE");
    std::ifstream file(path != nullptr ? path : "");
    for (std::string line; std::getline(file, line);) {
        if (const size_t eq = line.find('='); eq != std::string::npos)
            state[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return state;
}

// This process's write calls so far (/proc/self/io: each request to the server is one), and
// the bytes its TCP connections to port have received (TCP_INFO).
struct Io {
    long long writes = 0, bytesRead = 0;
};
Io ReadIo(std::uint16_t port)
{
    Io io;
    std::ifstream file("/proc/self/io");
    std::string key;
    long long value = 0;
    while (file >> key >> value) {
        if (key == "syscw:")
            io.writes = value;
    }
    if (DIR* fds = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(fds)) {
            const int fd = std::atoi(entry->d_name);
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            tcp_info info{};
            socklen_t infoLength = sizeof info;
            if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 && peer.sin_family == AF_INET &&
                ntohs(peer.sin_port) == port && getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &infoLength) == 0)
                io.bytesRead += static_cast<long long>(info.tcpi_bytes_received);
        }
        closedir(fds);
    }
    return io;
}

// The winreg client itself, logged on as the peer's user: what the remote source rides.
winreg_client* OpenBareClient(std::map<std::string, std::string>& peer)
{
    samba_connect_options options{};
    options.server = peer["address"].c_str();
    options.target_name = peer["address"].c_str();
    options.logon = SAMBA_LOGON_PASSWORD;
    options.user = peer["user"].c_str();
    options.password = peer["password"].c_str();
    options.port = static_cast<unsigned short>(std::stoi(peer["port"]));
    options.connect_timeout_ms = 10000;
    options.call_timeout_seconds = 5;
    winreg_client* client = nullptr;
    std::uint32_t werror = 0;
    if (winreg_client_open(&options, &client, &werror) != 0 || werror != 0)
        return nullptr;
    return client;
}

// Per refresh, as plain numbers.
void Report(benchmark::State& state, const Io& before, long long queries, std::uint16_t port)
{
    const Io after = ReadIo(port);
    const auto n = static_cast<double>(state.iterations());
    state.counters["queries"] = static_cast<double>(queries) / n;
    state.counters["smb_requests"] = static_cast<double>(after.writes - before.writes) / n;
    state.counters["bytes_received"] = static_cast<double>(after.bytesRead - before.bytesRead) / n;
}

void BM_RemoteRefresh(benchmark::State& state)
{
    auto peer = Peer();
    if (peer.empty()) {
        state.SkipWithError("ZELTOR_SMBD_STATE names no running peer (tools/bench-remote.sh)");
        return;
    }
    CredentialRegistry credentials;
    const CredentialRegistry::Id id =
        credentials.Add(peer["address"], SmbCredentials({}, peer["user"], peer["password"]));
    RemoteCounterOptions options;
    options.smbPort = static_cast<std::uint16_t>(std::stoi(peer["port"]));
    auto counting =
        std::make_unique<CountingRegistry>(std::make_unique<SambaPerformanceRegistry>(credentials, options));
    CountingRegistry& registry = *counting;
    RemoteCounterSource source(std::move(counting), [](std::uint32_t) {});
    const CString machine = CString::FromUtf8(peer["address"]);
    PdhQuery* query = nullptr;
    std::vector<PdhCounter*> counters;
    if (source.ConnectMachine(machine) != 0 || source.OpenQuery(1, &query) != 0) {
        state.SkipWithError("cannot connect to the peer");
        return;
    }
    for (const char16_t* path : kCounterSetPaths) {
        PdhCounter* counter = nullptr;
        if (source.AddCounter(query, u"\\\\" + machine + path, 0, &counter) == 0)
            counters.push_back(counter);
    }
    source.CollectQueryData(query);
    const long long queriesBefore = registry.Total();
    const Io before = ReadIo(options.smbPort);
    long long valid = 0;
    for (auto _ : state) {
        if (source.CollectQueryData(query) != 0) {
            state.SkipWithError("collection failed");
            break;
        }
        for (PdhCounter* counter : counters) {
            PdhFormattedValue value;
            valid += source.GetFormattedCounterValue(counter, PDH_FMT_LONG_FORMAT, &value) == 0 ? 1 : 0;
        }
    }
    Report(state, before, registry.Total() - queriesBefore, options.smbPort);
    state.counters["valid_values"] = static_cast<double>(valid) / static_cast<double>(state.iterations());
    source.CloseQuery(query);
    credentials.Remove(id);
}

// The floor: the same query through the same client, answered into a buffer, nothing read.
void BM_BareQueryValue(benchmark::State& state)
{
    auto peer = Peer();
    if (peer.empty()) {
        state.SkipWithError("ZELTOR_SMBD_STATE names no running peer (tools/bench-remote.sh)");
        return;
    }
    winreg_client* client = OpenBareClient(peer);
    if (client == nullptr) {
        state.SkipWithError("cannot connect to the peer");
        return;
    }
    const auto port = static_cast<std::uint16_t>(std::stoi(peer["port"]));
    std::vector<std::uint8_t> buffer(RemoteCounterSource::kInitialBufferBytes);
    const std::string objects = peer["objects"];
    const Io before = ReadIo(port);
    long long queries = 0;
    for (auto _ : state) {
        std::uint32_t length = 0, type = 0, needed = 0, werror = 0;
        ++queries;
        if (winreg_client_query_value(client, objects.c_str(), buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                      &length, &type, &needed, &werror) != 0 ||
            werror != 0 || length >= buffer.size()) {
            state.SkipWithError("query failed or did not fit");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    Report(state, before, queries, port);
    winreg_client_close(client);
}

// Reading and formatting alone: the thirteen counters found, sampled and formatted from two
// answers of the peer, with no network.
void BM_ReadAndFormat(benchmark::State& state)
{
    auto peer = Peer();
    if (peer.empty()) {
        state.SkipWithError("ZELTOR_SMBD_STATE names no running peer (tools/bench-remote.sh)");
        return;
    }
    winreg_client* client = OpenBareClient(peer);
    if (client == nullptr) {
        state.SkipWithError("cannot connect to the peer");
        return;
    }
    const auto query = [&](const std::string& name) {
        std::vector<std::uint8_t> buffer(RemoteCounterSource::kInitialBufferBytes);
        std::uint32_t length = 0, type = 0, needed = 0, werror = 0;
        winreg_client_query_value(client, name.c_str(), buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                  &length, &type, &needed, &werror);
        buffer.resize(length);
        return buffer;
    };
    const std::vector<std::uint8_t> names = query("Counter 009"), first = query(peer["objects"]);
    usleep(600'000); // the filler writes new figures twice a second
    const std::vector<std::uint8_t> second = query(peer["objects"]);
    winreg_client_close(client);

    const CounterNameTable table = CounterNameTable::Parse(names);
    std::vector<PerfCounterName> paths;
    for (const char16_t* path : kCounterSetPaths) {
        const std::optional<CounterPath> parsed = ParseCounterPath("\\\\peer" + CString(path).ToUtf8());
        paths.push_back(
            { parsed->object, parsed->counter, parsed->hasInstance, parsed->parent, parsed->instance, parsed->index });
    }
    PerfDataBlock block;
    ReadPerfDataBlock(first, &block);
    std::vector<PerfCounterLocation> locations(paths.size());
    std::vector<RawCounterSample> previous(paths.size());
    std::vector<std::uint32_t> types(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        LocatePerfCounter(block, table, paths[i], &locations[i]);
        previous[i] = SamplePerfCounter(block, locations[i], paths[i], &types[i]);
    }
    long long valid = 0;
    for (auto _ : state) {
        if (ReadPerfDataBlock(second, &block) != PerfDataStatus::Ok) {
            state.SkipWithError("the answer does not read");
            break;
        }
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const RawCounterSample current = SamplePerfCounter(block, locations[i], paths[i], &types[i]);
            PdhFormattedValue value;
            valid += FormatCounterValue(static_cast<CounterType>(types[i]), previous[i], current, PDH_FMT_LONG_FORMAT,
                                        &value) == 0;
        }
    }
    state.counters["valid_values"] = static_cast<double>(valid) / static_cast<double>(state.iterations());
    state.counters["answer_bytes"] = static_cast<double>(second.size());
}

} // namespace

BENCHMARK(BM_ReadAndFormat)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RemoteRefresh)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareQueryValue)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
