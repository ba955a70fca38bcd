// Dialog templates as data: what a resource compiler would read from a .rc DIALOGEX block.
// Styles hold the Win32 bit values, so the Win32 layer passes them through and the Qt layer reads
// the same bits.
#pragma once

#include <cstdint>
#include <span>

#include "framework/afx_types.h"

enum class ControlClass {
    Button, // push button, check box or group box, by its BS_ style
    Edit,
    Static,   // text, etched line or picture, by its SS_ style
    ListView, // SysListView32
};

struct ControlTemplate {
    int id; // -1 for controls without an id (IDC_STATIC)
    ControlClass cls;
    const char16_t* text; // empty for none
    short x, y, cx, cy;   // dialog units
    std::uint32_t style;  // WS_ and class styles, WS_CHILD | WS_VISIBLE included
    std::uint32_t exStyle;
    UINT imageId; // bitmap resource of an SS_BITMAP picture, else 0
};

struct DialogTemplate {
    UINT id;
    const char16_t* caption;
    short cx, cy; // dialog units
    std::uint32_t style;
    std::uint32_t exStyle;
    const char16_t* fontFace;
    short pointSize;
    std::span<const ControlTemplate> controls; // template order = tab order
};

// Win32 style bits used by the templates (winuser.h / commctrl.h values).
namespace tpl_style {
constexpr std::uint32_t Popup = 0x80000000;
constexpr std::uint32_t Child = 0x40000000;
constexpr std::uint32_t Visible = 0x10000000;
constexpr std::uint32_t Disabled = 0x08000000;
constexpr std::uint32_t Caption = 0x00C00000;
constexpr std::uint32_t Border = 0x00800000;
constexpr std::uint32_t SysMenu = 0x00080000;
constexpr std::uint32_t Group = 0x00020000;
constexpr std::uint32_t TabStop = 0x00010000;

constexpr std::uint32_t DsModalFrame = 0x80;
constexpr std::uint32_t DsSetFont = 0x40;
constexpr std::uint32_t DsFixedSys = 0x08;

constexpr std::uint32_t BsPushButton = 0x0;
constexpr std::uint32_t BsDefPushButton = 0x1;
constexpr std::uint32_t BsAutoCheckBox = 0x3;
constexpr std::uint32_t BsGroupBox = 0x7;
constexpr std::uint32_t BsTypeMask = 0xF;

constexpr std::uint32_t EsPassword = 0x20;
constexpr std::uint32_t EsAutoHScroll = 0x80;
constexpr std::uint32_t EsReadOnly = 0x800;

constexpr std::uint32_t SsLeft = 0x0;
constexpr std::uint32_t SsCenter = 0x1;
constexpr std::uint32_t SsRight = 0x2;
constexpr std::uint32_t SsBitmap = 0xE;
constexpr std::uint32_t SsEtchedVert = 0x11;
constexpr std::uint32_t SsTypeMask = 0x1F;
constexpr std::uint32_t SsNotify = 0x100;
constexpr std::uint32_t SsCenterImage = 0x200;

constexpr std::uint32_t LvsReport = 0x1;
constexpr std::uint32_t LvsList = 0x3;
constexpr std::uint32_t LvsTypeMask = 0x3;
constexpr std::uint32_t LvsSingleSel = 0x4;
constexpr std::uint32_t LvsShowSelAlways = 0x8;
constexpr std::uint32_t LvsAlignLeft = 0x800;

constexpr std::uint32_t ExRight = 0x00001000;
constexpr std::uint32_t ExClientEdge = 0x00000200;
constexpr std::uint32_t ExAppWindow = 0x00040000;
} // namespace tpl_style
