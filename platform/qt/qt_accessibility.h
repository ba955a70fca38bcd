// The dialogs as a screen reader sees them (AT-SPI on Linux): every control named from its
// template (framework/accessible_text.h), the value fields as named texts whose changes are
// announced, and the hyperlinks as links that can be clicked through the bus.
#pragma once

#include <QString>

#include "framework/accessible_text.h"

class QLabel;
class QtStaticLabel;
class QWidget;

// Names and describes the widget of a template's control. A value field gets an accessible of its
// own: a static text named by its row whose text is the value.
void SetAccessibleText(QWidget* widget, const AccessibleText& text);

// The label is a link: role link, named by its text, with the press action, which clicks it
// (QtStaticLabel::Activate) once the caller has its answer.
void PresentAsLink(QtStaticLabel* label);

// Sets a label's text; for a value field, tells the accessibility bus that the text of the named
// field changed (a text-changed event of that object), as a screen reader announces it.
void SetLabelText(QLabel* label, const QString& text);
