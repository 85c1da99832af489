#include "app/OstrelU.h"

#include <QTest>

#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {
class TOstrelTest : public QObject
{
    Q_OBJECT
private slots:
    void Placeholder() {}
};
}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::TOstrelTest)
#include "OstrelU_test.moc"
