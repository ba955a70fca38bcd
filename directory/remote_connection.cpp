// The authenticated connection to the chosen controller, and the system's text for its errors.
#include <string>

#include "app/zeltor_dlg.h"
#include "directory/network_connector.h"
#include "framework/data_exchange.h"

void ShowSystemError(INetworkConnector& network, std::uint32_t code)
{
    char16_t* text = nullptr;
    network.FormatMessage(code, &text);
    // "Error:%d\n%s": the code in signed decimal, then the system's text as it gives it.
    CString message = u"Error:";
    message += AfxFormatInt(static_cast<int>(code));
    message += u"\n";
    if (text != nullptr)
        message += text;
    AfxMessageBox(message, MB_ICONSTOP | MB_OK);
    if (text != nullptr)
        network.LocalFree(text);
}

BOOL CZeltorDlg::ConnectToDC()
{
    if (m_strUserName.IsEmpty())
        return TRUE;
    // No share, no trimming: "\\" and the controller's name exactly as typed.
    const CString remoteName = u"\\\\" + m_strDC;
    std::uint32_t result = 0;
    {
        CWaitCursor wait;
        result = m_services.network.AddConnection(remoteName, m_strPassword, m_strUserName);
    }
    if (result != 0) {
        ShowSystemError(m_services.network, result);
        return FALSE;
    }
    m_arrConnections.Add(remoteName);
    return TRUE;
}

void CZeltorDlg::DisconnectAll()
{
    for (const CString& remoteName : m_arrConnections)
        m_services.network.CancelConnection(remoteName, true);
    m_arrConnections.RemoveAll();
}
