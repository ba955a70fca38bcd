// Basic types and message numbers of the dialog framework.
//
// They carry the Win32 names and values, so that the dialogs read as they do on Windows and the
// Win32 window layer can pass them through unchanged. Each definition is identical to the one in
// <windows.h> (a repeated identical typedef is legal; macros are guarded), so a Win32 translation
// unit may include both, <windows.h> first.
#pragma once

#include <cstdint>

typedef int BOOL;
typedef unsigned int UINT;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef std::intptr_t LRESULT;
typedef std::uintptr_t UINT_PTR;

// Opaque handles, declared as <windows.h> declares them under STRICT.
struct HWND__;
typedef HWND__* HWND;
struct HICON__;
typedef HICON__* HICON;
typedef HICON HCURSOR;
struct HDC__;
typedef HDC__* HDC;
struct HBRUSH__;
typedef HBRUSH__* HBRUSH;
struct HFONT__;
typedef HFONT__* HFONT;
struct HBITMAP__;
typedef HBITMAP__* HBITMAP;
typedef void* HGDIOBJ;

// A colour as 0x00BBGGRR. <windows.h> makes it a DWORD, which is an unsigned long there.
#ifdef _WIN32
typedef unsigned long COLORREF;
#else
typedef std::uint32_t COLORREF;
#endif
#ifndef RGB
#define RGB(r, g, b)                                                                                                   \
    ((COLORREF)(((std::uint8_t)(r)) | (((std::uint32_t)(std::uint8_t)(g)) << 8) |                                      \
                (((std::uint32_t)(std::uint8_t)(b)) << 16)))
#endif

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#ifndef LOWORD
#define LOWORD(l) ((unsigned short)(((std::uintptr_t)(l)) & 0xffff))
#endif
#ifndef HIWORD
#define HIWORD(l) ((unsigned short)((((std::uintptr_t)(l)) >> 16) & 0xffff))
#endif
#ifndef MAKELPARAM
#define MAKELPARAM(l, h)                                                                                               \
    ((LPARAM)(std::uint32_t)(((std::uint32_t)(unsigned short)(l)) | (((std::uint32_t)(unsigned short)(h)) << 16)))
#endif
#ifndef GET_X_LPARAM
#define GET_X_LPARAM(lp) ((int)(short)LOWORD(lp))
#define GET_Y_LPARAM(lp) ((int)(short)HIWORD(lp))
#endif
#ifndef MAKEWPARAM
#define MAKEWPARAM(l, h) ((WPARAM)(((std::uint32_t)(unsigned short)(l)) | (((std::uint32_t)(unsigned short)(h)) << 16)))
#endif

// Window messages (winuser.h values).
#ifndef WM_PAINT
#define WM_DESTROY 0x0002
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_ICONERASEBKGND 0x0027
#define WM_SETCURSOR 0x0020
#define WM_CTLCOLOR 0x0019
#define WM_SETFONT 0x0030
#define WM_GETFONT 0x0031
#define WM_QUERYDRAGICON 0x0037
#define WM_NOTIFY 0x004E
#define WM_HELP 0x0053
#define WM_SETICON 0x0080
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_SYSKEYDOWN 0x0104
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_CTLCOLORMSGBOX 0x0132
#define WM_CTLCOLORDLG 0x0136
#define WM_CTLCOLORSTATIC 0x0138
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_APP 0x8000
#endif

// Notification codes.
#ifndef BN_CLICKED
#define BN_CLICKED 0
#define EN_CHANGE 0x0300
#define STN_CLICKED 0
#endif
#ifndef LVN_ITEMCHANGED
#define LVN_ITEMCHANGED (0U - 101U)
#define LVN_COLUMNCLICK (0U - 108U)
#define NM_DBLCLK (0U - 3U)
#endif

// Dialog command ids.
#ifndef IDOK
#define IDOK 1
#define IDCANCEL 2
#endif

// Virtual keys.
#ifndef VK_RETURN
#define VK_TAB 0x09
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define VK_F1 0x70
#endif

// Message box types and results.
#ifndef MB_OK
#define MB_OK 0x00000000L
#define MB_ICONHAND 0x00000010L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#endif

// System commands (the system's own lie at 0xF000 and above).
#ifndef SC_CLOSE
#define SC_MOVE 0xF010
#define SC_MINIMIZE 0xF020
#define SC_CLOSE 0xF060
#endif

