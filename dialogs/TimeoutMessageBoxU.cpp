// STAND-IN: replaced by the real unit at merge.
#include "dialogs/TimeoutMessageBoxU.h"

#include "platform/Ui.h"

namespace vantrel {
int ShowTimedMessageBox(QWidget*, const QString& text, const QString& caption, int, uint32_t type)
{
    return platform::MessageBox(text.toStdString(), caption.toStdString(), type);
}
}  // namespace vantrel
