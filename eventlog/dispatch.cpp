#include "dispatch.h"

bool trapKindPasses(const TSettings &s, int trapKind)
{
    switch (trapKind) {
    case 0: return s.InputsEnable;
    case 1: return s.SensorsEnable;
    case 2: return s.AlarmsEnable;
    case 3: return s.StartupEnable;
    case 4: return s.LinkupEnable;
    case 5: return s.UnknownEnable;
    default: return true;
    }
}
