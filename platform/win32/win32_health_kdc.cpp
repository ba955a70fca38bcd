// The controller's own KDC asked through the system's Kerberos package: the KDC is pinned for
// this thread, and a new service ticket for the controller's LDAP service is asked with this
// logon's ticket-granting ticket. A ticket request carries no key of the user's password, so no
// logon can be refused; a user and password given for the other checks are not sent here.
#include "platform/win32/win32_include.h"

#define SECURITY_WIN32
#include <ntsecapi.h>

#include <cstring>
#include <vector>

#include "platform/win32/win32_health_parts.h"

namespace {

// The pinning messages of the Kerberos package, which the headers at hand do not declare.
struct PinKdcRequest {
    KERB_PROTOCOL_MESSAGE_TYPE MessageType;
    ULONG Flags;
    UNICODE_STRING Realm;
    UNICODE_STRING KdcAddress;
    ULONG DcFlags;
};
struct UnpinAllKdcsRequest {
    KERB_PROTOCOL_MESSAGE_TYPE MessageType;
    ULONG Flags;
};
static_assert(KerbPinKdcMessage == 30 && KerbUnpinAllKdcsMessage == 31);

constexpr NTSTATUS kNoCredentials = static_cast<NTSTATUS>(0x8009030E); // SEC_E_NO_CREDENTIALS

// A request with its texts in the same buffer, after the structure, as the package takes them.
template <class Request>
class Message {
public:
    explicit Message(const std::vector<std::u16string>& texts)
    {
        std::size_t size = sizeof(Request);
        for (const std::u16string& text : texts)
            size += (text.size() + 1) * sizeof(char16_t);
        m_bytes.assign(size, 0);
    }
    Request* operator->() { return reinterpret_cast<Request*>(m_bytes.data()); }
    // Copies text after what was placed before and points string at it.
    void Place(UNICODE_STRING* string, const std::u16string& text)
    {
        auto* at = reinterpret_cast<char16_t*>(m_bytes.data() + m_used);
        std::memcpy(at, text.c_str(), (text.size() + 1) * sizeof(char16_t));
        string->Buffer = reinterpret_cast<PWSTR>(at);
        string->Length = static_cast<USHORT>(text.size() * sizeof(char16_t));
        string->MaximumLength = static_cast<USHORT>(string->Length + sizeof(char16_t));
        m_used += string->MaximumLength;
    }
    void* Data() { return m_bytes.data(); }
    ULONG Size() const { return static_cast<ULONG>(m_bytes.size()); }

private:
    std::vector<unsigned char> m_bytes;
    std::size_t m_used = sizeof(Request);
};

std::string StatusText(NTSTATUS status)
{
    const auto code = static_cast<std::uint32_t>(status);
    return SystemText((code & 0xC0000000u) == 0xC0000000u ? LsaNtStatusToWinError(status) : code);
}

std::u16string Wide(const std::string& text)
{
    return CString::FromUtf8(text);
}

std::string Text(const UNICODE_STRING& string)
{
    return string.Buffer != nullptr ? FromWStr(string.Buffer, string.Length / sizeof(wchar_t)).ToUtf8() : std::string();
}

// The first name of the ticket's client, "user@REALM".
std::string ClientOf(const KERB_EXTERNAL_TICKET& ticket)
{
    const PKERB_EXTERNAL_NAME client = ticket.ClientName;
    std::string name = client != nullptr && client->NameCount > 0 ? Text(client->Names[0]) : "?";
    return name + "@" + Text(ticket.DomainName);
}

} // namespace

HealthProbe AskKdcAt(const ControllerPlace& place, bool userGiven)
{
    std::string realm = place.domain;
    for (char& c : realm)
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    const std::string kdc = "the KDC at " + place.address;
    const std::string service = "ldap/" + place.host;

    HANDLE lsa = nullptr;
    if (const NTSTATUS status = LsaConnectUntrusted(&lsa); status != 0)
        return { false, "the Kerberos package cannot be reached: " + StatusText(status) };
    HealthProbe probe;
    char packageName[] = MICROSOFT_KERBEROS_NAME_A;
    LSA_STRING name{ static_cast<USHORT>(sizeof packageName - 1), static_cast<USHORT>(sizeof packageName),
                     packageName };
    ULONG package = 0;
    NTSTATUS status = LsaLookupAuthenticationPackage(lsa, &name, &package);
    NTSTATUS said = 0;
    PVOID response = nullptr;
    ULONG length = 0;
    if (status != 0) {
        probe.detail = "the Kerberos package cannot be reached: " + StatusText(status);
        LsaDeregisterLogonProcess(lsa);
        return probe;
    }

    // That controller alone, for this thread's requests.
    const std::u16string address = u"\\\\" + Wide(place.address);
    Message<PinKdcRequest> pin({ Wide(realm), address });
    pin->MessageType = KerbPinKdcMessage;
    pin.Place(&pin->Realm, Wide(realm));
    pin.Place(&pin->KdcAddress, address);
    status = LsaCallAuthenticationPackage(lsa, package, pin.Data(), pin.Size(), &response, &length, &said);
    if (response != nullptr)
        LsaFreeReturnBuffer(response);
    if (status != 0 || said != 0) {
        probe.detail = kdc + " cannot be asked alone: " + StatusText(status != 0 ? status : said);
        LsaDeregisterLogonProcess(lsa);
        return probe;
    }

    Message<KERB_RETRIEVE_TKT_REQUEST> ask({ Wide(service) });
    ask->MessageType = KerbRetrieveEncodedTicketMessage;
    ask->CacheOptions = KERB_RETRIEVE_TICKET_DONT_USE_CACHE;
    ask.Place(&ask->TargetName, Wide(service));
    response = nullptr;
    status = LsaCallAuthenticationPackage(lsa, package, ask.Data(), ask.Size(), &response, &length, &said);
    const NTSTATUS failure = status != 0 ? status : said;
    if (failure == 0 && response != nullptr) {
        const auto* ticket = static_cast<const KERB_RETRIEVE_TKT_RESPONSE*>(response);
        probe = { true, kdc + " gave a ticket for " + service + " to " + ClientOf(ticket->Ticket) };
        if (userGiven)
            probe.detail += " (with this logon's ticket: the given user's password is not used here)";
    } else if (failure == kNoCredentials) {
        probe.detail = kdc + " is asked with this logon's Kerberos ticket, and it has none (" + StatusText(failure) +
                       "); no password is sent to it";
    } else {
        probe.detail = kdc + " for " + service + ": " + StatusText(failure);
    }
    if (response != nullptr)
        LsaFreeReturnBuffer(response);

    UnpinAllKdcsRequest unpin{ KerbUnpinAllKdcsMessage, 0 };
    response = nullptr;
    LsaCallAuthenticationPackage(lsa, package, &unpin, sizeof unpin, &response, &length, &said);
    if (response != nullptr)
        LsaFreeReturnBuffer(response);
    LsaDeregisterLogonProcess(lsa);
    return probe;
}
