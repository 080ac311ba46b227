#include "balloontip.h"

#include "geometry.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <QToolTip>

namespace {

// The text wraps at a fixed width, so that the next balloon has the same size as long as
// its text takes as many lines; a very long line is cut rather than covering the screen.
const int widthInCharacters = 60;
const int maxTextLines = 6;

} // namespace

TBalloonTip::TBalloonTip(const QSystemTrayIcon *trayIcon)
    : QWidget(nullptr, Qt::ToolTip | Qt::WindowDoesNotAcceptFocus), trayIcon(trayIcon)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Its text is an event line, laid out anew for every balloon: as in the log view,
    // simple scripts skip the text shaper.
    QFont noShaping;
    noShaping.setStyleStrategy(QFont::PreferNoShaping);
    setFont(noShaping);
    QPalette colours = QToolTip::palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::ToolTipBase));
    colours.setColor(QPalette::WindowText, colours.color(QPalette::ToolTipText));
    setPalette(colours);

    iconLabel = new QLabel(this);
    iconLabel->hide();
    titleLabel = new QLabel(this);
    titleLabel->setObjectName("title");
    titleLabel->setTextFormat(Qt::PlainText);
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);
    textLabel = new QLabel(this);
    textLabel->setObjectName("text");
    textLabel->setTextFormat(Qt::PlainText);
    textLabel->setWordWrap(true);
    textLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    textLabel->setMaximumHeight(maxTextLines * textLabel->fontMetrics().lineSpacing());

    auto *closeButton = new QToolButton(this);
    closeButton->setObjectName("closeButton");
    closeButton->setAutoRaise(true);
    closeButton->setFocusPolicy(Qt::NoFocus);
    closeButton->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton, nullptr, this));
    connect(closeButton, &QToolButton::clicked, this, &QWidget::hide);

    auto *grid = new QGridLayout(this);
    grid->addWidget(iconLabel, 0, 0);
    grid->addWidget(titleLabel, 0, 1);
    grid->addWidget(closeButton, 0, 2, Qt::AlignRight | Qt::AlignTop);
    grid->addWidget(textLabel, 1, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    setFixedWidth(widthInCharacters * fontMetrics().averageCharWidth());

    hideTimer.setSingleShot(true);
    connect(&hideTimer, &QTimer::timeout, this, &QWidget::hide);
}

void TBalloonTip::showMessage(const QString &title, const QString &text, QSystemTrayIcon::MessageIcon icon, int msecs)
{
    setWindowTitle(title);
    titleLabel->setText(title);
    textLabel->setText(text);
    setIcon(icon);
    const int height = layout()->totalHeightForWidth(width());
    if (!isVisible() || height != this->height()) {
        setFixedHeight(height);
        place();
    }
    // A window raised since the last message may cover it.
    if (isVisible())
        raise();
    else
        show();
    if (msecs > 0)
        hideTimer.start(msecs);
    else
        hideTimer.stop();
}

void TBalloonTip::setIcon(QSystemTrayIcon::MessageIcon icon)
{
    if (icon == shownIcon)
        return;
    shownIcon = icon;
    QStyle::StandardPixmap pixmap;
    switch (icon) {
    case QSystemTrayIcon::Information: pixmap = QStyle::SP_MessageBoxInformation; break;
    case QSystemTrayIcon::Warning: pixmap = QStyle::SP_MessageBoxWarning; break;
    case QSystemTrayIcon::Critical: pixmap = QStyle::SP_MessageBoxCritical; break;
    default: iconLabel->hide(); return;
    }
    const int extent = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    iconLabel->setPixmap(style()->standardIcon(pixmap, nullptr, this).pixmap(extent));
    iconLabel->show();
}

void TBalloonTip::place()
{
    // Asked only when the balloon appears or changes its size: for an icon embedded in
    // the tray the geometry costs round trips to the X server.
    const QRect icon = trayIcon->geometry();
    QScreen *screen = icon.isEmpty() ? nullptr : QGuiApplication::screenAt(icon.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    move(balloonPosition(icon, screen->geometry(), screen->availableGeometry(), size()));
}

void TBalloonTip::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TBalloonTip::mousePressEvent(QMouseEvent *event)
{
    // Any click puts the balloon away, as Qt's does; only the left button counts as a click.
    hide();
    if (event->button() == Qt::LeftButton)
        emit clicked();
}
