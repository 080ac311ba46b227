#pragma once

// Small helpers shared by the window and dialog suites.

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

#include <functional>

// Runs check() on the next modal widget that appears, then closes it, so a test can
// answer a box that a command opens and blocks on.
inline void onNextModal(std::function<void(QWidget *)> check, int attemptsLeft = 200)
{
    QTimer::singleShot(10, [check, attemptsLeft] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            if (attemptsLeft > 0)
                onNextModal(check, attemptsLeft - 1);
            return;
        }
        check(modal);
        if (modal->isVisible()) {
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            else
                modal->close();
        }
    });
}

// Collects the addresses handed to the desktop instead of opening them.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};
