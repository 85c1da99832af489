#include "dialogs/TimeoutMessageBoxU.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include "platform/Threads.h"
#include "platform/Ui.h"
#include "platform/qt/QtMessageBox.h"

namespace vantrel {

TMessageTimeout::TMessageTimeout(QMessageBox& box, int32_t seconds, std::chrono::milliseconds tick)
    : QObject(&box)
    , seconds_(seconds)
{
    button_ = box.defaultButton();
    if (button_ == nullptr && !box.buttons().isEmpty()) {
        button_ = qobject_cast<QPushButton*>(box.buttons().first());
    }
    if (button_ == nullptr) {
        return;
    }
    first_text_ = button_->text();
    timer_.setInterval(tick);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start();
}

void TMessageTimeout::Tick()
{
    if (button_ == nullptr) {
        timer_.stop();
        return;
    }
    --seconds_;
    button_->setText(QStringLiteral("%1 [%2]").arg(first_text_).arg(seconds_));
    emit Ticked(seconds_);
    if (seconds_ > 0) {
        return;
    }
    timer_.stop();
    button_->click();
}

int32_t ShowTimedMessageBox(const std::string& text,
                            const std::string& caption,
                            int32_t seconds,
                            uint32_t type,
                            std::chrono::milliseconds tick)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (seconds <= 0 || app == nullptr) {
        return platform::MessageBox(text, caption, type);
    }
    if (!platform::IsMainThread()) {
        int32_t result = platform::DefaultMessageBoxButton(type);
        platform::Synchronize(
            [&] { result = ShowTimedMessageBox(text, caption, seconds, type, tick); });
        return result;
    }
    // The box is built by the platform's message boxes; the count-down hangs on that one box.
    platform::QtMessageBoxAttachment count_down(
        [seconds, tick](QMessageBox& box) { new TMessageTimeout(box, seconds, tick); });
    return platform::MessageBox(text, caption, type);
}

}  // namespace vantrel
