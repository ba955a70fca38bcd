// The hyperlink's four decisions that depend only on their inputs: where the fitted control
// goes, which colour its text takes, the fallback command line and the failure texts.
#include <gtest/gtest.h>

#include "controls/hyperlink_rules.h"

namespace {

// A control at x 100..200, y 50..70 of its parent, with a 2-pixel border on each side.
const AfxRect kWindow{ 100, 50, 200, 70 };
const AfxRect kClient{ 102, 52, 198, 68 };

} // namespace

TEST(FitRectToText, LeftAlignedKeepsItsLeftEdgeAndTop)
{
    // Text 150 wide (wider than the control's 96-pixel client area): grows to the right by
    // the text plus the border.
    EXPECT_EQ(FitRectToText(kWindow, kClient, { 150, 13 }, 0), (AfxRect{ 100, 50, 254, 67 }));
    // Narrower text shrinks it from the right.
    EXPECT_EQ(FitRectToText(kWindow, kClient, { 40, 13 }, 0), (AfxRect{ 100, 50, 144, 67 }));
}

TEST(FitRectToText, RightAlignedKeepsItsRightEdge)
{
    EXPECT_EQ(FitRectToText(kWindow, kClient, { 150, 13 }, SS_RIGHT), (AfxRect{ 46, 50, 200, 67 }));
    EXPECT_EQ(FitRectToText(kWindow, kClient, { 40, 13 }, SS_RIGHT), (AfxRect{ 156, 50, 200, 67 }));
}

TEST(FitRectToText, CentredGrowsAndShrinksEquallyOnBothSides)
{
    // Needed width 154: d = (100 - 154) / 2 = -27 on each side.
    EXPECT_EQ(FitRectToText(kWindow, kClient, { 150, 13 }, SS_CENTER), (AfxRect{ 73, 50, 227, 67 }));
    // Needed width 45: d = 55 / 2 = 27, truncated; the result is one pixel wider than asked.
    EXPECT_EQ(FitRectToText(kWindow, kClient, { 41, 13 }, SS_CENTER), (AfxRect{ 127, 50, 173, 67 }));
    // An odd negative difference truncates toward zero: needed 103, d = -3 / 2 = -1.
    EXPECT_EQ(FitRectToText(kWindow, kClient, { 99, 13 }, SS_CENTER), (AfxRect{ 99, 50, 201, 67 }));
    // SS_CENTER wins over SS_RIGHT when both bits are set (SS_SIMPLE is 0x0B).
    EXPECT_EQ(FitRectToText(kWindow, kClient, { 150, 13 }, SS_CENTER | SS_RIGHT), (AfxRect{ 73, 50, 227, 67 }));
}

TEST(FitRectToText, CentreImageCentresVerticallyInsteadOfKeepingTheTop)
{
    // Needed height 17 in a 20-pixel window: d = 3 / 2 = 1 at top and bottom.
    EXPECT_EQ(FitRectToText(kWindow, kClient, { 40, 13 }, SS_CENTERIMAGE), (AfxRect{ 100, 51, 144, 69 }));
    // A taller text grows it on both sides: needed 34, d = -14 / 2 = -7.
    EXPECT_EQ(FitRectToText(kWindow, kClient, { 40, 30 }, SS_CENTERIMAGE), (AfxRect{ 100, 43, 144, 77 }));
    // Without the bit the top stays and the bottom follows the text.
    EXPECT_EQ(FitRectToText(kWindow, kClient, { 40, 30 }, 0), (AfxRect{ 100, 50, 144, 84 }));
    EXPECT_EQ(FitRectToText(kWindow, kClient, { 150, 30 }, SS_CENTERIMAGE | SS_CENTER), (AfxRect{ 73, 43, 227, 77 }));
}

TEST(LinkTextColor, HoverOverVisitedOverLink)
{
    const COLORREF link = 0x00EE0000, visited = 0x008B1A55, hover = 0x000000FF;
    EXPECT_EQ(LinkTextColor(FALSE, FALSE, link, visited, hover), link);
    EXPECT_EQ(LinkTextColor(FALSE, TRUE, link, visited, hover), visited);
    EXPECT_EQ(LinkTextColor(TRUE, FALSE, link, visited, hover), hover);
    EXPECT_EQ(LinkTextColor(TRUE, TRUE, link, visited, hover), hover);
    // Any nonzero BOOL counts.
    EXPECT_EQ(LinkTextColor(FALSE, 7, link, visited, hover), visited);
    EXPECT_EQ(RGB(255, 0, 0), hover);
    EXPECT_EQ(RGB(0, 0, 238), link);
    EXPECT_EQ(RGB(85, 26, 139), visited);
}

