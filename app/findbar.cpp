#include "findbar.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QStyle>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>

#include <climits>

TFindBar::TFindBar(QPlainTextEdit *view, QMainWindow *window) : QToolBar(window), view(view), document(view->document())
{
    setObjectName("findBar");
    setWindowTitle("Find");
    setMovable(false);
    setFloatable(false);
    // Not among the tool bars the window's context menu offers to show.
    toggleViewAction()->setVisible(false);

    field = new QLineEdit(this);
    field->setObjectName("findField");
    field->setPlaceholderText("Find in the view");
    field->setClearButtonEnabled(true);
    field->setMaximumWidth(300);
    field->installEventFilter(this);
    addWidget(field);
    const auto button = [this](QStyle::StandardPixmap icon, const QString &tip, auto &&clicked) {
        auto *b = new QToolButton(this);
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(tip);
        // The focus stays in the field, where Return and Escape work.
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, clicked);
        addWidget(b);
        return b;
    };
    button(QStyle::SP_ArrowUp, "Previous (Shift+F3)", [this] { find(true); });
    button(QStyle::SP_ArrowDown, "Next (F3)", [this] { find(false); });
    matchCase = new QCheckBox("Match case", this);
    matchCase->setObjectName("findMatchCase");
    matchCase->setFocusPolicy(Qt::NoFocus);
    addWidget(matchCase);
    hint = new QLabel(this);
    hint->setObjectName("findHint");
    hint->setContentsMargins(8, 0, 8, 0);
    addWidget(hint);
    auto *spacer = new QWidget(this);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    addWidget(spacer);
    button(QStyle::SP_TitleBarCloseButton, "Close (Escape)", [this] { dismiss(); });

    window->addToolBar(Qt::BottomToolBarArea, this);
    hide();

    new QShortcut(QKeySequence::Find, window, this, &TFindBar::open);
    const auto again = [this](bool back) {
        if (isHidden())
            open();
        find(back);
    };
    new QShortcut(QKeySequence::FindNext, window, this, [again] { again(false); });
    new QShortcut(QKeySequence::FindPrevious, window, this, [again] { again(true); });

    // Clear empties the view: a search under way has nothing left to go through.
    knownBlocks = document->blockCount();
    connect(document, &QTextDocument::blockCountChanged, this, [this](int count) {
        if (count < knownBlocks && searching) {
            searching = false;
            ++generation;
            hint->clear();
        }
        knownBlocks = count;
    });
}

void TFindBar::open()
{
    show();
    field->setFocus(Qt::ShortcutFocusReason);
    field->selectAll();
}

void TFindBar::dismiss()
{
    hide();
    view->setFocus(Qt::OtherFocusReason);
}

bool TFindBar::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == field && e->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(e);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            find(key->modifiers().testFlag(Qt::ShiftModifier));
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            dismiss();
            return true;
        }
    }
    return QToolBar::eventFilter(watched, e);
}

void TFindBar::find(bool back)
{
    ++generation;
    searching = false;
    hint->clear();
    needle = field->text();
    if (needle.isEmpty())
        return;
    sensitivity = matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    backward = back;
    const QTextCursor cursor = view->textCursor();
    int from;
    if (!cursor.hasSelection()) {
        from = backward ? INT_MAX : 0;
    } else if (cursor.selectedText().compare(needle, sensitivity) == 0) {
        // A match already: the next one.
        from = backward ? cursor.selectionStart() : cursor.selectionEnd();
    } else {
        from = backward ? cursor.selectionEnd() : cursor.selectionStart();
    }
    const QTextBlock first = from == INT_MAX ? document->lastBlock() : document->findBlock(from);
    startBlock = first.blockNumber();
    startAt = from == INT_MAX ? INT_MAX : from - first.position();
    block = startBlock;
    wrapped = false;
    searching = true;
    searchSlice();
    if (searching)
        hint->setText("searching");
}

void TFindBar::searchSlice()
{
    QElapsedTimer spent;
    spent.start();
    QTextBlock b = document->findBlockByNumber(block);
    for (int checked = 1;; ++checked) {
        if (!b.isValid()) {
            // Past one end of the view: on from the other end, up to where it began. Lines
            // that arrived meanwhile are past the end, and searched before it wraps.
            if (wrapped)
                return finish(false, 0, -1);
            wrapped = true;
            b = backward ? document->lastBlock() : document->firstBlock();
            block = b.blockNumber();
        }
        if (wrapped && (backward ? block < startBlock : block > startBlock))
            return finish(false, 0, -1);
        // The block it began in is searched from where it began, and once more in whole
        // after the wrap: what lies on the other side of that point is found then.
        const QString text = b.text();
        const bool first = block == startBlock && !wrapped;
        int at;
        if (!backward)
            at = text.indexOf(needle, first ? startAt : 0, sensitivity);
        else if (first && startAt < text.size())
            at = startAt <= 0 ? -1 : text.lastIndexOf(needle, startAt - 1, sensitivity);
        else
            at = text.lastIndexOf(needle, -1, sensitivity);
        if (at >= 0)
            return finish(true, block, at);
        b = backward ? b.previous() : b.next();
        block += backward ? -1 : 1;
        if (checked % 64 == 0 && spent.elapsed() >= SliceMs) {
            QTimer::singleShot(0, this, [this, current = generation] {
                if (current == generation && searching)
                    searchSlice();
            });
            return;
        }
    }
}

void TFindBar::finish(bool found, int blockNumber, int index)
{
    searching = false;
    if (found) {
        const int position = document->findBlockByNumber(blockNumber).position() + index;
        QTextCursor cursor(document);
        cursor.setPosition(position);
        cursor.setPosition(position + int(needle.size()), QTextCursor::KeepAnchor);
        view->setTextCursor(cursor);
        view->ensureCursorVisible();
    }
    hint->setText(!found ? "not found" : wrapped ? "wrapped" : QString());
    emit searchEnded(found);
}
