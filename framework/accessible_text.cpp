#include "framework/accessible_text.h"

#include "framework/dialog_template.h"

namespace {

using namespace tpl_style;

// A unit sits right after its field: the "%" labels start one dialog unit after their values.
constexpr int kUnitGap = 4;

bool IsLabel(const ControlTemplate& c)
{
    const std::uint32_t type = c.style & SsTypeMask;
    return c.cls == ControlClass::Static && c.id == -1 && c.text[0] != u'\0' && type != SsBitmap &&
           type != SsEtchedVert;
}

bool IsGroupBox(const ControlTemplate& c)
{
    return c.cls == ControlClass::Button && (c.style & BsTypeMask) == BsGroupBox;
}

// On one row: the vertical middle of each lies within the other.
bool SameRow(const ControlTemplate& a, const ControlTemplate& b)
{
    const int middleA = a.y + a.cy / 2;
    const int middleB = b.y + b.cy / 2;
    return (middleA >= b.y && middleA <= b.y + b.cy) || (middleB >= a.y && middleB <= a.y + a.cy);
}

bool Inside(const ControlTemplate& c, const ControlTemplate& box)
{
    return c.x >= box.x && c.y >= box.y && c.x + c.cx <= box.x + box.cx && c.y + c.cy <= box.y + box.cy;
}

// Without mnemonic markers ("&&" stays one "&"), and for labels without the trailing colon.
CString Spoken(const char16_t* text, bool label)
{
    CString out;
    for (const char16_t* p = text; *p != u'\0'; ++p) {
        if (*p == u'&') {
            if (p[1] != u'&')
                continue;
            ++p;
        }
        out.push_back(*p);
    }
    if (label) {
        while (!out.empty() && (out.back() == u' ' || out.back() == u':'))
            out.pop_back();
    }
    return out;
}

} // namespace

AccessibleText AfxAccessibleText(const DialogTemplate& tpl, std::size_t index)
{
    const ControlTemplate& c = tpl.controls[index];
    AccessibleText result;

    const bool field = c.cls == ControlClass::Edit || c.cls == ControlClass::ListView ||
                       (c.cls == ControlClass::Static && c.id != -1 && (c.style & SsTypeMask) != SsBitmap);
    if (!field) {
        if (c.cls != ControlClass::Static || IsLabel(c))
            result.name = Spoken(c.text, false);
        return result; // a picture or a line says nothing
    }

    const ControlTemplate* group = nullptr; // the smallest group box around the field
    const ControlTemplate* label = nullptr;
    const ControlTemplate* unit = nullptr;
    for (const ControlTemplate& other : tpl.controls) {
        if (IsGroupBox(other) && Inside(c, other) && (group == nullptr || other.cx * other.cy < group->cx * group->cy))
            group = &other;
        if (!IsLabel(other) || !SameRow(c, other))
            continue;
        if (other.x < c.x && (label == nullptr || other.x > label->x))
            label = &other;
        const int gap = other.x - (c.x + c.cx);
        if (gap >= 0 && gap <= kUnitGap && (unit == nullptr || other.x < unit->x))
            unit = &other;
    }
    if (label != nullptr) {
        result.name = Spoken(label->text, true);
        if (unit != nullptr)
            result.name += u" (" + Spoken(unit->text, true) + u")";
        result.valueField = c.cls == ControlClass::Static;
    } else if (c.cls != ControlClass::Static && group != nullptr) {
        result.name = Spoken(group->text, false);
        return result;
    } else {
        result.name = Spoken(c.text, false);
    }
    if (group != nullptr)
        result.description = Spoken(group->text, false);
    return result;
}
