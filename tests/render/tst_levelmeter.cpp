#include "render/levelmeter.h"

#include <QTest>

using Levels = QList<std::pair<qint64, int>>; // at ms, left level

// The meter's decisions against a clock the test moves: held peaks, the clip light, the marks.
class TestLevelMeter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void peakAndClip_data()
    {
        QTest::addColumn<Levels>("levels");
        QTest::addColumn<qint64>("lookAt");
        QTest::addColumn<int>("peak");
        QTest::addColumn<bool>("clipped");
        QTest::addRow("peak held") << Levels { { 0, 60 }, { 100, 20 } } << qint64(1000) << 60 << false;
        QTest::addRow("peak falls after 1.5 s") << Levels { { 0, 60 }, { 100, 20 } } << qint64(1500) << 20 << false;
        QTest::addRow("higher level takes over") << Levels { { 0, 40 }, { 100, 50 } } << qint64(200) << 50 << false;
        QTest::addRow("just below full scale") << Levels { { 0, 74 } } << qint64(0) << 74 << false;
        QTest::addRow("clip lit") << Levels { { 0, 75 }, { 100, 10 } } << qint64(2999) << 10 << true;
        QTest::addRow("clip out after 3 s") << Levels { { 0, 75 }, { 100, 10 } } << qint64(3000) << 10 << false;
    }
    void peakAndClip()
    {
        QFETCH(Levels, levels);
        QFETCH(qint64, lookAt);
        qint64 now = 0;
        LevelMeter meter([&now] { return now; });
        for (const auto& [at, level] : levels)
            now = at, meter.setLeftLevel(level);
        now = lookAt;
        meter.refresh();
        QTEST(meter.leftPeak(), "peak");
        QTEST(meter.clipped(), "clipped");
        QCOMPARE(meter.rightPeak(), 0);
    }

    // Marks sit at their dBFS height; a short meter drops labels rather than let them touch.
    void marks_data()
    {
        QTest::addColumn<double>("height");
        QTest::addColumn<QStringList>("labels");
        QTest::addRow("tall") << 400.0 << QStringList { "+12", "+6", "0", "-6", "-12", "-20", "-30", "-40", "-50" };
        QTest::addRow("short") << 120.0 << QStringList { "+12", "0", "-12", "-20", "-30", "-40", "-50" };
    }
    void marks()
    {
        QFETCH(double, height);
        QStringList labels;
        double zero = -1;
        for (const QVariant& mark : LevelMeter().marks(height, 12.0)) {
            labels << mark.toMap().value(QStringLiteral("label")).toString();
            if (labels.last() == QStringLiteral("0"))
                zero = mark.toMap().value(QStringLiteral("fraction")).toDouble();
        }
        QTEST(labels, "labels");
        QCOMPARE(zero, LevelMeter::fullScaleFraction());
    }
};

QTEST_GUILESS_MAIN(TestLevelMeter)
#include "tst_levelmeter.moc"
