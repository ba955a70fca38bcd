// The program's resources as the framework and the window layers look them up by id: dialog
// templates, string-table entries, and images. The program hands its table to the application
// (CWinApp::m_pResources); the framework has none of its own.
#pragma once

#include <span>

#include "framework/afx_types.h"

struct DialogTemplate;

class IResourceTable {
public:
    virtual ~IResourceTable() = default;
    // nullptr when there is no such template.
    virtual const DialogTemplate* FindDialogTemplate(UINT id) const = 0;
    // The text of a string-table entry; nullptr when there is none.
    virtual const char16_t* FindString(UINT id) const = 0;
    // The bytes of an image resource as stored in its file (.ico or .bmp); empty when there is none.
    virtual std::span<const unsigned char> FindImage(UINT id) const = 0;
};

// Lookups in the application's table: nothing found without an application or a table.
const DialogTemplate* AfxFindDialogTemplate(UINT id);
const char16_t* AfxFindStringResource(UINT id);
std::span<const unsigned char> AfxFindImageResource(UINT id);
