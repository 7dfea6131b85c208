#include "remote/metricsexposition.h"

#include <QFile>
#include <QTest>

namespace
{

SlotSnapshot slot(uint id, const char* word, const QString& source = QStringLiteral("none"))
{
    SlotSnapshot s;
    s.id = id, s.stateWord = QLatin1String(word), s.connectedSource = source;
    return s;
}

const MetricsExposition::Process process { QStringLiteral("1.2.3"), 1700000000123, 3, 2, 1 };

} // namespace

// The exposition's lines for given slots: each named line exactly once, none starting as the others
// (written with ' for ", to stay readable).
class TestMetricsExposition : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lines_data()
    {
        QTest::addColumn<QList<SlotSnapshot>>("slotList");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");

        SlotSnapshot recording = slot(3, "recording", QStringLiteral("CAM (1)"));
        recording.busy = true, recording.elapsedMs = 1500, recording.wallMs = 2000, recording.totalFrames = 37,
        recording.droppedFrames = 2, recording.bytesWritten = 123456789, recording.droppingPercent = 12,
        recording.framesWrittenTotal = 90000, recording.droppedFramesTotal = 12, recording.delayedTotal = 7,
        recording.stallsTotal = 2, recording.recoveriesTotal = 1;
        QTest::addRow("a recording slot, its counters and the process")
            << QList<SlotSnapshot> { recording }
            << QStringList({ "stavelin_slot_state{slot='3',source='CAM (1)',state='recording'} 1",
                   "stavelin_slot_state{slot='3',source='CAM (1)',state='ready'} 0", "stavelin_slot_busy{slot='3'} 1",
                   "stavelin_slot_recorded_seconds{slot='3'} 1.5", "stavelin_slot_wall_seconds{slot='3'} 2",
                   "stavelin_slot_recording_frames_written{slot='3'} 37",
                   "stavelin_slot_recording_frames_dropped{slot='3'} 2",
                   "stavelin_slot_piece_written_bytes{slot='3'} 123456789", "stavelin_build_info{version='1.2.3'} 1",
                   "stavelin_start_time_seconds 1700000000.123", "stavelin_recording_programs 3",
                   "stavelin_control_clients{kind='tcp'} 2", "stavelin_control_clients{kind='events'} 1",
                   "stavelin_slot_dropping_ratio{slot='3'} 0.12", "stavelin_slot_frames_written_total{slot='3'} 90000",
                   "stavelin_slot_frames_dropped_total{slot='3'} 12", "stavelin_slot_delayed_reports_total{slot='3'} 7",
                   "stavelin_slot_stalls_total{slot='3'} 2", "stavelin_slot_recoveries_total{slot='3'} 1" })
            << QStringList({ "stavelin_slot_state{slot='3',source='CAM (1)',state='failed'} 1" });

        SlotSnapshot odd = slot(2, "no signal", QStringLiteral("HOST (Cam \"1\" \\ x)"));
        odd.displayName = QStringLiteral("two\nlines"), odd.signalLost = true, odd.tallyState = 2;
        QTest::addRow("quotes, backslashes and line feeds escaped")
            << QList<SlotSnapshot> { odd }
            << QStringList({ "stavelin_slot_info{slot='2',source='HOST (Cam \\'1\\' \\\\ x)',name='two\\nlines'} 1",
                   "stavelin_slot_signal_lost{slot='2'} 1", "stavelin_slot_tally{slot='2'} 2" })
            << QStringList {};

        // The time left comes from the slot that records there, not the first on the drive.
        QList<SlotSnapshot> shared { slot(1, "ready", "A"), slot(2, "recording", "B"), slot(3, "ready", "C"),
            slot(4, "empty") };
        shared[0].drive = shared[1].drive = QStringLiteral("/srv"), shared[2].drive = QStringLiteral("/mnt/b");
        shared[0].freeBytes = shared[1].freeBytes = shared[3].freeBytes = 4000000000000, shared[1].secondsLeft = 5400.5;
        shared[3].drive = QStringLiteral("/x");
        QTest::addRow("a shared drive once, unknown figures left out, an empty slot names none")
            << shared
            << QStringList({ "stavelin_slot_drive_info{slot='2',drive='/srv'} 1",
                   "stavelin_slot_drive_info{slot='3',drive='/mnt/b'} 1",
                   "stavelin_drive_free_bytes{drive='/srv'} 4000000000000",
                   "stavelin_drive_time_left_seconds{drive='/srv'} 5400.5",
                   "stavelin_slot_info{slot='4',source='',name=''} 1",
                   "stavelin_slot_state{slot='4',source='',state='empty'} 1" })
            << QStringList(
                   { "stavelin_drive_free_bytes{drive='/mnt/b'}", "stavelin_drive_time_left_seconds{drive='/mnt/b'}",
                       "stavelin_slot_drive_info{slot='4'", "stavelin_drive_free_bytes{drive='/x'}" });
    }
    void lines()
    {
        QFETCH(QList<SlotSnapshot>, slotList);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        const QString text = '\n' + QString::fromUtf8(MetricsExposition::text(slotList, process)).replace('"', '\'');
        for (const QString& line : present)
            QVERIFY2(text.count('\n' + line + '\n') == 1, qPrintable(line + " in" + text));
        for (const QString& start : absent)
            QVERIFY2(!text.contains('\n' + start), qPrintable(start));
    }

    // The README names every family the recorder writes.
    void everyFamilyDocumented()
    {
        QFile readme(QStringLiteral(TESTS_SOURCE_DIR "/../README.md"));
        const QString documented = readme.open(QIODevice::ReadOnly) ? QString::fromUtf8(readme.readAll()) : QString();
        const QStringList types
            = QString::fromUtf8(MetricsExposition::text({}, process)).split('\n').filter(QStringLiteral("# TYPE "));
        QCOMPARE(types.size(), 23);
        for (const QString& type : types)
            QVERIFY2(documented.contains('`' + type.section(' ', 2, 2) + '`'), qPrintable(type));
    }
};

QTEST_GUILESS_MAIN(TestMetricsExposition)
#include "tst_metricsexposition.moc"
