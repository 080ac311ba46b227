#include "mainwindow.h"
#include "platform.h"

#include <QApplication>
#include <QSocketNotifier>

namespace {

QtMessageHandler qtMessageHandler = nullptr;

// Without a display (-platform offscreen) Qt warns that it cannot do for the tray icon and
// the windows what nobody could see anyway (size hints, raising a balloon): no fault of the
// user's, though it reads like one. Only these, by category and text; every other message
// goes out as Qt writes it.
void quietOffscreen(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && QGuiApplication::platformName() == QLatin1String("offscreen")) {
        const QLatin1String category(context.category ? context.category : "");
        const bool trayWindowSignal =
            category == QLatin1String("qt.core.qobject.connect") &&
            message.contains(QLatin1String("QPlatformNativeInterface::systemTrayWindowChanged"));
        const bool windowFeature = category == QLatin1String("default") &&
                                   message.startsWith(QLatin1String("This plugin does not support ")) &&
                                   message.endsWith(QLatin1String("()"));
        if (trayWindowSignal || windowFeature)
            return;
    }
    qtMessageHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
    Platform::setUpAllocator();
    qtMessageHandler = qInstallMessageHandler(quietOffscreen);
    const bool chosePlatform = Platform::preferX11InWaylandSession();
    QApplication app(argc, argv);
    if (chosePlatform)
        qunsetenv("QT_QPA_PLATFORM");
    int result = 0;
    {
        TMainWindow window;
        // A session that ends or a Ctrl+C ends the event loop as Exit does, so that the
        // window stores what it has received before the process goes.
        std::unique_ptr<QSocketNotifier> termination;
        if (const int fd = Platform::terminationRequests(); fd != -1) {
            termination = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            QObject::connect(termination.get(), &QSocketNotifier::activated, [] { QCoreApplication::exit(0); });
        }
        window.show();
        result = app.exec();
    }
    return result;
}
