#include "slots/recordingsummary.h"
#include "slots/slotlistmodel.h"
#include "tests/slots/slottestsupport.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <limits>
#include <tuple>

// The slot, the slot list the grid reads, and the summary of their recordings by drive.
class TestSlot : public QObject
{
    Q_OBJECT
    SourcesModel m_sources;
    QString a, b;

    static QString key(int number, const char* name) { return QStringLiteral("slots/%1/%2").arg(number + 1).arg(name); }
    static int nextNumber() { return Slot().index0() + 1; } // the counter is process-wide
    static bool writesTo(Slot& s, const QString& folder)
    {
        return s.currentFolder() == folder && SlotTest::arguments(s).value(3).startsWith(folder + '/');
    }

private Q_SLOTS:
    void initTestCase()
    {
        SlotTest::setUp(m_sources);
        std::tie(a, b) = std::pair { SettingsModel::instance()->location(), SettingsModel::instance()->locationB() };
    }

    // What a slot writes under its number is what a slot of that number reads back at construction,
    // whatever size a run with fewer slots stored; its source is bound again, and armed unless only viewed.
    void persistence()
    {
        const QVariantMap values { { "displayName", "Stage left" }, { "showLevels", false },
            { "customLocationEnabled", true }, { "locationBSelected", true }, { "customLocation", b },
            { "customLocationB", a }, { "viewingOnly", true }, { "audioGain", -3.5 }, { "recordPreview", true },
            { "isFullRes", true } };
        const auto texts = [&values](const std::function<QVariant(const QString&)>& get) {
            QVariantMap map;
            for (const QString& name : values.keys())
                map.insert(name, get(name).toString());
            return map;
        };
        const QVariantMap expected = texts([&](const QString& name) { return values.value(name); });
        QSettings().clear();
        int number = 0;
        {
            Slot slot;
            number = slot.index0();
            QCOMPARE(slot.name(), QStringLiteral("Slot %1").arg(number));
            for (auto it = values.cbegin(); it != values.cend(); ++it)
                QVERIFY(slot.setProperty(qPrintable(it.key()), it.value()));
        }
        QCOMPARE(
            texts([&](const QString& name) { return QSettings().value(key(number, qPrintable(name))); }), expected);
        QCOMPARE(QSettings().value(QStringLiteral("slots/size")).toInt(), number + 1);
        QSettings().setValue(QStringLiteral("slots/size"), 500); // a lower number never shrinks it
        Slot().setViewingOnly(true);
        QCOMPARE(QSettings().value(QStringLiteral("slots/size")).toInt(), 500);
        for (int size : { 3, 0 }) {
            QSettings().clear();
            const int next = nextNumber();
            for (auto it = values.cbegin(); it != values.cend(); ++it)
                QSettings().setValue(key(next, qPrintable(it.key())), it.value());
            QSettings().setValue(QStringLiteral("slots/size"), size);
            QSettings().setValue(key(next, "source"), "B");
            Slot slot;
            QCOMPARE(texts([&](const QString& name) { return slot.property(qPrintable(name)); }), expected);
            QVERIFY(slot.connectedSource() == "B" && slot.activeReceiver() && !slot.recorder()->currentProcess());
        }
        QSettings().setValue(key(nextNumber(), "locationBSelected"), true); // B means nothing without A/B
        SettingsModel::instance()->setAbRecording(false);
        QVERIFY(!Slot().locationBSelected());
        SettingsModel::instance()->setAbRecording(true);
        QSettings().clear();
        QSettings().setValue(key(nextNumber(), "source"), "B");
        Slot armed; // for a start without delay
        QCOMPARE(SlotTest::arguments(armed).value(1), QStringLiteral("B"));
    }

