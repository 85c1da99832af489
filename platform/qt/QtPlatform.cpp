#include "platform/qt/QtPlatform.h"

#include "platform/qt/QtMessageBox.h"
#include "platform/qt/QtSynchronize.h"

namespace vantrel::platform {

QtPlatform::QtPlatform()
    : dispatcher_(std::make_unique<QtSynchronizeDispatcher>())
    , previous_handler_(SetMessageBoxHandler(ShowQtMessageBox))
{}

QtPlatform::~QtPlatform()
{
    SetMessageBoxHandler(std::move(previous_handler_));
}

}  // namespace vantrel::platform
