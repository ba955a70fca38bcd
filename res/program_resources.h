// The program's resources (templates.cpp): what its start-up hands to the application.
#pragma once

#include "framework/resources.h"

const IResourceTable& ProgramResources();
