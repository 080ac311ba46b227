#pragma once

#include <QStringList>

class QPlainTextEdit;
class QTimer;

// Appends event lines to the log view once per turn of the event loop. The view lays out
// every append on its own, which costs some ten times what storing the line costs; a
// burst of events would otherwise keep the GUI thread from reading the sockets. Each line
// is still one paragraph of its own, in order.
class TViewAppender
{
public:
    explicit TViewAppender(QPlainTextEdit *view);
    ~TViewAppender();
    TViewAppender(const TViewAppender &) = delete;
    TViewAppender &operator=(const TViewAppender &) = delete;

    // Shown when the event loop next runs.
    void append(const QString &line);
    // Shows what is pending now.
    void flush();
    // Forgets what is pending (the view is being cleared).
    void discard();

private:
    QPlainTextEdit *view;
    QTimer *timer;
    QStringList pending;
};
