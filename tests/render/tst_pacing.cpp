#include "render/mixerrenderer.h"

#include <QTest>

// Which frames upload: every second one at the display rate, every one when the last ten frames
// averaged more than 31 ms, and at once after a frame later than 24 ms.
class TestPacing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void uploadFrames_data()
    {
        QTest::addColumn<QList<int>>("deltas"); // milliseconds since the previous frame
        QTest::addColumn<QString>("uploads"); // one letter per frame: U uploads, . does not

        // The ring starts at 42 ms per frame, so the first frames upload until fast frames pull
        // the average below 31 ms (after three frames of 16 ms: (7 x 42 + 3 x 16) / 10 = 34.2,
        // after four: 31.6, after five: 29.0).
        QTest::addRow("start-up, then every second frame at 60 Hz")
            << QList<int> { 16, 16, 16, 16, 16, 16, 16, 16, 16, 16 } << QStringLiteral("UUUU.U.U.U");
        QTest::addRow("first frame without a previous one counts 0 ms")
            << QList<int> { 0, 0, 0, 0, 0, 0, 0 } << QStringLiteral("UU.U.U.");
        QTest::addRow("a late frame that would not upload uploads at once")
            << QList<int> { 16, 16, 16, 16, 16, 16, 30, 16, 16, 16 } << QStringLiteral("UUUU.UU.U.");
        QTest::addRow("a late frame that uploads anyway changes nothing")
            << QList<int> { 16, 16, 16, 16, 16, 16, 16, 30, 16, 16 } << QStringLiteral("UUUU.U.U.U");
        QTest::addRow("25 ms is late") << QList<int> { 20, 20, 20, 20, 20, 20, 25, 20, 20, 20 }
                                       << QStringLiteral("UUUU.UU.U.");
        QTest::addRow("exactly 24 ms is not late")
            << QList<int> { 20, 20, 20, 20, 20, 20, 24, 20, 20, 20 } << QStringLiteral("UUUU.U.U.U");
        QTest::addRow("slow frames upload every time")
            << QList<int> { 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40 } << QStringLiteral("UUUUUUUUUUUU");
        // An average of exactly 31 ms is neither above 31 (full rate) nor below it (late frames
        // forcing an upload): every second frame.
        QTest::addRow("31 ms frames") << QList<int> { 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31 }
                                      << QStringLiteral("UUUUUUUUUU.U.");
    }

    void uploadFrames()
    {
        QFETCH(QList<int>, deltas);
        QFETCH(QString, uploads);
        QCOMPARE(deltas.size(), uploads.size());
        MixerRenderer::Pacing pacing;
        QString actual;
        for (int delta : deltas)
            actual += pacing.frame(delta) ? QLatin1Char('U') : QLatin1Char('.');
        QCOMPARE(actual, uploads);
    }
};

QTEST_APPLESS_MAIN(TestPacing)
#include "tst_pacing.moc"
