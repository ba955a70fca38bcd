// Includes the layering check must refuse: a toolkit header and the program's dialog in the
// framework.
#pragma once

#include <QWidget>
#include <string>

#include "app/zeltor_dlg.h"
#include "framework/cstring.h"
