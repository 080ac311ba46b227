#pragma once

#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

class QLabel;
class QScreen;
class TBalloonText;

// The tray icon's balloon on a desktop with an XEmbed tray. Made once and kept: a new
// message while one shows only changes the texts and restarts the timer. Qt's own
// balloon is a new window for every message (a native window, its backing store and a
// shaped mask each time): at four balloons a second, a quarter of the GUI thread's work.
class TBalloonTip : public QWidget
{
    Q_OBJECT

public:
    // The balloon stands next to this icon.
    explicit TBalloonTip(const QSystemTrayIcon *trayIcon);

    // Shows the message for msecs (0: until it is clicked or closed).
    void showMessage(const QString &title, const QString &text, QSystemTrayIcon::MessageIcon icon, int msecs);
    // The text as shown: the whole message, or as much of it as the screen has room for
    // and an ellipsis.
    QString text() const;

signals:
    // A left click on the balloon, which also hides it; its close button hides it alone.
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void setIcon(QSystemTrayIcon::MessageIcon icon);
    void findScreen();

    const QSystemTrayIcon *trayIcon;
    QRect iconRect;
    QPointer<QScreen> iconScreen;
    QLabel *iconLabel;
    QLabel *titleLabel;
    TBalloonText *textArea;
    QSystemTrayIcon::MessageIcon shownIcon = QSystemTrayIcon::NoIcon;
    QTimer hideTimer;
};
