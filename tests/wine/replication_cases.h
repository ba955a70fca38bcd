// The cases of the overview's replication reads through the stand-in ntdsapi.
#pragma once

#include "driver_support.h"

// Each controller's binding is kept between its reads (Refresh now reads again without a new
// logon), bound anew after a failed call, and every binding and answer is released by the end.
void OverviewKeepsEachControllersReplicationBinding(const Paths& paths, Check& check);
