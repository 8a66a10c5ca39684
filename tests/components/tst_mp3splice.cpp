#include <QTest>

class Test_mp3splice : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() {}
};

QTEST_GUILESS_MAIN(Test_mp3splice)
#include "tst_mp3splice.moc"
