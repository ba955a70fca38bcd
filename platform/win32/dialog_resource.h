// The shared dialog templates of res/ as the Win32 dialog manager reads them: an in-memory
// DLGTEMPLATEEX with its DLGITEMTEMPLATEEX items.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/dialog_template.h"

// The template in DLGTEMPLATEEX form. The storage is DWORD-aligned, as
// CreateDialogIndirectParamW requires; hand it over as data().
std::vector<std::uint32_t> BuildDialogTemplateEx(const DialogTemplate& tpl);

// The window class a control of the template is created with.
const char16_t* ControlClassName(ControlClass cls);
