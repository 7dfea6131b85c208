#include "slots/recordingsummary.h"

#include <QTest>
#include <QVariantMap>

using Recordings = QList<RecordingSummary::Recording>;
Q_DECLARE_METATYPE(Recordings)

// The summary line's arithmetic: recordings grouped by drive, their rates added up.
class TestRecordingSummary : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void drives_data()
    {
        QTest::addColumn<Recordings>("recordings");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QList<qint64>>("seconds");
        const qint64 gb = 1000000000;
        QTest::addRow("none") << Recordings {} << QStringList {} << QList<qint64> {};
        // 100 GB at 10 MB/s lasts 10,000 s.
        QTest::addRow("one") << Recordings { { QStringLiteral("/srv"), 100 * gb, 10e6 } }
                             << QStringList { QStringLiteral("Drive /srv: 100 GB, 2 h 46 min left") }
                             << QList<qint64> { 10000 };
        // Two recordings on one drive share its space: twice the rate, half the time.
        QTest::addRow("two on one drive")
            << Recordings { { QStringLiteral("/srv"), 100 * gb, 10e6 }, { QStringLiteral("/srv"), 100 * gb, 10e6 } }
            << QStringList { QStringLiteral("Drive /srv: 100 GB, 1 h 23 min left") } << QList<qint64> { 5000 };
        QTest::addRow("two drives, in order")
            << Recordings { { QStringLiteral("/b"), 5 * gb / 2, 1e6 }, { QStringLiteral("/a"), 300 * gb, 1e6 } }
            << QStringList { QStringLiteral("Drive /a: 300 GB, 3 days left"),
                   QStringLiteral("Drive /b: 2.5 GB, 41 min left") }
            << QList<qint64> { 300000, 2500 };
        QTest::addRow("rate not known yet")
            << Recordings { { QStringLiteral("/srv"), 7 * gb, 0.0 } }
            << QStringList { QStringLiteral("Drive /srv: 7.0 GB") } << QList<qint64> { -1 };
    }

    void drives()
    {
        QFETCH(Recordings, recordings);
        QFETCH(QStringList, texts);
        QFETCH(QList<qint64>, seconds);
        QStringList actualTexts;
        QList<qint64> actualSeconds;
        for (const QVariant& drive : RecordingSummary::summarize(recordings)) {
            actualTexts << drive.toMap().value(QStringLiteral("text")).toString();
            actualSeconds << drive.toMap().value(QStringLiteral("secondsLeft")).toLongLong();
        }
        QCOMPARE(actualTexts, texts);
        QCOMPARE(actualSeconds, seconds);
    }
};

QTEST_APPLESS_MAIN(TestRecordingSummary)
#include "tst_recordingsummary.moc"
