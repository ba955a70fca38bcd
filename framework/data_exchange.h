// The data exchange between a dialog's fields and its members (DoDataExchange, DDX_), and its
// text forms: how numbers are shown in fields and read back.
#pragma once

#include "framework/afx_types.h"
#include "framework/cstring.h"

class CWnd;

class CDataExchange {
public:
    CDataExchange(CWnd* dlg, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(dlg) {}

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    // Set by the first entry that cannot be read; every later entry then does nothing, so the
    // exchange stops there without throwing.
    bool m_bFailed = false;

    HWND PrepareCtrl(int id);
    void Fail(HWND ctrl);
};

void DDX_Text(CDataExchange* pDX, int id, CString& value);
void DDX_Text(CDataExchange* pDX, int id, double& value);
void DDX_Text(CDataExchange* pDX, int id, int& value);
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

// "%.*g" with precision 15: at most 15 significant digits, no trailing zeros.
CString AfxFormatDouble(double value);
// "%ld": signed decimal.
CString AfxFormatInt(int value);

// Reads the first 399 characters as one number ("%lf"): leading blanks and a sign are allowed,
// and nothing but blanks may follow it. FALSE leaves value unchanged.
bool AfxParseDouble(const CString& text, double& value);
// Reads the first 63 characters as one signed decimal integer ("%ld") that fits in 32 bits, with
// the same rules for blanks. FALSE leaves value unchanged.
bool AfxParseInt(const CString& text, int& value);
