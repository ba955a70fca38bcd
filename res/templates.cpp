// The dialog templates, the string table, and the image resources.
#include "res/program_resources.h"

#include <iterator>

#include "framework/dialog_template.h"
#include "res/images.h"
#include "res/resource.h"

namespace {

using namespace tpl_style;

constexpr std::uint32_t kChild = Child | Visible;
constexpr std::uint32_t kEdit = kChild | Border | EsAutoHScroll | TabStop;
constexpr std::uint32_t kButton = kChild | BsPushButton | TabStop;
constexpr std::uint32_t kLabel = kChild | SsLeft | Group;
constexpr std::uint32_t kValue = kChild | SsLeft;
constexpr std::uint32_t kGroupBox = kChild | BsGroupBox;
constexpr std::uint32_t kDialogStyle = Popup | Caption | SysMenu | DsModalFrame | DsSetFont | DsFixedSys;

constexpr ControlTemplate kMainControls[] = {
    { IDC_DOMAIN, ControlClass::Edit, u"", 87, 57, 104, 14, kEdit | EsReadOnly, 0, 0 },
    { IDC_DC, ControlClass::Edit, u"", 87, 74, 104, 14, kEdit, 0, 0 },
    { IDC_FIND, ControlClass::Button, u"Find", 197, 74, 40, 14, kButton, 0, 0 },
    { IDC_UPDATE, ControlClass::Button, u"Update", 243, 74, 50, 14, kButton, 0, 0 },
    { IDC_USERNAME, ControlClass::Edit, u"", 53, 108, 104, 14, kEdit, 0, 0 },
    { IDC_PASSWORD, ControlClass::Edit, u"", 205, 108, 104, 14, kEdit | EsPassword, 0, 0 },
    { IDC_AUTOUPDATE, ControlClass::Button, u"Auto Update", 6, 134, 53, 10, kChild | BsAutoCheckBox | TabStop, 0, 0 },
    { IDCANCEL, ControlClass::Button, u"Close", 151, 310, 50, 16, kButton, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"Domain :", 47, 60, 29, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"Domain Controller :", 14, 77, 62, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Button, u"DC Performance Data", 4, 146, 346, 158, kGroupBox, 0, 0 },
    { IDC_STATIC, ControlClass::Button, u"Credentials", 4, 91, 346, 40, kGroupBox, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"User name:", 12, 111, 38, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"Password:", 168, 111, 34, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"CPU Usage :", 130, 160, 41, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"Memory Usage :", 118, 173, 65, 8, kLabel, 0, 0 },
    // 43 units: at 40 (60 px) the text, 61 px in MS Sans Serif, lost its second word. The space
    // up to its value at 174 is free.
    { IDC_STATIC, ControlClass::Static, u"Disk Usage :", 130, 186, 43, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"Page Reads/sec:", 14, 209, 63, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"Page Writes/sec:", 14, 225, 63, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"NTFRS Handles:", 14, 241, 63, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"File Reads/sec:", 14, 257, 63, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"File Writes/sec:", 14, 273, 63, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"Interrupt time(%):", 183, 209, 63, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"LSASS Handles:", 183, 225, 63, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"", 176, 204, 1, 84, kChild | SsEtchedVert, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"Page Faults/sec:", 183, 241, 63, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"Pages Input/sec:", 183, 257, 63, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"Pages Output/sec:", 183, 273, 63, 8, kLabel, 0, 0 },
    { IDC_CPUUSAGE, ControlClass::Static, u"-", 174, 160, 28, 8, kValue, ExRight, 0 },
    { IDC_MEMORYUSAGE, ControlClass::Static, u"-", 174, 173, 28, 8, kValue, ExRight, 0 },
    { IDC_DISKUSAGE, ControlClass::Static, u"-", 174, 186, 28, 8, kValue, ExRight, 0 },
    { IDC_PAGEREADS, ControlClass::Static, u"-", 80, 209, 74, 8, kValue, ExRight, 0 },
    { IDC_PAGEWRITES, ControlClass::Static, u"-", 80, 225, 74, 8, kValue, ExRight, 0 },
    { IDC_NTFRSHANDLES, ControlClass::Static, u"-", 80, 241, 74, 8, kValue, ExRight, 0 },
    { IDC_FILEREADS, ControlClass::Static, u"-", 80, 257, 74, 8, kValue, ExRight, 0 },
    { IDC_FILEWRITES, ControlClass::Static, u"-", 80, 273, 74, 8, kValue, ExRight, 0 },
    { IDC_INTERRUPTTIME, ControlClass::Static, u"-", 251, 209, 74, 8, kValue, ExRight, 0 },
    { IDC_LSASSHANDLES, ControlClass::Static, u"-", 251, 225, 74, 8, kValue, ExRight, 0 },
    { IDC_PAGEFAULTS, ControlClass::Static, u"-", 251, 241, 74, 8, kValue, ExRight, 0 },
    { IDC_PAGESINPUT, ControlClass::Static, u"-", 251, 257, 74, 8, kValue, ExRight, 0 },
    { IDC_PAGESOUTPUT, ControlClass::Static, u"-", 251, 273, 74, 8, kValue, ExRight, 0 },
    { IDC_STATIC, ControlClass::Static, u"%", 203, 160, 8, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"%", 203, 173, 8, 8, kLabel, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"%", 203, 186, 8, 8, kLabel, 0, 0 },
    { IDC_BANNER, ControlClass::Static, u"", 0, 0, 353, 49, kChild | SsBitmap, 0, IDB_BANNER },
};

constexpr ControlTemplate kPickerControls[] = {
    { IDOK, ControlClass::Button, u"OK", 108, 114, 50, 14, kChild | BsDefPushButton | TabStop | Disabled, 0, 0 },
    { IDCANCEL, ControlClass::Button, u"Cancel", 161, 114, 50, 14, kButton, 0, 0 },
    { IDC_DCLIST, ControlClass::ListView, u"", 14, 20, 190, 79,
      kChild | LvsList | LvsSingleSel | LvsShowSelAlways | LvsAlignLeft | Border | TabStop, 0, 0 },
    { IDC_STATIC, ControlClass::Button, u"Select DC", 7, 7, 204, 100, kGroupBox, 0, 0 },
};

constexpr ControlTemplate kOverviewControls[] = {
    { IDC_STATIC, ControlClass::Static, u"Domain controllers:", 7, 7, 120, 8, kLabel, 0, 0 },
    { IDC_OVERVIEW_LIST, ControlClass::ListView, u"", 7, 18, 526, 150,
      kChild | LvsReport | LvsSingleSel | LvsShowSelAlways | Border | TabStop, 0, 0 },
    { IDC_STATIC, ControlClass::Static, u"Refresh every (seconds):", 7, 180, 84, 8, kLabel, 0, 0 },
    { IDC_OVERVIEW_INTERVAL, ControlClass::Edit, u"", 93, 177, 30, 14, kEdit, 0, 0 },
    { IDC_OVERVIEW_REFRESH, ControlClass::Button, u"Refresh now", 370, 177, 60, 14, kButton, 0, 0 },
    { IDCANCEL, ControlClass::Button, u"Close", 483, 177, 50, 14, kButton, 0, 0 },
};

constexpr std::uint32_t kAboutStatic = 0x50020000; // visible child, group, left-aligned text

constexpr ControlTemplate kAboutControls[] = {
    { IDOK, ControlClass::Button, u"OK", 101, 109, 50, 16, 0x50030001, 0, 0 },
    { IDC_LINK_WEB, ControlClass::Static, u"https://www.zeltor.example/", 76, 69, 117, 8, kAboutStatic, 0, 0 },
    { IDC_LINK_SUPPORT, ControlClass::Static, u"support@zeltor.example", 76, 82, 117, 8, kAboutStatic, 0, 0 },
    { IDC_LINK_SALES, ControlClass::Static, u"sales@zeltor.example", 76, 95, 117, 8, kAboutStatic, 0, 0 },
    { IDC_VERSION, ControlClass::Static,
      u"Zeltor\nversion 9.09.01\nCopyright (C) 2026 Zeltor Software.\nAll rights reserved.", 75, 28, 121, 34,
      kAboutStatic, 0, 0 },
};

constexpr DialogTemplate kTemplates[] = {
    { IDD_ZELTOR_DIALOG, u"Zeltor", 353, 335, kDialogStyle | Visible, ExAppWindow, u"MS Shell Dlg", 8, kMainControls },
    { IDD_SELDC, u"Select Domain Controller", 218, 135, kDialogStyle, 0, u"MS Shell Dlg", 8, kPickerControls },
    { IDD_ABOUTBOX, u"About Zeltor", 253, 130, 0x80C800C8, 0, u"MS Shell Dlg", 8, kAboutControls },
    { IDD_OVERVIEW, u"Domain Overview", 540, 198, kDialogStyle, 0, u"MS Shell Dlg", 8, kOverviewControls },
};

class ProgramResourceTable : public IResourceTable {
public:
    const DialogTemplate* FindDialogTemplate(UINT id) const override;
    const char16_t* FindString(UINT id) const override;
    std::span<const unsigned char> FindImage(UINT id) const override;
};

} // namespace

const DialogTemplate* ProgramResourceTable::FindDialogTemplate(UINT id) const
{
    for (const DialogTemplate& t : kTemplates) {
        if (t.id == id)
            return &t;
    }
    return nullptr;
}

const char16_t* ProgramResourceTable::FindString(UINT id) const
{
    if (id == IDS_ABOUTBOX)
        return u"&About Zeltor...";
    if (id == IDS_OVERVIEW)
        return u"Domain &Overview...\tCtrl+D";
    if (id == IDS_NOT_FOUND)
        return u"<Not Found>";
    return nullptr;
}

std::span<const unsigned char> ProgramResourceTable::FindImage(UINT id) const
{
    switch (id) {
    case IDR_MAINFRAME:
        return zeltor_res::kIconData;
    case IDB_BACKGROUND:
        return zeltor_res::kBackgroundData;
    case IDB_BANNER:
        return zeltor_res::kBannerData;
    default:
        return {};
    }
}

const IResourceTable& ProgramResources()
{
    static const ProgramResourceTable table;
    return table;
}