    // Raw level, the reference (-20 or EBU -14 dB) and the slot's gain, 1.4 per dB, truncated, clamped.
    void levels()
    {
        const int most = std::numeric_limits<int>::max(), least = std::numeric_limits<int>::min();
        for (const auto& [raw, standard, gain, shown] :
            { std::tuple { 50, -20.0f, 0.0f, 51 }, { 50, -14.0f, 0.0f, 59 }, { -100, -20.0f, 0.0f, 0 },
                { 90, -20.0f, -60.0f, 7 }, { 60, -20.0f, 20.0f, 89 }, { 74, -20.0f, 20.0f, 100 },
                { 50, -20.0f, 0.5f, 51 }, { most, -14.0f, 20.0f, 100 }, { least, -20.0f, -60.0f, 0 } }) {
            Slot slot;
            Slot::setStandardGain(standard);
            slot.setAudioGain(gain);
            slot.vuUpdated(raw, -100);
            QCOMPARE(QList<int>({ slot.leftLevel(), slot.rightLevel() }), QList<int>({ shown, 0 }));
        }
        Slot slot; // a gain that is no number is refused
        QSignalSpy spy(&slot, &Slot::audioGainChanged);
        for (float gain : { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), -6.0f })
            slot.setAudioGain(gain);
        QVERIFY(spy.count() == 1 && slot.audioGain() == -6.0f);
        Slot::setStandardGain(-20.0f);
    }

    void formatText()
    {
        for (const auto& [width, rate, text] :
            { std::tuple { 1920, 25.0, "1920x1080 25p" }, { 1920, 30000.0 / 1001, "1920x1080 29.97p" },
                { 1920, 60000.0 / 1001, "1920x1080 59.94p" }, { 1920, 0.0, "1920x1080" }, { 0, 25.0, "" } })
            QCOMPARE(SlotPicture::formatText(width, width ? 1080 : 0, rate), QString::fromLatin1(text));
        // The cell's label: the recorded format first; a preview's own size is marked as such.
        for (const auto& [recorded, received, fullRes, label] :
            { std::tuple { "1920x1080 25p", "640x360 25p", false, "1920x1080 25p" },
                { "", "640x360 25p", false, "640x360 25p preview" }, { "", "1920x1080 25p", true, "1920x1080 25p" },
                { "", "", false, "" } })
            QCOMPARE(RecordingRules::formatLabel(QLatin1String(recorded), QLatin1String(received), fullRes),
                QLatin1String(label));
        for (const auto& [gain, text] :
            { std::pair { 0.0f, "" }, { -0.04f, "" }, { 3.0f, "Gain +3.0 dB" }, { -6.5f, "Gain -6.5 dB" } })
            QCOMPARE(RecordingRules::gainText(gain), QLatin1String(text));
    }

    // Reports the capture thread queued just before the receiver stopped never arrive.
    void staleReportsOfALeftBindingDropped()
    {
        Slot slot;
        slot.connectSource(QStringLiteral("A"));
        slot.vuUpdated(60, 60);
        Q_EMIT slot.activeReceiver()->tallyUpdated(2);
        QCOMPARE(slot.disconnectSource(), QStringLiteral("success"));
        QCoreApplication::processEvents();
        QCOMPARE(QList<int>({ slot.leftLevel(), slot.tallyState() }), QList<int>({ 0, 0 }));
        QVERIFY(slot.connectedSource() == "none" && !slot.activeReceiver() && !slot.recorder()->currentProcess());
    }

    // Picked from the list, typed (which wins), the bound one again, nothing (re-arms), a stale index.
    void acceptClicked()
    {
        for (const auto& [before, picked, typed, source, newProcess] :
            { std::tuple { "", 1, "", "B", true }, { "", 0, "B", "B", true }, { "A", -1, "A", "A", false },
                { "A", -1, "", "A", true }, { "A", 7, "", "A", false } }) {
            Slot slot;
            if (*before)
                slot.connectSource(QString::fromLatin1(before));
            const QProcess* process = slot.recorder()->currentProcess();
            slot.setSelectedInd(picked);
            slot.enteredSource(QString::fromLatin1(typed));
            slot.acceptClicked();
            QCOMPARE(SlotTest::arguments(slot).value(1), QString::fromLatin1(source));
            QVERIFY(slot.connectedSource() == source && (slot.recorder()->currentProcess() != process) == newProcess);
        }
    }

    // A or B, and a new global folder: an armed process is replaced by one writing there; a slot with
    // folders of its own, an unbound one and a viewing-only one start nothing; B means nothing with A/B off.
    void locationChoice()
    {
        Slot slot, custom, unbound, viewing;
        slot.connectSource(QStringLiteral("A"));
        custom.setCustomLocationEnabled(true);
        custom.connectSource(QStringLiteral("B"));
        viewing.setViewingOnly(true);
        viewing.connectSource(QStringLiteral("B"));
        const QProcess* customProcess = custom.recorder()->currentProcess();
        QVERIFY(writesTo(slot, a));
        for (Slot* s : { &slot, &unbound, &viewing })
            s->setLocationBSelected(true);
        QVERIFY(writesTo(slot, b));
        slot.setAbRecording(false);
        slot.setLocationBSelected(true);
        QVERIFY(writesTo(slot, a));
        const QString elsewhere = TestEnv::makeFolder(QStringLiteral("elsewhere"));
        SettingsModel::instance()->setLocation(elsewhere);
        QVERIFY(writesTo(slot, elsewhere) && custom.recorder()->currentProcess() == customProcess);
        QVERIFY(!unbound.recorder()->currentProcess() && !viewing.recorder()->currentProcess());
        SettingsModel::instance()->setLocation(a);
    }

    void fullResolutionReplacesTheReceiver()
    {
        Slot slot;
        slot.setViewingOnly(true);
        slot.connectSource(QStringLiteral("A"));
        const std::shared_ptr<Receiver> first = slot.activeReceiver();
        slot.setIsFullRes(true);
        QVERIFY(slot.activeReceiver() && slot.activeReceiver() != first);
        QTRY_VERIFY(slot.activeReceiver()->videoFrame().data); // bound to the same source again
    }

    // Numbers count up process-wide, so a shape is seen relative to its first slot: the two extra
    // slots come first, the grid counts on without gaps, at most 16 slots in all.
    void gridShapes()
    {
        for (const auto& [width, height, extra, last] :
            { std::tuple { 3, 3, 0, 9 }, { 4, 2, 2, 10 }, { 5, 3, 2, 16 } }) {
            SlotListModel model;
            QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
            model.createSlots(width, height, extra);
            QList<int> all, expected;
            for (Slot* slot : model.allSlots())
                all << slot->index0() - model.allSlots().first()->index0() + 1;
            for (int n = 1; n <= last; ++n)
                expected << n;
            QVERIFY(all == expected && model.toList() == model.allSlots().mid(extra));
            QCOMPARE(
                model.extra1() == model.allSlots().first() && model.extra2() == model.allSlots().value(1), extra > 0);
        }
    }

    // The grid reads each row's slot as `qtObject` and its properties as roles; a slot's change
    // changes its own row's role alone.
    void rolesFollowTheSlots()
    {
        SlotListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.createSlots(3, 1, 0);
        const int object = model.roleNames().key("qtObject"), name = model.roleNames().key("displayName");
        const QModelIndex row = model.index(1);
        QVERIFY(object != name && row.data(object).value<QObject*>() == model.at(1));
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.at(1)->setDisplayName(QStringLiteral("Stage"));
        QCOMPARE(row.data(name), QStringLiteral("Stage"));
        QCOMPARE(changed.size(), 1);
        QVERIFY(changed[0][0].toModelIndex() == row && changed[0][1].toModelIndex() == row);
        QCOMPARE(changed[0][2].value<QList<int>>(), QList<int> { name });
    }

    // The summary line's arithmetic: recordings grouped by drive, their rates added up.
    void summaryByDrive()
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

QTEST_GUILESS_MAIN(TestSlot)
#include "tst_slot.moc"
