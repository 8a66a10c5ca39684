#include <QTest>

class Test_vorbissplice : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() {}
};

QTEST_GUILESS_MAIN(Test_vorbissplice)
#include "tst_vorbissplice.moc"
