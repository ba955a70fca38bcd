// An include the layering check must refuse: the Linux services reaching into the Qt layer.
#include "platform/linux/counters/proc_files.h"
#include "platform/qt/qt_window_backend.h"
