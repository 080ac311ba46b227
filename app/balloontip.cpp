#include "balloontip.h"

#include "geometry.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QTextLayout>
#include <QToolButton>
#include <QToolTip>
#include <QtMath>

#include <limits>

namespace {

// The text wraps at a fixed width, so that the next balloon has the same size as long as
// its text takes as many lines.
const int widthInCharacters = 60;
// More characters than a line of narrow glyphs holds: no more than this for each line
// that has room is laid out.
const int charactersPerLine = 4 * widthInCharacters;
const QChar ellipsis(0x2026);

} // namespace

// The message, wrapped at the balloon's width: after a word where it can, anywhere in a
// word longer than a line. Laid out once for each message and drawn from that layout.
class TBalloonText : public QWidget
{
public:
    TBalloonText(QWidget *parent, int lineWidth) : QWidget(parent), lineWidth(lineWidth)
    {
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        textLayout.setTextOption(option);
        textLayout.setCacheEnabled(true);
    }
    QSize sizeHint() const override { return QSize(lineWidth, textHeight); }
    QString text() const { return shownText; }

    // As much of the text as maxHeight has room for, a line at least; a text cut short
    // ends with an ellipsis.
    void setText(const QString &text, int maxHeight)
    {
        // Only what can be shown is laid out: an event line may hold a datagram of 64 KiB.
        const int lines = qMax(1, maxHeight / fontMetrics().lineSpacing()) + 1;
        shownText = text.left(qsizetype(lines) * charactersPerLine);
        bool whole = shownText.size() == text.size();
        const QTextLine last = layOut(maxHeight, &whole);
        if (!whole) {
            QString end = shownText.mid(last.textStart(), last.textLength());
            while (!end.isEmpty() && end.back().isSpace())
                end.chop(1);
            shownText =
                shownText.left(last.textStart()) + fontMetrics().elidedText(end + ellipsis, Qt::ElideRight, lineWidth);
            layOut(std::numeric_limits<int>::max(), &whole);
        }
        updateGeometry();
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        textLayout.draw(&painter, QPointF());
    }

private:
    // Lays out shownText until a line would end below maxHeight; returns the last line laid
    // out, and clears whole when one did not fit.
    QTextLine layOut(int maxHeight, bool *whole)
    {
        QString laidOut = shownText;
        laidOut.replace(u'\n', QChar::LineSeparator);
        textLayout.setText(laidOut);
        textLayout.setFont(font());
        textLayout.beginLayout();
        qreal y = 0;
        QTextLine last;
        for (QTextLine line = textLayout.createLine(); line.isValid(); line = textLayout.createLine()) {
            line.setLineWidth(lineWidth);
            if (last.isValid() && y + line.height() > maxHeight) {
                *whole = false;
                break;
            }
            line.setPosition(QPointF(0, y));
            y += line.height();
            last = line;
        }
        textLayout.endLayout();
        textHeight = qCeil(y);
        return last;
    }

    const int lineWidth;
    int textHeight = 0;
    QString shownText;
    QTextLayout textLayout;
};

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
    grid->setColumnStretch(1, 1);
    setFixedWidth(widthInCharacters * fontMetrics().averageCharWidth());
    const QMargins margins = grid->contentsMargins();
    textArea = new TBalloonText(this, width() - margins.left() - margins.right());
    textArea->setObjectName("text");
    grid->addWidget(textArea, 1, 0, 1, 3);

    hideTimer.setSingleShot(true);
    connect(&hideTimer, &QTimer::timeout, this, &QWidget::hide);
}

void TBalloonTip::showMessage(const QString &title, const QString &text, QSystemTrayIcon::MessageIcon icon, int msecs)
{
    setWindowTitle(title);
    titleLabel->setText(title);
    setIcon(icon);
    if (!isVisible() || !iconScreen)
        findScreen();
    // The text grows down to the screen's free height, less the title and the margins.
    const int others = layout()->totalSizeHint().height() - textArea->sizeHint().height();
    textArea->setText(text, iconScreen->availableGeometry().height() - others);
    layout()->invalidate();
    const int height = layout()->totalSizeHint().height();
    if (!isVisible() || height != this->height()) {
        setFixedHeight(height);
        move(balloonPosition(iconRect, iconScreen->geometry(), iconScreen->availableGeometry(), size()));
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

QString TBalloonTip::text() const
{
    return textArea->text();
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

void TBalloonTip::findScreen()
{
    // Asked only when the balloon appears: for an icon embedded in the tray the geometry
    // costs round trips to the X server.
    iconRect = trayIcon->geometry();
    iconScreen = iconRect.isEmpty() ? nullptr : QGuiApplication::screenAt(iconRect.center());
    if (!iconScreen)
        iconScreen = QGuiApplication::primaryScreen();
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
