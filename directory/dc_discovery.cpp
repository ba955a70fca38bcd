// The controllers of the joined domain, listed once at start-up.
#include "app/zeltor_dlg.h"
#include "directory/directory_service.h"
#include "res/resource.h"

namespace {

constexpr std::uint32_t kInfoLevel1 = 1;

} // namespace

CString CZeltorDlg::EnumDomainControllers()
{
    UpdateData(TRUE);
    IDirectoryService& ds = m_services.directory;
    const CString domain = GetDlgItemText(IDC_DOMAIN);

    DsBinding* binding = nullptr;
    std::uint32_t status = 0;
    if (m_strUserName.IsEmpty()) {
        status = ds.DsBind(domain, &binding);
    } else {
        // The user name goes to the directory exactly as typed, domain part and all.
        DsCredential* credential = nullptr;
        if (ds.DsMakePasswordCredentials(m_strUserName, domain, m_strPassword, &credential) != 0)
            return CString();
        status = ds.DsBindWithCred(domain, credential, &binding);
        ds.DsFreePasswordCredentials(credential);
    }
    if (status != 0)
        return CString();

    std::uint32_t count = 0;
    const DsControllerInfo1* infos = nullptr;
    if (ds.DsGetDomainControllerInfo(binding, domain, kInfoLevel1, &count, &infos) != 0) {
        ds.DsUnBind(&binding);
        return CString();
    }

    CString first;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (i == 0)
            first = infos[i].NetbiosName;
        m_arrDCs.Add(infos[i].NetbiosName);
    }
    ds.DsFreeDomainControllerInfo(kInfoLevel1, count, infos);
    ds.DsUnBind(&binding);
    return first;
}
