// The controllers of the joined domain.
#include "directory/discovery.h"

namespace {

constexpr std::uint32_t kInfoLevel1 = 1;

} // namespace

CString EnumDomainControllers(IDirectoryService& ds, const CString& domain, const CString& userName,
                              const CString& password, CStringArray& controllers,
                              std::uint32_t* status, // NOLINT(readability-non-const-parameter): set through result
                              CStringArray* hostNames)
{
    std::uint32_t ignored = 0;
    std::uint32_t& result = status != nullptr ? *status : ignored;
    result = 0;
    DsBinding* binding = nullptr;
    if (userName.IsEmpty()) {
        result = ds.DsBind(domain, &binding);
    } else {
        // The user name goes to the directory exactly as typed, domain part and all.
        DsCredential* credential = nullptr;
        result = ds.DsMakePasswordCredentials(userName, domain, password, &credential);
        if (result != 0)
            return CString();
        result = ds.DsBindWithCred(domain, credential, &binding);
        ds.DsFreePasswordCredentials(credential);
    }
    if (result != 0)
        return CString();

    std::uint32_t count = 0;
    const DsControllerInfo1* infos = nullptr;
    result = ds.DsGetDomainControllerInfo(binding, domain, kInfoLevel1, &count, &infos);
    if (result != 0) {
        ds.DsUnBind(&binding);
        return CString();
    }

    CString first;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (i == 0)
            first = infos[i].NetbiosName;
        controllers.Add(infos[i].NetbiosName);
        if (hostNames != nullptr)
            hostNames->Add(infos[i].DnsHostName.IsEmpty() ? infos[i].NetbiosName : infos[i].DnsHostName);
    }
    ds.DsFreeDomainControllerInfo(kInfoLevel1, count, infos);
    ds.DsUnBind(&binding);
    return first;
}
