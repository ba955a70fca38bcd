#include "platform/win32/win32_include.h"

#include <winnetwk.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "directory/win32_error_text.h"
#include "platform/win32/win32_health.h"
#include "platform/win32/win32_health_parts.h"

namespace {

// The system's libraries take no bound of ours for every call (a DNS query, a Negotiate bind, a
// connection): each exchange runs on a thread of its own, which is left to end on its own when
// it is late. It holds copies of what it uses.
template <class Result, class Exchange>
Result WithinBound(int timeoutMs, Result late, Exchange exchange)
{
    struct State {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<Result> result;
    };
    const auto state = std::make_shared<State>();
    std::thread([state, exchange = std::move(exchange)]() mutable {
        Result result = exchange();
        const std::lock_guard lock(state->mutex);
        state->result = std::move(result);
        state->done.notify_all();
    }).detach();
    std::unique_lock lock(state->mutex);
    if (!state->done.wait_for(lock, std::chrono::milliseconds(std::max(1, timeoutMs)),
                              [&] { return state->result.has_value(); }))
        return late;
    return std::move(*state->result);
}

HealthProbe Late(int timeoutMs)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", timeoutMs / 1000.0);
    return { false, std::string("no answer within ") + seconds };
}

bool IsAddress(const std::string& name)
{
    return std::all_of(name.begin(), name.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

// The share connected as the program connects to a controller, then let go; without a user,
// with this logon's credentials.
HealthProbe ConnectShare(const HealthTarget& target, const std::string& share)
{
    const std::string path = "\\\\" + target.controller + "\\" + share;
    CString remote = CString::FromUtf8(path);
    NETRESOURCEW resource{};
    resource.dwType = RESOURCETYPE_ANY;
    resource.lpRemoteName = const_cast<wchar_t*>(WStr(remote));
    const bool user = !target.user.IsEmpty();
    const DWORD result =
        WNetAddConnection2W(&resource, user ? WStr(target.password) : nullptr, user ? WStr(target.user) : nullptr, 0);
    if (result != NO_ERROR)
        return { false, path + ": " + SystemText(result), IsRefusedLogon(result) };
    WNetCancelConnectionW(WStr(remote), FALSE);
    return { true, path + " connected" };
}

} // namespace

RootDseReading Win32HealthService::ReadRootDse(const HealthTarget& target, std::uint16_t port, int timeoutMs)
{
    RootDseReading late;
    late.probe = Late(timeoutMs);
    return WithinBound(timeoutMs, late, [target, port, timeoutMs] {
        ControllerPlace place;
        RootDseReading reading;
        if (!LocateController(target, &place, &reading.probe.detail))
            return reading;
        return ReadRootDseAt(place.address, port, timeoutMs);
    });
}

HealthProbe Win32HealthService::BindAndReadDomain(const HealthTarget& target, int timeoutMs)
{
    return WithinBound(timeoutMs, Late(timeoutMs), [target, timeoutMs] {
        ControllerPlace place;
        HealthProbe probe;
        if (!LocateController(target, &place, &probe.detail))
            return probe;
        if (IsAddress(place.host))
            return HealthProbe{ false, "a Kerberos bind needs the controller's DNS name, not its address" };
        return BindAndReadDomainAt(target, place.host, timeoutMs);
    });
}

HealthProbe Win32HealthService::AskKdc(const HealthTarget& target, int timeoutMs)
{
    return WithinBound(timeoutMs, Late(timeoutMs), [target] {
        ControllerPlace place;
        HealthProbe probe;
        if (!LocateController(target, &place, &probe.detail))
            return probe;
        if (place.domain.empty() || IsAddress(place.host))
            return HealthProbe{ false, "no realm: give the controller's DNS name or the domain" };
        return AskKdcAt(place, !target.user.IsEmpty());
    });
}

HealthProbe Win32HealthService::CheckDnsRecords(const HealthTarget& target, int timeoutMs)
{
    return WithinBound(timeoutMs, Late(timeoutMs), [target] {
        ControllerPlace place;
        HealthProbe probe;
        if (!LocateController(target, &place, &probe.detail))
            return probe;
        if (IsAddress(place.host) || place.domain.empty())
            return HealthProbe{
                false, "the records are checked for the controller's DNS name: give it instead of its address"
            };
        return CheckControllerRecords(place);
    });
}

HealthProbe Win32HealthService::ReachShare(const HealthTarget& target, const std::string& share, int timeoutMs)
{
    return WithinBound(timeoutMs, Late(timeoutMs), [target, share] { return ConnectShare(target, share); });
}
