#include <QTest>
class TestEndToEndKeys : public QObject
{
    Q_OBJECT
};
QTEST_MAIN(TestEndToEndKeys)
#include "tst_e2e_keys.moc"
