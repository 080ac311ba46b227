#pragma once

#include "nrvapi.h"

class QObject;

// The one main window, which takes the trap callbacks' event texts to its
// onSnmp(QString,int). Set once by the window's constructor, never cleared.
extern QObject *gMainWindow;

// The six callbacks the trap library calls on its own thread. Each formats its event
// text and posts it with its trap kind to trapIntake(), from which the window takes them
// in order; they touch nothing else.
void onUnknownTrap(const UnknownTrapRecord *record);
void onAlarmTrap(const AlarmTrapRecord *record);
void onBinaryInputChangeTrap(const BinaryInputTrapRecord *record);
void onSensorChangeTrap(const SensorTrapRecord *record);
void onStartupTrap(const ShortTrapRecord *record);
void onLinkupTrap(const ShortTrapRecord *record);

// The library's state callback: losses or a failure are announced by trapIntake().
void onTrapLibraryState();

// Fills the library's table with the six callbacks in their slots.
void fillTrapCallbackTable(TrapCallbackTable *table);
