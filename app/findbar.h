#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QToolBar>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTextDocument;

// Finding text in the log view: a small bar under it (Ctrl+F), with next and previous
// (Return, Shift+Return, F3, Shift+F3), a match-case toggle and a hint in place ("wrapped",
// "not found"). Escape gives the focus back to the view with the match still selected.
// Built in code: the form stays as it is. Only the view is searched, never the log file.
class TFindBar : public QToolBar
{
    Q_OBJECT

public:
    // Placed in the bottom tool bar area of window, hidden until Ctrl+F.
    TFindBar(QPlainTextEdit *view, QMainWindow *window);

    // Shows the bar with the focus in its field, its text selected.
    void open();
    // Looks for the field's text. Forward from the selection's start, or past it when it
    // is a match already (the next one), from the top when nothing is selected; backward
    // the same way up from the selection's end, or from the bottom.
    void find(bool backward);
    bool isSearching() const { return searching; }

    // A search runs in slices this long at most, one per turn of the event loop, so that
    // a large view never freezes the window; lines that arrive meanwhile are searched too.
    static constexpr int SliceMs = 8;

signals:
    // A search has ended, with the match selected or not.
    void searchEnded(bool found);

protected:
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    // Hides the bar and gives the focus back to the view, the match still selected.
    void dismiss();
    // Searches for one slice; schedules the next while the search goes on.
    void searchSlice();
    // Selects the match at index of blockNumber when found; says how it went.
    void finish(bool found, int blockNumber, int index);

    QPlainTextEdit *view;
    QTextDocument *document;
    QLineEdit *field;
    QCheckBox *matchCase;
    QLabel *hint;

    // The search under way: what, which way, where it began (a block and a position in
    // it), the block it has reached, and whether it has wrapped around the end.
    bool searching = false;
    QString needle;
    Qt::CaseSensitivity sensitivity = Qt::CaseInsensitive;
    bool backward = false;
    int startBlock = 0;
    int startAt = 0;
    int block = 0;
    bool wrapped = false;
    // Raised with every search: a slice scheduled for an earlier one does nothing.
    quint64 generation = 0;
    int knownBlocks = 0;
};
