#include <QTest>

class Test_albuminfo : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() {}
};

QTEST_GUILESS_MAIN(Test_albuminfo)
#include "tst_albuminfo.moc"
