// The names a screen reader gives the controls of the three dialogs, from their templates.
#include <gtest/gtest.h>

#include <map>

#include "framework/accessible_text.h"
#include "framework/dialog_template.h"
#include "res/program_resources.h"
#include "res/resource.h"

namespace {

// Every control of a template that has an id, by id.
std::map<int, AccessibleText> ById(UINT templateId)
{
    std::map<int, AccessibleText> texts;
    const DialogTemplate* tpl = ProgramResources().FindDialogTemplate(templateId);
    for (std::size_t i = 0; i < tpl->controls.size(); ++i) {
        if (tpl->controls[i].id != IDC_STATIC)
            texts[tpl->controls[i].id] = AfxAccessibleText(*tpl, i);
    }
    return texts;
}

TEST(AccessibleTextTest, MainWindowFieldsAreNamedByTheLabelsThatFollowThemInTheTemplate)
{
    auto t = ById(IDD_ZELTOR_DIALOG);
    const std::map<int, const char16_t*> fields = {
        { IDC_DOMAIN, u"Domain" },
        { IDC_DC, u"Domain Controller" },
        { IDC_USERNAME, u"User name" },
        { IDC_PASSWORD, u"Password" },
        { IDC_FIND, u"Find" },
        { IDC_UPDATE, u"Update" },
        { IDC_AUTOUPDATE, u"Auto Update" },
        { IDCANCEL, u"Close" },
    };
    for (const auto& [id, name] : fields) {
        EXPECT_EQ(t[id].name, CString(name)) << id;
        EXPECT_FALSE(t[id].valueField) << id;
    }
    EXPECT_EQ(t[IDC_USERNAME].description, CString(u"Credentials"));
    EXPECT_EQ(t[IDC_DOMAIN].description, CString()); // in no group box
    EXPECT_EQ(t[IDC_BANNER].name, CString());        // the picture says nothing
}

TEST(AccessibleTextTest, ValueFieldsAreNamedByTheirRowWithTheUnitAfterThem)
{
    auto t = ById(IDD_ZELTOR_DIALOG);
    // Each row's nearest label on the left, also where two columns share a row, and the "%" just
    // right of the three usage values; a label further right (Password:) is no unit.
    const std::map<int, const char16_t*> values = {
        { IDC_CPUUSAGE, u"CPU Usage (%)" },          { IDC_MEMORYUSAGE, u"Memory Usage (%)" },
        { IDC_DISKUSAGE, u"Disk Usage (%)" },        { IDC_PAGEREADS, u"Page Reads/sec" },
        { IDC_PAGEWRITES, u"Page Writes/sec" },      { IDC_NTFRSHANDLES, u"NTFRS Handles" },
        { IDC_FILEREADS, u"File Reads/sec" },        { IDC_FILEWRITES, u"File Writes/sec" },
        { IDC_INTERRUPTTIME, u"Interrupt time(%)" }, { IDC_LSASSHANDLES, u"LSASS Handles" },
        { IDC_PAGEFAULTS, u"Page Faults/sec" },      { IDC_PAGESINPUT, u"Pages Input/sec" },
        { IDC_PAGESOUTPUT, u"Pages Output/sec" },
    };
    for (const auto& [id, name] : values) {
        EXPECT_EQ(t[id].name, CString(name)) << id;
        EXPECT_TRUE(t[id].valueField) << id;
        EXPECT_EQ(t[id].description, CString(u"DC Performance Data")) << id;
    }
}

TEST(AccessibleTextTest, PickerListIsNamedByItsGroupAndAboutLinksByTheirTexts)
{
    auto picker = ById(IDD_SELDC);
    EXPECT_EQ(picker[IDC_DCLIST].name, CString(u"Select DC"));
    EXPECT_EQ(picker[IDOK].name, CString(u"OK"));

    auto about = ById(IDD_ABOUTBOX);
    EXPECT_EQ(about[IDC_LINK_WEB].name, CString(u"https://www.zeltor.example/"));
    EXPECT_EQ(about[IDC_LINK_SUPPORT].name, CString(u"support@zeltor.example"));
    EXPECT_EQ(about[IDC_LINK_SALES].name, CString(u"sales@zeltor.example"));
    EXPECT_FALSE(about[IDC_LINK_WEB].valueField);
}

TEST(AccessibleTextTest, MnemonicsAndColonsAreNotSpoken)
{
    const ControlTemplate controls[] = {
        { 7, ControlClass::Edit, u"", 60, 10, 50, 12, 0, 0, 0 },
        { IDC_STATIC, ControlClass::Static, u"&Save && quit :", 10, 12, 45, 8, 0, 0, 0 },
        { 8, ControlClass::Button, u"&Open", 10, 30, 40, 14, tpl_style::BsPushButton, 0, 0 },
    };
    const DialogTemplate tpl{ 1, u"", 120, 50, 0, 0, u"MS Shell Dlg", 8, controls };
    EXPECT_EQ(AfxAccessibleText(tpl, 0).name, CString(u"Save & quit"));
    EXPECT_EQ(AfxAccessibleText(tpl, 2).name, CString(u"Open"));
}

} // namespace
