#include <QTest>

class Test_flactags : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() {}
};

QTEST_GUILESS_MAIN(Test_flactags)
#include "tst_flactags.moc"
