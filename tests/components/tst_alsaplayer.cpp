#include <QTest>

class TestAlsaPlayer : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(TestAlsaPlayer)
#include "tst_alsaplayer.moc"
