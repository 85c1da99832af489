#include "dialogs/DebugOutput.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <mutex>

#include "foundation/QelStringFunctions.h"

namespace vantrel {
namespace {

// Guards the debug window's existence and its waiting text, so a report from another thread
// never reaches a window being destroyed.
std::mutex& UnitLock()
{
    static std::mutex lock;
    return lock;
}

TDebugOutputForm* the_window = nullptr;  // Guarded by UnitLock().

}  // namespace

TDebugOutputForm::TDebugOutputForm(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("DebugOutputForm"));
    setWindowTitle(QStringLiteral("Debug Output"));
    resize(347, 214);

    MemoNotes = new QPlainTextEdit(this);
    MemoNotes->setObjectName(QStringLiteral("MemoNotes"));
    MemoNotes->setReadOnly(true);
    MemoNotes->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoNotes->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoNotes->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MemoNotes);

    UpdateTimer = new QTimer(this);
    UpdateTimer->setObjectName(QStringLiteral("UpdateTimer"));
    UpdateTimer->setInterval(1000);
    connect(UpdateTimer, &QTimer::timeout, this, [this] { ShowPending(); });
    UpdateTimer->start();

    std::lock_guard<std::mutex> guard(UnitLock());
    the_window = this;
}

TDebugOutputForm::~TDebugOutputForm()
{
    std::lock_guard<std::mutex> guard(UnitLock());
    if (the_window == this) {
        the_window = nullptr;
    }
}

void TDebugOutputForm::Report(const std::string& text)
{
    std::lock_guard<std::mutex> guard(UnitLock());
    if (the_window != nullptr) {
        the_window->pending_ = JoinWithSeparator(the_window->pending_, "\r\n", text);
    }
}

void TDebugOutputForm::ReportImmediate(const std::string& text)
{
    Report(text);
    TDebugOutputForm* window = nullptr;
    {
        std::lock_guard<std::mutex> guard(UnitLock());
        window = the_window;
    }
    if (window != nullptr) {
        window->ShowPending();
        window->repaint();
    }
}

void TDebugOutputForm::ShowPending()
{
    std::string pending;
    {
        std::lock_guard<std::mutex> guard(UnitLock());
        if (pending_.empty()) {
            return;
        }
        pending.swap(pending_);
    }
    QString lines = QString::fromStdString(pending);
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    // Joined as the waiting text is: a line break only where the memo does not end with one.
    const QTextDocument* document = MemoNotes->document();
    const int last = document->characterCount() - 2;
    if (last >= 0 && document->characterAt(last) != QChar::ParagraphSeparator) {
        lines.prepend(QLatin1Char('\n'));
    }
    MemoNotes->moveCursor(QTextCursor::End);
    MemoNotes->insertPlainText(lines);
    if (isHidden()) {
        show();
    }
    MemoNotes->ensureCursorVisible();
}

}  // namespace vantrel
