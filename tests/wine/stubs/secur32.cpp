// Stand-in for secur32.dll: the Kerberos package of a logon with a ticket-granting ticket.
//   kdc.ticket.status  the package's status for a service ticket asked (0)
//   kdc.client         the client the ticket is for ("alice")
// The KDC pinned for a thread and the tickets asked are recorded.
#include "stub_common.h"

#include <ntsecapi.h>

#include <cwctype>
#include <mutex>
#include <set>

namespace {

constexpr ULONG kKerberos = 2;

// The pinning messages, as the program sends them.
struct PinKdcRequest {
    KERB_PROTOCOL_MESSAGE_TYPE MessageType;
    ULONG Flags;
    UNICODE_STRING Realm;
    UNICODE_STRING KdcAddress;
    ULONG DcFlags;
};

struct TicketResponse {
    KERB_RETRIEVE_TKT_RESPONSE response;
    KERB_EXTERNAL_NAME client; // one name
    std::wstring user;
    std::wstring realm;
};

// Tickets handed out; the health checks ask from several threads at once.
std::mutex g_mutex;
std::set<void*> g_buffers;

std::wstring Text(const UNICODE_STRING& s)
{
    return s.Buffer == nullptr ? L"(null)" : L"\"" + std::wstring(s.Buffer, s.Length / sizeof(wchar_t)) + L"\"";
}

void Point(UNICODE_STRING* s, std::wstring& text)
{
    s->Buffer = text.data();
    s->Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    s->MaximumLength = s->Length;
}

} // namespace

extern "C" NTSTATUS NTAPI LsaConnectUntrusted(PHANDLE LsaHandle)
{
    stub::Log(L"LsaConnectUntrusted");
    *LsaHandle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x15A));
    return 0;
}

extern "C" NTSTATUS NTAPI LsaLookupAuthenticationPackage(HANDLE, PLSA_STRING PackageName, PULONG AuthenticationPackage)
{
    const std::string asked(PackageName->Buffer, PackageName->Length);
    stub::Log(L"LsaLookupAuthenticationPackage|" + std::wstring(asked.begin(), asked.end()));
    *AuthenticationPackage = kKerberos;
    return asked == "Kerberos" ? 0 : static_cast<NTSTATUS>(0xC00000FE); // STATUS_NO_SUCH_PACKAGE
}

extern "C" NTSTATUS NTAPI LsaCallAuthenticationPackage(HANDLE, ULONG AuthenticationPackage, PVOID ProtocolSubmitBuffer,
                                                       ULONG, PVOID* ProtocolReturnBuffer, PULONG ReturnBufferLength,
                                                       PNTSTATUS ProtocolStatus)
{
    *ProtocolReturnBuffer = nullptr;
    *ReturnBufferLength = 0;
    *ProtocolStatus = 0;
    const auto type = *static_cast<const KERB_PROTOCOL_MESSAGE_TYPE*>(ProtocolSubmitBuffer);
    if (AuthenticationPackage != kKerberos)
        return static_cast<NTSTATUS>(0xC00000FE);
    if (type == KerbPinKdcMessage) {
        const auto* pin = static_cast<const PinKdcRequest*>(ProtocolSubmitBuffer);
        stub::Log(L"LsaCallAuthenticationPackage|pin|realm=" + Text(pin->Realm) + L"|kdc=" + Text(pin->KdcAddress));
    } else if (type == KerbUnpinAllKdcsMessage) {
        stub::Log(L"LsaCallAuthenticationPackage|unpin");
    } else if (type == KerbRetrieveEncodedTicketMessage) {
        const auto* ask = static_cast<const KERB_RETRIEVE_TKT_REQUEST*>(ProtocolSubmitBuffer);
        stub::Log(L"LsaCallAuthenticationPackage|ticket|" + Text(ask->TargetName) + L"|options=" +
                  stub::Num(ask->CacheOptions));
        *ProtocolStatus = static_cast<NTSTATUS>(stub::Number(L"kdc.ticket.status", 0));
        if (*ProtocolStatus == 0) {
            auto* ticket = new TicketResponse{};
            ticket->user = stub::Value(L"kdc.client", L"alice");
            const std::wstring target(ask->TargetName.Buffer, ask->TargetName.Length / sizeof(wchar_t));
            std::wstring realm = target.substr(target.find(L'.') + 1);
            for (wchar_t& c : realm)
                c = static_cast<wchar_t>(towupper(c));
            ticket->realm = realm;
            ticket->client.NameType = 1;
            ticket->client.NameCount = 1;
            Point(&ticket->client.Names[0], ticket->user);
            ticket->response.Ticket.ClientName = &ticket->client;
            Point(&ticket->response.Ticket.DomainName, ticket->realm);
            const std::lock_guard lock(g_mutex);
            g_buffers.insert(ticket);
            *ProtocolReturnBuffer = ticket;
            *ReturnBufferLength = sizeof(KERB_RETRIEVE_TKT_RESPONSE);
        }
    } else {
        return static_cast<NTSTATUS>(0xC0000002); // STATUS_NOT_IMPLEMENTED
    }
    return 0;
}

extern "C" NTSTATUS NTAPI LsaFreeReturnBuffer(PVOID Buffer)
{
    std::unique_lock lock(g_mutex);
    const bool known = g_buffers.erase(Buffer) != 0;
    lock.unlock();
    stub::Log(std::wstring(L"LsaFreeReturnBuffer|") + (known ? L"released" : L"unknown"));
    delete static_cast<TicketResponse*>(known ? Buffer : nullptr);
    return 0;
}

extern "C" NTSTATUS NTAPI LsaDeregisterLogonProcess(HANDLE)
{
    stub::Log(L"LsaDeregisterLogonProcess");
    return 0;
}
