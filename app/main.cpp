#include "mainwindow.h"
#include "platform.h"

#include <QApplication>
#include <QSocketNotifier>

int main(int argc, char *argv[])
{
    Platform::setUpAllocator();
    QApplication app(argc, argv);
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
