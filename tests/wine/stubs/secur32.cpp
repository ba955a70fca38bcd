// Stand-in for secur32.dll: the Kerberos package of a logon with a ticket-granting ticket.
//   kdc.ticket.status  the package's status for a service ticket asked (0)
//   kdc.client         the client the ticket is for ("alice")
// The KDC pinned for a thread and the tickets asked are recorded.
#include "stub_common.h"

#include <ntsecapi.h>

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

extern "C" NTSTATUS NTAPI LsaConnectUntrusted(PHANDLE handle)
{
    stub::Log(L"LsaConnectUntrusted");
    *handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x15A));
    return 0;
}

extern "C" NTSTATUS NTAPI LsaLookupAuthenticationPackage(HANDLE, PLSA_STRING name, PULONG package)
{
    const std::string asked(name->Buffer, name->Length);
    stub::Log(L"LsaLookupAuthenticationPackage|" + std::wstring(asked.begin(), asked.end()));
    *package = kKerberos;
    return asked == "Kerberos" ? 0 : static_cast<NTSTATUS>(0xC00000FE); // STATUS_NO_SUCH_PACKAGE
}

extern "C" NTSTATUS NTAPI LsaCallAuthenticationPackage(HANDLE, ULONG package, PVOID submit, ULONG, PVOID* response,
                                                       PULONG length, PNTSTATUS status)
{
    *response = nullptr;
    *length = 0;
    *status = 0;
    const auto type = *static_cast<const KERB_PROTOCOL_MESSAGE_TYPE*>(submit);
    if (package != kKerberos)
        return static_cast<NTSTATUS>(0xC00000FE);
    if (type == KerbPinKdcMessage) {
        const auto* pin = static_cast<const PinKdcRequest*>(submit);
        stub::Log(L"LsaCallAuthenticationPackage|pin|realm=" + Text(pin->Realm) + L"|kdc=" + Text(pin->KdcAddress));
    } else if (type == KerbUnpinAllKdcsMessage) {
        stub::Log(L"LsaCallAuthenticationPackage|unpin");
    } else if (type == KerbRetrieveEncodedTicketMessage) {
        const auto* ask = static_cast<const KERB_RETRIEVE_TKT_REQUEST*>(submit);
        stub::Log(L"LsaCallAuthenticationPackage|ticket|" + Text(ask->TargetName) + L"|options=" +
                  stub::Num(ask->CacheOptions));
        *status = static_cast<NTSTATUS>(stub::Number(L"kdc.ticket.status", 0));
        if (*status == 0) {
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
            g_buffers.insert(ticket);
            *response = ticket;
            *length = sizeof(KERB_RETRIEVE_TKT_RESPONSE);
        }
    } else {
        return static_cast<NTSTATUS>(0xC0000002); // STATUS_NOT_IMPLEMENTED
    }
    return 0;
}

extern "C" NTSTATUS NTAPI LsaFreeReturnBuffer(PVOID buffer)
{
    const bool known = g_buffers.erase(buffer) != 0;
    stub::Log(std::wstring(L"LsaFreeReturnBuffer|") + (known ? L"released" : L"unknown"));
    delete static_cast<TicketResponse*>(known ? buffer : nullptr);
    return 0;
}

extern "C" NTSTATUS NTAPI LsaDeregisterLogonProcess(HANDLE)
{
    stub::Log(L"LsaDeregisterLogonProcess");
    return 0;
}
