#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Message boxes, callable from any thread. The GUI installs a handler that shows the box on the
// main thread; tests install scripted answers. Without a handler the text goes to stderr and the
// box's default button is the answer.
namespace vantrel::platform {

// Box types: buttons in the low four bits, the icon in the next four, the default button above.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbOkCancel = 0x1;
inline constexpr uint32_t kMbAbortRetryIgnore = 0x2;
inline constexpr uint32_t kMbYesNoCancel = 0x3;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbRetryCancel = 0x5;
inline constexpr uint32_t kMbIconStop = 0x10;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconExclamation = 0x30;
inline constexpr uint32_t kMbIconInformation = 0x40;
inline constexpr uint32_t kMbDefaultButton2 = 0x100;
inline constexpr uint32_t kMbDefaultButton3 = 0x200;

// The buttons a box returns.
inline constexpr int32_t kIdOk = 1;
inline constexpr int32_t kIdCancel = 2;
inline constexpr int32_t kIdAbort = 3;
inline constexpr int32_t kIdRetry = 4;
inline constexpr int32_t kIdIgnore = 5;
inline constexpr int32_t kIdYes = 6;
inline constexpr int32_t kIdNo = 7;

using MessageBoxHandler =
    std::function<int32_t(const std::string& text, const std::string& caption, uint32_t type)>;

// Installs the handler every box goes to and returns the one it replaces; an empty handler puts
// back the stderr default. The handler is called on the thread that asks, outside any lock.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Shows the box and returns the button chosen.
int32_t MessageBox(const std::string& text, const std::string& caption, uint32_t type);

// The button a box of that type answers when nobody chooses: its default button.
int32_t DefaultMessageBoxButton(uint32_t type);

}  // namespace vantrel::platform
