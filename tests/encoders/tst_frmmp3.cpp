#include <QTest>

// Placeholder until the tests land.
class Placeholder : public QObject
{
    Q_OBJECT

private slots:
    void nothingYet() { QSKIP("being written"); }
};

QTEST_MAIN(Placeholder)
#include "tst_frmmp3.moc"
