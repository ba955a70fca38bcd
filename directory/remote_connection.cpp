// The authenticated connection to the chosen controller, and the system's text for its errors.
#include "directory/remote_connection.h"

#include "framework/afxwin.h"
#include "framework/data_exchange.h"

void ShowSystemError(INetworkConnector& network, std::uint32_t code, const CString& step)
{
    char16_t* text = nullptr;
    network.FormatMessage(code, &text);
    // "Error:%d\n%s": the code in signed decimal, then the system's text as it gives it.
    CString message = u"Error:";
    message += AfxFormatInt(static_cast<int>(code));
    message += u"\n";
    if (text != nullptr)
        message += text;
    if (!step.IsEmpty()) {
        if (!message.IsEmpty() && message.back() != u'\n')
            message += u"\n";
        message += step;
    }
    AfxMessageBox(message, MB_ICONSTOP | MB_OK);
    if (text != nullptr)
        network.LocalFree(text);
}

BOOL ConnectToDC(INetworkConnector& network, const CString& machine, const CString& userName, const CString& password,
                 CStringArray& connections)
{
    if (userName.IsEmpty())
        return TRUE;
    // No share, no trimming: "\\" and the controller's name exactly as typed.
    const CString remoteName = u"\\\\" + machine;
    std::uint32_t result = 0;
    {
        CWaitCursor wait;
        result = network.AddConnection(remoteName, password, userName);
    }
    if (result != 0) {
        ShowSystemError(network, result, network.LastFailureStep());
        return FALSE;
    }
    connections.Add(remoteName);
    return TRUE;
}

void DisconnectAll(INetworkConnector& network, CStringArray& connections)
{
    for (const CString& remoteName : connections)
        network.CancelConnection(remoteName, true);
    connections.RemoveAll();
}
