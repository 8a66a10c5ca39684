#include <QTest>

class Test_readoffset : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() {}
};

QTEST_GUILESS_MAIN(Test_readoffset)
#include "tst_readoffset.moc"