TEST(ComposeHandlerCommand, CutsAtThePlaceholderAndAppendsTheUrlUnquoted)
{
    const CString url = u"https://www.zeltor.example/";
    // Quoted placeholder: cut at its opening quotation mark; the blank before it stays.
    EXPECT_EQ(ComposeHandlerCommand(u"\"C:\\Program Files\\Web\\web.exe\" \"%1\"", url),
              u"\"C:\\Program Files\\Web\\web.exe\"  https://www.zeltor.example/");
    // Bare placeholder.
    EXPECT_EQ(ComposeHandlerCommand(u"web.exe -nohome %1", url), u"web.exe -nohome  https://www.zeltor.example/");
    // No placeholder: the whole template, one blank, the url.
    EXPECT_EQ(ComposeHandlerCommand(u"web.exe", url), u"web.exe https://www.zeltor.example/");
    // Options after the placeholder are lost.
    EXPECT_EQ(ComposeHandlerCommand(u"web.exe -osint -url \"%1\" -new-tab", url),
              u"web.exe -osint -url  https://www.zeltor.example/");
    EXPECT_EQ(ComposeHandlerCommand(u"web.exe %1 --flag", url), u"web.exe  https://www.zeltor.example/");
    // The bare placeholder alone: one blank and the url.
    EXPECT_EQ(ComposeHandlerCommand(u"%1", url), u" https://www.zeltor.example/");
    // The first quoted placeholder counts, even after a bare one.
    EXPECT_EQ(ComposeHandlerCommand(u"a %1 b \"%1\"", url), u"a %1 b  https://www.zeltor.example/");
    // "%10" is a bare placeholder followed by a 0.
    EXPECT_EQ(ComposeHandlerCommand(u"x %10", u"u"), u"x  u");
    EXPECT_EQ(ComposeHandlerCommand(u"", u"mailto:a@b"), u" mailto:a@b");
}

TEST(OpenErrorText, TableTextsWithTheirLineBreaks)
{
    EXPECT_EQ(OpenErrorText(26), u"A sharing violation occurred. ");
    EXPECT_EQ(OpenErrorText(32), u"The specified dynamic-link library was not found.");
    EXPECT_EQ(OpenErrorText(0), u"The operating system is out\nof memory or resources.");
    EXPECT_EQ(OpenErrorText(2), u"The specified file was not found.");
    EXPECT_EQ(OpenErrorText(3), u"The specified path was not found.");
    EXPECT_EQ(OpenErrorText(5), u"The operating system denied\naccess to the specified file.");
    EXPECT_EQ(OpenErrorText(8), u"There was not enough memory to complete the operation.");
    EXPECT_EQ(OpenErrorText(11), u"The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
    EXPECT_EQ(OpenErrorText(27), u"The filename association is\nincomplete or invalid.");
    EXPECT_EQ(OpenErrorText(28), u"The DDE transaction could not\nbe completed because the request timed out.");
    EXPECT_EQ(OpenErrorText(29), u"The DDE transaction failed.");
    EXPECT_EQ(OpenErrorText(30),
              u"The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.");
    EXPECT_EQ(OpenErrorText(31), u"There is no application associated\nwith the given filename extension.");
}

TEST(OpenErrorText, OtherCodesAreUnknownInSignedDecimal)
{
    EXPECT_EQ(OpenErrorText(4), u"Unknown Error (4) occurred.");
    EXPECT_EQ(OpenErrorText(33), u"Unknown Error (33) occurred.");
    EXPECT_EQ(OpenErrorText(-5), u"Unknown Error (-5) occurred.");
    EXPECT_EQ(OpenErrorText(1), u"Unknown Error (1) occurred.");
}

TEST(OpenErrorText, MessageHasTheHeadingAndAnEmptyLine)
{
    EXPECT_EQ(OpenErrorMessage(26), u"Unable to open hyperlink:\n\nA sharing violation occurred. ");
    EXPECT_EQ(OpenErrorMessage(4), u"Unable to open hyperlink:\n\nUnknown Error (4) occurred.");
}
