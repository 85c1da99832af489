#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <string>

class QMessageBox;
class QPushButton;

// The message box that closes by itself: the completion messages of a publish.
namespace vantrel {

// How long one second of the count-down lasts; tests make it shorter.
inline constexpr std::chrono::milliseconds kMessageTimeoutTick{1000};

// Counts a box's remaining seconds down on its default button and then clicks that button. The
// button keeps its own text during the first tick and then shows it followed by " [n]", n
// counting from seconds - 1 down to 0; at 0 the button is clicked, so the box answers as its
// default button would. It lives as a child of its box on the GUI thread, so it touches no other
// box, and it goes with the box when the user answers first.
class TMessageTimeout : public QObject
{
    Q_OBJECT

public:
    TMessageTimeout(QMessageBox& box, int32_t seconds, std::chrono::milliseconds tick);

signals:
    // Each tick, once the button shows the seconds left and before it is clicked at 0.
    void Ticked(int32_t seconds_left);

private:
    void Tick();

    QPointer<QPushButton> button_;
    QString first_text_;
    int32_t seconds_;
    QTimer timer_;
};

// Shows a message box of the platform's box types (text, caption, buttons, icon and default as
// platform::MessageBox) and returns the button chosen (kIdOk, kIdYes, ...). With seconds greater
// than 0 the box closes by itself after that many ticks through its default button; with 0 or
// less it is a plain box. Boxes answered by a test's fake answer at once and count nothing
// down. Callable from any thread: the box is shown on the GUI thread while the caller waits.
int32_t ShowTimedMessageBox(const std::string& text,
                            const std::string& caption,
                            int32_t seconds,
                            uint32_t type,
                            std::chrono::milliseconds tick = kMessageTimeoutTick);

}  // namespace vantrel
