// What the driver and its probe share. Under Wine some things can only be read by the process
// that owns the window (its menus; its icons, which WM_GETICON does not give another process),
// so the driver reads them through a window hook that the system runs on the program's own
// thread: it sends kProbeMessage with one of the requests below to the window, and the hook
// writes its answer, as text, into the shared memory named kProbeMemory.
#pragma once

inline constexpr const wchar_t* kProbeMessage = L"ZeltorWineProbe.Read";
inline constexpr const wchar_t* kProbeMemory = L"Local\\ZeltorWineProbe";
inline constexpr unsigned kProbeMemoryBytes = 64 * 1024;
// The hook procedure exported by probe.dll (a WH_CALLWNDPROC hook).
inline constexpr const char* kProbeHookName = "ProbeCallWndProc";

// The system menu: one item a line, "<id>|<state>|<text>" (GetMenuItemID, GetMenuState and
// GetMenuStringW by position).
inline constexpr unsigned kProbeSystemMenu = 1;
// The window's icons (WM_GETICON, WM_QUERYDRAGICON): "big|<width>|<height>",
// "small|<width>|<height>" and "drag|<width>|<height>", 0 by 0 for none.
inline constexpr unsigned kProbeIcons = 2;
// A hyperlink control (the window the request is sent to): "tip|<text>" for each tooltip tool
// of the thread that belongs to it (TTM_ENUMTOOLSW, TTM_GETTEXTW), and "font|<underline>|<face>"
// for its font (WM_GETFONT, GetObjectW).
inline constexpr unsigned kProbeLink = 3;
// From this request on, counts the program's calls of MessageBeep (its import of the function
// is pointed at the probe, which calls the system's own); answers "beeps|<count>|<last type>"
// to this request and each later one.
inline constexpr unsigned kProbeBeeps = 4;
// A list view in report mode (the window the request is sent to): "head|<heading>|..." with the
// columns' headings, "sort|<column>|<up, down or none>" for each column's arrow, then one line a
// row, "row|<text of column 0>|<text of column 1>|..." (HDM_GETITEMW, LVM_GETITEMTEXTW).
inline constexpr unsigned kProbeListRows = 5;
