#include <QTest>

class Test_accuraterip : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() {}
};

QTEST_GUILESS_MAIN(Test_accuraterip)
#include "tst_accuraterip.moc"
