#include "logwriter.h"

#include <QDir>

// Placeholder: direct append only, until the queue lands.

QString logFilePath(const TSettings &s)
{
    return s.DataDir + QDir::separator() + s.DataFile;
}

QString queueFilePath(const TSettings &s)
{
    return s.DataDir + QDir::separator() + "queue.tmp";
}

QString rotatedLogPath(const TSettings &, const QDateTime &)
{
    return {};
}

void rotateLogFile(const TSettings &, const QDateTime &) {}

bool TLogWriter::write(const TSettings &s, const char *bytes, int length)
{
    Platform::LogFile file;
    if (!file.open(QDir::toNativeSeparators(logFilePath(s)), shareMode))
        return false;
    file.seekToEnd();
    return file.write(bytes, length) && file.write("\r\n", 2);
}

bool TLogWriter::flush(const TSettings &)
{
    return true;
}
