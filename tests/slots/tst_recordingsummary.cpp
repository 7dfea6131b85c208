#include "slots/recordingsummary.h"

#include <QTest>
#include <QVariantMap>

// The summary line's arithmetic: recordings grouped by drive, their rates added up.
class TestRecordingSummary : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void drives()
    {
        using Recordings = QList<RecordingSummary::Recording>;
        const qint64 gb = 1000000000;
        const struct {
            Recordings recordings;
            QStringList texts;
            QList<qint64> seconds;
        } rows[] = {
            { {}, {}, {} },
            // 100 GB at 10 MB/s lasts 10,000 s; two recordings on one drive share its space.
            { { { "/srv", 100 * gb, 10e6 } }, { "Drive /srv: 100 GB, 2 h 46 min left" }, { 10000 } },
            { { { "/srv", 100 * gb, 10e6 }, { "/srv", 100 * gb, 10e6 } }, { "Drive /srv: 100 GB, 1 h 23 min left" },
                { 5000 } },
            { { { "/b", 5 * gb / 2, 1e6 }, { "/a", 300 * gb, 1e6 } },
                { "Drive /a: 300 GB, 3 days left", "Drive /b: 2.5 GB, 41 min left" }, { 300000, 2500 } },
            { { { "/srv", 7 * gb, 0.0 } }, { "Drive /srv: 7.0 GB" }, { -1 } }, // rate not known yet
            { { { "/srv", 7 * gb, 1e6, nullptr, false }, { "/srv", 7 * gb, 1e6 } },
                { "Drive /srv: 7.0 GB, estimating time left" }, { -1 } },
        };
        for (const auto& [recordings, texts, seconds] : rows) {
            QStringList actualTexts;
            QList<qint64> actualSeconds;
            for (const QVariant& drive : RecordingSummary::summarize(recordings)) {
                actualTexts << drive.toMap().value(QStringLiteral("text")).toString();
                actualSeconds << drive.toMap().value(QStringLiteral("secondsLeft")).toLongLong();
            }
            QCOMPARE(actualTexts, texts);
            QCOMPARE(actualSeconds, seconds);
        }
    }

    // The rate over the last minute of looks, trusted after twenty seconds; a new piece continues it.
    void rateSettles()
    {
        const struct {
            const char* tag;
            QList<std::pair<qint64, qint64>> looks; // ms, piece size
            double rate;
            bool settled;
        } rows[] = {
            { "one look", { { 0, 0 } }, 0.0, false },
            { "bursts, early", { { 0, 0 }, { 2000, 4000 }, { 4000, 4000 } }, 1000.0, false },
            { "twenty seconds", { { 0, 0 }, { 20000, 20000 } }, 1000.0, true },
            { "a minute back only", { { 0, 0 }, { 10000, 90000 }, { 70000, 150000 }, { 80000, 160000 } }, 1000.0,
                true },
            { "new piece", { { 0, 0 }, { 20000, 20000 }, { 30000, 10000 } }, 1000.0, true },
        };
        for (const auto& row : rows) {
            RateWindow window;
            for (const auto& [at, bytes] : row.looks)
                window.add(at, bytes);
            QCOMPARE(window.bytesPerSecond(), row.rate);
            QVERIFY2(window.settled() == row.settled, row.tag);
        }
    }
};

QTEST_APPLESS_MAIN(TestRecordingSummary)
#include "tst_recordingsummary.moc"
