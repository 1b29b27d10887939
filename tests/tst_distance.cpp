#include "app/Distance.h"

#include <QTest>

class TestDistance : public QObject
{
    Q_OBJECT

private slots:
    void metres_data()
    {
        QTest::addColumn<int>("mm");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0 << "0.000m";
        QTest::newRow("one mm") << 1 << "0.001m";
        QTest::newRow("45 mm keeps the integer digit") << 45 << "0.045m";
        QTest::newRow("2750") << 2750 << "2.750m";
        QTest::newRow("9999") << 9999 << "9.999m";
        QTest::newRow("full slider") << 10000 << "10.000m";
    }
    void metres()
    {
        QFETCH(int, mm);
        QFETCH(QString, text);
        QCOMPARE(FormatDistance(mm, true), text);
    }

    void feetAndInches_data()
    {
        QTest::addColumn<int>("mm");
        QTest::addColumn<QString>("text");
        QTest::newRow("2750") << 2750 << "9' 0\"";
        QTest::newRow("1000") << 1000 << "3' 3\"";
        QTest::newRow("304 is one foot") << 304 << "1' 0\"";
        QTest::newRow("279 no feet part") << 279 << "11\"";
        QTest::newRow("100") << 100 << "4\"";
        QTest::newRow("13 rounds up to 1") << 13 << "1\"";
        QTest::newRow("12 rounds down to 0") << 12 << "0\"";
        QTest::newRow("zero") << 0 << "0\"";
        QTest::newRow("10 m") << 10000 << "32' 10\"";
    }
    void feetAndInches()
    {
        QFETCH(int, mm);
        QFETCH(QString, text);
        QCOMPARE(FormatDistance(mm, false), text);
    }
};

QTEST_MAIN(TestDistance)
#include "tst_distance.moc"
