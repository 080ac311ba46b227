#include "viewappender.h"

#include <QPlainTextEdit>
#include <QTimer>

TViewAppender::TViewAppender(QPlainTextEdit *view) : view(view), timer(new QTimer(view))
{
    timer->setSingleShot(true);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, view, [this] { flush(); });
}

TViewAppender::~TViewAppender()
{
    delete timer;
}

void TViewAppender::append(const QString &line)
{
    pending << line;
    if (!timer->isActive())
        timer->start();
}

void TViewAppender::flush()
{
    timer->stop();
    if (pending.isEmpty())
        return;
    // One append of several paragraphs: the same paragraphs as one append each.
    view->appendPlainText(pending.join(QLatin1Char('\n')));
    pending.clear();
}

void TViewAppender::discard()
{
    timer->stop();
    pending.clear();
}
