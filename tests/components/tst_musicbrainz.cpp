#include <QTest>

class Test_musicbrainz : public QObject
{
    Q_OBJECT

private slots:
    void placeholder() {}
};

QTEST_GUILESS_MAIN(Test_musicbrainz)
#include "tst_musicbrainz.moc"
