#include "platform/win32/dialog_resource.h"

#include <cstring>

namespace {

// FW_NORMAL and DEFAULT_CHARSET (wingdi.h).
constexpr std::uint16_t kFontWeightNormal = 400;
constexpr std::uint8_t kDefaultCharset = 1;

// Little-endian words, each item starting on a DWORD boundary (the layout a resource compiler
// writes for DIALOGEX).
class TemplateWriter {
public:
    void Word(std::uint16_t w) { m_words.push_back(w); }
    void Dword(std::uint32_t d)
    {
        Word(static_cast<std::uint16_t>(d & 0xFFFF));
        Word(static_cast<std::uint16_t>(d >> 16));
    }
    void Short(short s) { Word(static_cast<std::uint16_t>(s)); }
    void Text(const char16_t* s)
    {
        for (; s != nullptr && *s != u'\0'; ++s)
            Word(static_cast<std::uint16_t>(*s));
        Word(0);
    }
    void AlignDword()
    {
        if (m_words.size() % 2 != 0)
            Word(0);
    }
    std::vector<std::uint32_t> Finish()
    {
        AlignDword();
        std::vector<std::uint32_t> out(m_words.size() / 2);
        std::memcpy(out.data(), m_words.data(), m_words.size() * sizeof(std::uint16_t));
        return out;
    }

private:
    std::vector<std::uint16_t> m_words;
};

} // namespace

const char16_t* ControlClassName(ControlClass cls)
{
    switch (cls) {
    case ControlClass::Button:
        return u"Button";
    case ControlClass::Edit:
        return u"Edit";
    case ControlClass::Static:
        return u"Static";
    case ControlClass::ListView:
        return u"SysListView32";
    }
    return u"Static";
}

std::vector<std::uint32_t> BuildDialogTemplateEx(const DialogTemplate& tpl)
{
    TemplateWriter w;
    // DLGTEMPLATEEX header.
    w.Word(1);      // dlgVer
    w.Word(0xFFFF); // signature: the extended form
    w.Dword(0);     // helpID
    w.Dword(tpl.exStyle);
    w.Dword(tpl.style | tpl_style::DsSetFont);
    w.Word(static_cast<std::uint16_t>(tpl.controls.size()));
    w.Short(0); // x, y: the layer centres the dialog when it is created
    w.Short(0);
    w.Short(tpl.cx);
    w.Short(tpl.cy);
    w.Word(0); // no menu
    w.Word(0); // the dialog manager's own class
    w.Text(tpl.caption);
    // DS_SETFONT: point size, weight, italic, charset, face.
    w.Word(static_cast<std::uint16_t>(tpl.pointSize));
    w.Word(kFontWeightNormal);
    w.Word(static_cast<std::uint16_t>(kDefaultCharset << 8)); // italic = 0 (low byte), charset (high byte)
    w.Text(tpl.fontFace != nullptr && *tpl.fontFace != u'\0' ? tpl.fontFace : u"MS Shell Dlg");

    for (const ControlTemplate& c : tpl.controls) {
        // DLGITEMTEMPLATEEX.
        w.AlignDword();
        w.Dword(0); // helpID
        w.Dword(c.exStyle);
        w.Dword(c.style);
        w.Short(c.x);
        w.Short(c.y);
        w.Short(c.cx);
        w.Short(c.cy);
        w.Dword(static_cast<std::uint32_t>(c.id));
        w.Text(ControlClassName(c.cls));
        // A picture's bitmap is set after creation (STM_SETIMAGE), so its title stays empty.
        w.Text(c.text);
        w.Word(0); // no creation data
    }
    return w.Finish();
}
