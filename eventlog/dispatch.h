#pragma once

#include "settings.h"

// Whether an event of this trap kind is to be recorded. Kinds outside 0 to 5 always pass.
bool trapKindPasses(const TSettings &settings, int trapKind);
