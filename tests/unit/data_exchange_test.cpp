#include <gtest/gtest.h>

#include <cmath>

#include "framework/data_exchange.h"
#include "framework/dialog_units.h"

TEST(DataExchangeFormat, DoublesShowFifteenSignificantDigitsWithoutTrailingZeros)
{
    EXPECT_EQ(AfxFormatDouble(0.0), u"0");
    EXPECT_EQ(AfxFormatDouble(12.5), u"12.5");
    EXPECT_EQ(AfxFormatDouble(2.0 / 3.0), u"0.666666666666667");
    EXPECT_EQ(AfxFormatDouble(100.0), u"100");
    EXPECT_EQ(AfxFormatDouble(-4.0), u"-4");
    EXPECT_EQ(AfxFormatDouble(2147483647.0), u"2147483647");
    EXPECT_EQ(AfxFormatDouble(1e20), u"1e+20");
}

TEST(DataExchangeFormat, IntegersShowSignedDecimal)
{
    EXPECT_EQ(AfxFormatInt(0), u"0");
    EXPECT_EQ(AfxFormatInt(-1), u"-1");
    EXPECT_EQ(AfxFormatInt(2147483647), u"2147483647");
    EXPECT_EQ(AfxFormatInt(-2147483647 - 1), u"-2147483648");
}

TEST(DataExchangeParse, ReadsOneNumberAndRejectsEverythingElse)
{
    double d = 7;
    EXPECT_TRUE(AfxParseDouble(u"12.5", d));
    EXPECT_EQ(d, 12.5);
    EXPECT_TRUE(AfxParseDouble(u"  -3e2 ", d));
    EXPECT_EQ(d, -300);
    EXPECT_TRUE(AfxParseDouble(u"+1", d));
    EXPECT_EQ(d, 1);
    EXPECT_TRUE(AfxParseDouble(AfxFormatDouble(2.0 / 3.0), d));
    EXPECT_NEAR(d, 2.0 / 3.0, 1e-15);

    d = 7;
    for (const char16_t* bad : { u"", u"   ", u"-", u"abc", u"1 2", u"12abc", u"1,5", u"\u0661" }) {
        EXPECT_FALSE(AfxParseDouble(bad, d)) << CString(bad).ToUtf8();
        EXPECT_EQ(d, 7);
    }
}

TEST(DataExchangeParse, DoubleFieldIsReadOnlyToItsFirst399Characters)
{
    double d = 0;
    CString text(398, u'0');
    text += u"5x"; // the "x" is character 400 and never read
    EXPECT_TRUE(AfxParseDouble(text, d));
    EXPECT_EQ(d, 5);
}

TEST(DataExchangeParse, IntegersMustFitThirtyTwoBits)
{
    int n = 9;
    EXPECT_TRUE(AfxParseInt(u"-1", n));
    EXPECT_EQ(n, -1);
    EXPECT_TRUE(AfxParseInt(u" 2147483647", n));
    EXPECT_EQ(n, 2147483647);
    n = 9;
    for (const char16_t* bad : { u"", u"1.5", u"2147483648", u"-2147483649", u"0x10", u"ten" }) {
        EXPECT_FALSE(AfxParseInt(bad, n)) << CString(bad).ToUtf8();
        EXPECT_EQ(n, 9);
    }
    CString longText(62, u'0');
    longText += u"7z"; // character 64 is not read
    EXPECT_TRUE(AfxParseInt(longText, n));
    EXPECT_EQ(n, 7);
}

TEST(DialogUnits, ConvertWithTheFontsBaseUnits)
{
    // MS Shell Dlg 8 pt at 96 dpi: the 52 letters measure 312 px, the font is 13 px high.
    const DialogBaseUnits u = AfxBaseUnitsFromFont(312, 13);
    EXPECT_EQ(u.cx, 6);
    EXPECT_EQ(u.cy, 13);
    const AfxRect r = AfxDialogUnitsToPixels(87, 57, 104, 14, u);
    EXPECT_EQ(r, (AfxRect{ 131, 93, 131 + 156, 93 + 23 }));
    // The template of the main window: 353 x 335 units.
    const AfxRect whole = AfxDialogUnitsToPixels(0, 0, 353, 335, u);
    EXPECT_EQ(whole.Width(), 530);
    EXPECT_EQ(whole.Height(), 544);
    EXPECT_EQ(AfxMulDiv(-3, 6, 4), -5); // half away from zero
    EXPECT_EQ(AfxMulDiv(1, 1, 0), -1);
}

TEST(MinimisedIcon, IsCentredTruncatingTowardZero)
{
    EXPECT_EQ(AfxCenteredIconPosition({ 0, 0, 36, 36 }, 32, 32), (AfxPoint{ 2, 2 }));
    EXPECT_EQ(AfxCenteredIconPosition({ 0, 0, 30, 36 }, 32, 32).x, 0);
    EXPECT_EQ(AfxCenteredIconPosition({ 0, 0, 20, 20 }, 32, 32), (AfxPoint{ -5, -5 }));
}
