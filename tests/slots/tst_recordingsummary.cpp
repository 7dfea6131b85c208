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
};

QTEST_APPLESS_MAIN(TestRecordingSummary)
#include "tst_recordingsummary.moc"
