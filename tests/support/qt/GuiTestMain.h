#pragma once

#include <QApplication>
#include <QTest>
#include <memory>

#include "platform/qt/QtPlatform.h"

// The main of a Qt Test program of the windows. Use VANTREL_QTEST_MAIN(TestClass) in place of
// QTEST_MAIN.
namespace vantrel::testing {

// Before the QApplication: points XDG_CONFIG_HOME and XDG_RUNTIME_DIR at private folders of a
// temporary folder that goes with the process, so no test reads or writes the user's settings,
// and runs offscreen unless QT_QPA_PLATFORM says otherwise.
void PrepareGuiTestProcess();

// After the QApplication: the Fusion style, the program's name, the Qt platform layer
// (synchronised calls served by the event loop, real message boxes until a test fakes them).
class GuiTestSession
{
public:
    GuiTestSession();
    ~GuiTestSession();
    GuiTestSession(const GuiTestSession&) = delete;
    GuiTestSession& operator=(const GuiTestSession&) = delete;

private:
    std::unique_ptr<platform::QtPlatform> platform_;
};

}  // namespace vantrel::testing

#define VANTREL_QTEST_MAIN(TestObject)                 \
    int main(int argc, char** argv)                    \
    {                                                  \
        vantrel::testing::PrepareGuiTestProcess();     \
        QApplication app(argc, argv);                  \
        vantrel::testing::GuiTestSession session;      \
        TestObject test_object;                        \
        QTEST_SET_MAIN_SOURCE_PATH                     \
        return QTest::qExec(&test_object, argc, argv); \
    }
