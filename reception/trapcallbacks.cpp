#include "trapcallbacks.h"

#include "eventline.h"
#include "trapintake.h"

#include <QObject>

QObject *gMainWindow = nullptr;

namespace {

void post(const QString &eventText, int trapKind)
{
    trapIntake().post(eventText, trapKind);
}

} // namespace

void onUnknownTrap(const UnknownTrapRecord *record)
{
    post(EventLine::unknownTrapText(*record), 5);
}

void onAlarmTrap(const AlarmTrapRecord *record)
{
    post(EventLine::alarmTrapText(*record), 2);
}

void onBinaryInputChangeTrap(const BinaryInputTrapRecord *record)
{
    post(EventLine::binaryInputTrapText(*record, nrvCallbackSender()), 0);
}

void onSensorChangeTrap(const SensorTrapRecord *record)
{
    post(EventLine::sensorTrapText(*record, nrvCallbackSender()), 1);
}

void onStartupTrap(const ShortTrapRecord *record)
{
    post(EventLine::startupTrapText(*record, nrvCallbackSender()), 3);
}

void onLinkupTrap(const ShortTrapRecord *record)
{
    post(EventLine::linkupTrapText(*record, nrvCallbackSender()), 4);
}

void onTrapLibraryState()
{
    trapIntake().announceState();
}

void fillTrapCallbackTable(TrapCallbackTable *table)
{
    table->onUnknown = onUnknownTrap;
    table->onAlarm = onAlarmTrap;
    table->onBinaryInputChange = onBinaryInputChangeTrap;
    table->onSensorChange = onSensorChangeTrap;
    table->onStartup = onStartupTrap;
    table->onLinkup = onLinkupTrap;
}
