// What a screen reader says of each control of a dialog template. The dialog manager of Windows
// names a field after the static text just before it in the template; ours put their labels after
// the fields, so every window layer names them from this instead. Derived from the template's
// geometry, so that a layout change renames nothing by hand.
#pragma once

#include <cstddef>

#include "framework/cstring.h"

struct DialogTemplate;

struct AccessibleText {
    // Empty: the control has nothing to say (a picture, an etched line).
    CString name;
    // The group box the control sits in, when that is not already its name.
    CString description;
    // A static text with an id that has a label on its row: the program writes a value into it,
    // so its text is the value of the field named here, not its name.
    bool valueField = false;
};

// The accessible text of control `index` of the template:
// - a button, check box or group box: its text;
// - an edit field, a list view, or a static text with an id: the label on its row to its left
//   (the nearest), with a unit label right after it ("%") appended in parentheses; without such
//   a label, the group box it sits in; a static text with an id and no label keeps its own text
//   (the About box's links);
// - any other static text: its text.
// Mnemonic ampersands are not spoken; a label that names a field loses its trailing colon there
// ("Domain :" → "Domain") and keeps it as a text of its own.
AccessibleText AfxAccessibleText(const DialogTemplate& tpl, std::size_t index);
