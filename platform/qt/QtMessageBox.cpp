#include "platform/qt/QtMessageBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/Threads.h"
#include "platform/Ui.h"
#include "platform/Version.h"

namespace vantrel::platform {
namespace {

struct ButtonKind
{
    QMessageBox::StandardButton button;
    int32_t id;
};

// The buttons of each box type, in the order the default-button bits count them.
std::vector<ButtonKind> ButtonsOf(uint32_t type)
{
    switch (type & 0xF) {
        case kMbOkCancel:
            return {{QMessageBox::Ok, kIdOk}, {QMessageBox::Cancel, kIdCancel}};
        case kMbAbortRetryIgnore:
            return {{QMessageBox::Abort, kIdAbort},
                    {QMessageBox::Retry, kIdRetry},
                    {QMessageBox::Ignore, kIdIgnore}};
        case kMbYesNoCancel:
            return {{QMessageBox::Yes, kIdYes},
                    {QMessageBox::No, kIdNo},
                    {QMessageBox::Cancel, kIdCancel}};
        case kMbYesNo:
            return {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}};
        case kMbRetryCancel:
            return {{QMessageBox::Retry, kIdRetry}, {QMessageBox::Cancel, kIdCancel}};
        default:
            return {{QMessageBox::Ok, kIdOk}};
    }
}

QMessageBox::Icon IconOf(uint32_t type)
{
    switch (type & 0xF0) {
        case kMbIconStop:
            return QMessageBox::Critical;
        case kMbIconQuestion:
            return QMessageBox::Question;
        case kMbIconExclamation:
            return QMessageBox::Warning;
        case kMbIconInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

// A box whose Esc and close follow the box type: a box without Cancel (other than one of OK
// alone) cannot be dismissed without choosing a button.
class TypedMessageBox : public QMessageBox
{
public:
    TypedMessageBox(QWidget* parent, bool escape_allowed, bool raise)
        : QMessageBox(parent)
        , escape_allowed_(escape_allowed)
        , raise_(raise)
    {}

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (!escape_allowed_ && event->matches(QKeySequence::Cancel)) {
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent* event) override
    {
        if (!escape_allowed_) {
            event->ignore();
            return;
        }
        QMessageBox::closeEvent(event);
    }

    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event);
        if (raise_) {
            raise();
            activateWindow();
        }
    }

private:
    bool escape_allowed_;
    bool raise_;
};

// A box narrower than its caption shows the caption cut short in its title bar. Qt leaves the
// window manager's icon and buttons too little room beside it, so the box keeps a row as wide as
// the caption in a bold title font with room for them.
void MakeRoomForCaption(QMessageBox& box)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr) {
        return;
    }
    QFont title_font = box.font();
    title_font.setBold(true);
    const QFontMetrics metrics(title_font);
    const int wanted = metrics.horizontalAdvance(box.windowTitle()) + 6 * metrics.height();
    const int width = std::min(wanted, box.screen()->availableGeometry().width() / 2);
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

int32_t ShowOnGuiThread(const std::string& text, const std::string& caption, uint32_t type)
{
    const std::vector<ButtonKind> kinds = ButtonsOf(type);
    int32_t escape_id = 0;
    for (const ButtonKind& kind : kinds) {
        if (kind.id == kIdCancel) {
            escape_id = kIdCancel;
        }
    }
    if (kinds.size() == 1) {
        escape_id = kIdOk;
    }
    QWidget* parent = QApplication::activeModalWidget();
    if (parent == nullptr) {
        parent = QApplication::activeWindow();
    }
    TypedMessageBox box(parent, escape_id != 0, (type & kMbSetForeground) != 0);
    box.setWindowTitle(caption.empty() ? QString::fromLatin1(kApplicationTitle)
                                       : QString::fromStdString(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    box.setIcon(IconOf(type));
    MakeRoomForCaption(box);

    const int32_t default_id = DefaultMessageBoxButton(type);
    std::vector<std::pair<QAbstractButton*, int32_t>> buttons;
    QPushButton* default_button = nullptr;
    QPushButton* escape_button = nullptr;
    for (const ButtonKind& kind : kinds) {
        QPushButton* button = box.addButton(kind.button);
        buttons.emplace_back(button, kind.id);
        if (kind.id == default_id) {
            default_button = button;
        }
        if (kind.id == escape_id) {
            escape_button = button;
        }
    }
    // Both are set explicitly: left unset, Qt picks its own (the No of a Yes/No box answers Esc).
    box.setDefaultButton(default_button);
    box.setEscapeButton(escape_button != nullptr ? escape_button : default_button);
    QtMessageBoxAttachment::AttachTo(box);
    box.exec();

    for (const auto& [button, id] : buttons) {
        if (box.clickedButton() == button) {
            return id;
        }
    }
    return escape_id != 0 ? escape_id : default_id;
}

// The attachment waiting for the next box; GUI thread only.
QtMessageBoxAttachment* pending_attachment = nullptr;

}  // namespace

QtMessageBoxAttachment::QtMessageBoxAttachment(std::function<void(QMessageBox& box)> attach)
    : attach_(std::move(attach))
    , previous_(pending_attachment)
{
    pending_attachment = this;
}

QtMessageBoxAttachment::~QtMessageBoxAttachment()
{
    if (pending_attachment == this) {
        pending_attachment = previous_;
    }
}

void QtMessageBoxAttachment::AttachTo(QMessageBox& box)
{
    QtMessageBoxAttachment* attachment = pending_attachment;
    if (attachment == nullptr) {
        return;
    }
    // Taken before the call: a box the attachment itself opens gets nothing.
    pending_attachment = attachment->previous_;
    auto attach = std::move(attachment->attach_);
    if (attach) {
        attach(box);
    }
}

int32_t ShowQtMessageBox(const std::string& text, const std::string& caption, uint32_t type)
{
    int32_t result = DefaultMessageBoxButton(type);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return result;
    }
    if (IsMainThread()) {
        if (!SynchronizeShutdownBegun()) {
            result = ShowOnGuiThread(text, caption, type);
        }
        return result;
    }
    Synchronize([&] { result = ShowOnGuiThread(text, caption, type); });
    return result;
}

}  // namespace vantrel::platform