// Menu item flags for AppendMenu.
#ifndef MF_STRING
#define MF_STRING 0x00000000L
#define MF_SEPARATOR 0x00000800L
#endif

// Check-box states.
#ifndef BST_UNCHECKED
#define BST_UNCHECKED 0x0000
#define BST_CHECKED 0x0001
#endif

// System metrics.
#ifndef SM_CXICON
#define SM_CXICON 11
#define SM_CYICON 12
#endif

// Icon sizes for WM_SETICON.
#ifndef ICON_SMALL
#define ICON_SMALL 0
#define ICON_BIG 1
#endif

#ifndef LVNI_SELECTED
#define LVNI_ALL 0x0000
#define LVNI_SELECTED 0x0002
#endif

// Control-colour request kinds (the offset of WM_CTLCOLORxxx from WM_CTLCOLORMSGBOX).
#ifndef CTLCOLOR_STATIC
#define CTLCOLOR_MSGBOX 0
#define CTLCOLOR_EDIT 1
#define CTLCOLOR_BTN 3
#define CTLCOLOR_DLG 4
#define CTLCOLOR_STATIC 6
#endif

// Background modes (SetBkMode).
#ifndef TRANSPARENT
#define TRANSPARENT 1
#define OPAQUE 2
#endif

// Stock objects (GetStockObject).
#ifndef NULL_BRUSH
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define ANSI_VAR_FONT 12
#define DEFAULT_GUI_FONT 17
#endif

// SetWindowPos flags.
#ifndef SWP_NOZORDER
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#endif

// Show commands.
#ifndef SW_SHOW
#define SW_SHOW 5
#endif

// Hit-test code of WM_SETCURSOR.
#ifndef HTCLIENT
#define HTCLIENT 1
#endif

// Window styles (GetWindowLongW / SetWindowLongW with GWL_STYLE).
#ifndef SS_NOTIFY
#define SS_CENTER 0x00000001L
#define SS_RIGHT 0x00000002L
#define SS_NOTIFY 0x00000100L
#define SS_CENTERIMAGE 0x00000200L
#endif

// Font weights and character set of a LOGFONTW.
#ifndef FW_NORMAL
#define FW_NORMAL 400
#define FW_BOLD 700
#endif
#ifndef DEFAULT_CHARSET
#define DEFAULT_CHARSET 1
#endif

// A queued message, as the modal loop offers it to PreTranslateMessage.
struct AfxMsg {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// Header of a WM_NOTIFY message.
struct AfxNotifyHeader {
    HWND hwndFrom = nullptr;
    UINT_PTR idFrom = 0;
    UINT code = 0;
};

// What a list view's WM_NOTIFY carries beyond its header (the first members of NMLISTVIEW and
// NMITEMACTIVATE): the item, and the column (LVN_COLUMNCLICK's iSubItem).
struct AfxNmListView {
    AfxNotifyHeader hdr;
    int iItem = -1;
    int iSubItem = 0;
};

struct AfxRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const AfxRect&) const = default;
};

struct AfxSize {
    int cx = 0;
    int cy = 0;
    bool operator==(const AfxSize&) const = default;
};

// A font's description, field for field a LOGFONTW (the face name is UTF-16, 32 characters with
// its terminator), so that the Win32 layer can copy it either way unchanged.
struct AfxLogFont {
    std::int32_t lfHeight = 0;
    std::int32_t lfWidth = 0;
    std::int32_t lfEscapement = 0;
    std::int32_t lfOrientation = 0;
    std::int32_t lfWeight = 0;
    std::uint8_t lfItalic = 0;
    std::uint8_t lfUnderline = 0;
    std::uint8_t lfStrikeOut = 0;
    std::uint8_t lfCharSet = 0;
    std::uint8_t lfOutPrecision = 0;
    std::uint8_t lfClipPrecision = 0;
    std::uint8_t lfQuality = 0;
    std::uint8_t lfPitchAndFamily = 0;
    char16_t lfFaceName[32] = {};
};

// What a parent's control-colour request carries to its handlers: the device context of the
// control being drawn, the control and the kind of request (CTLCOLOR_xxx).
struct AfxCtlColor {
    HDC hDC = nullptr;
    HWND hWnd = nullptr;
    UINT nCtlType = 0;
};

struct AfxPoint {
    int x = 0;
    int y = 0;
    bool operator==(const AfxPoint&) const = default;
};
