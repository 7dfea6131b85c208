#include "tests/slots/slottestsupport.h"

#include <QSignalSpy>
#include <QTest>

#include <limits>

class TestSlot : public QObject
{
    Q_OBJECT
    SourcesModel m_sources;
    QString a, b;

    static QString key(int number, const char* name) { return QStringLiteral("slots/%1/%2").arg(number + 1).arg(name); }
    static int nextNumber() { return Slot().index0() + 1; } // the counter is process-wide
    static QStringList folders(Slot& slot) { return { slot.currentFolder(), SlotTest::arguments(slot).value(3) }; }

private Q_SLOTS:
    void initTestCase()
    {
        SlotTest::setUp(m_sources);
        a = SettingsModel::instance()->location();
        b = SettingsModel::instance()->locationB();
    }

    // Must stay the first test: it sees the first slot of the process.
    void numberingAndNames()
    {
        Slot first, second;
        QCOMPARE(QList<int>({ first.index0(), second.index0() }), QList<int>({ 1, 2 }));
        QCOMPARE(second.name(), QStringLiteral("Slot 2"));
    }

    void persistenceWritesTheEntryOfItsNumber()
    {
        QSettings().clear();
        int number = 0;
        {
            Slot slot;
            number = slot.index0();
            slot.setViewingOnly(true);
            slot.setDisplayName(QStringLiteral("Stage left"));
            slot.setShowLevels(false);
            slot.setCustomLocationEnabled(true);
            slot.setCustomLocation(b);
            slot.setCustomLocationB(a);
            slot.setAudioGain(-3.5f);
            slot.setRecordPreview(true);
            slot.setLocationBSelected(true);
        }
        QSettings settings;
        const QVariantMap expected { { "source", "none" }, { "displayName", "Stage left" }, { "showLevels", false },
            { "customLocationEnabled", true }, { "locationBSelected", true }, { "customLocation", b },
            { "customLocationB", a }, { "viewingOnly", true }, { "audioGain", -3.5 }, { "recordPreview", true },
            { "isFullRes", false } };
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QCOMPARE(settings.value(key(number, qPrintable(it.key()))).toString(), it.value().toString());
        QCOMPARE(settings.value(QStringLiteral("slots/size")).toInt(), number + 1);
    }

    void persistenceReadsAtConstruction_data()
    {
        QTest::addColumn<int>("storedSize");
        QTest::addColumn<bool>("viewingOnly");
        QTest::addRow("size as written") << -1 << false;
        QTest::addRow("size of a run with fewer slots, viewing only") << 3 << true;
        QTest::addRow("no size at all") << 0 << false;
    }
    void persistenceReadsAtConstruction()
    {
        QFETCH(int, storedSize);
        QFETCH(bool, viewingOnly);
        QSettings().clear();
        const int number = nextNumber();
        {
            QSettings settings;
            if (storedSize)
                settings.setValue(QStringLiteral("slots/size"), storedSize < 0 ? number + 1 : storedSize);
            for (const auto& [name, value] : { std::pair<const char*, QVariant> { "source", "B" }, { "displayName", "Kept" },
                     { "showLevels", false }, { "viewingOnly", viewingOnly }, { "audioGain", -7.25 },
                     { "recordPreview", true }, { "customLocation", b }, { "isFullRes", true } })
                settings.setValue(key(number, name), value);
        }
        Slot slot;
        QCOMPARE(slot.index0(), number);
        QCOMPARE(QVariantList({ slot.displayName(), slot.showLevels(), slot.viewingOnly(), slot.audioGain(),
                     slot.recordPreview(), slot.customLocation(), slot.isFullRes(), slot.customLocationEnabled() }),
            QVariantList({ "Kept", false, viewingOnly, -7.25f, true, b, true, false }));
        // The stored source is bound again, and armed unless only viewed.
        QCOMPARE(slot.connectedSource(), QStringLiteral("B"));
        QVERIFY(slot.activeReceiver());
        QCOMPARE(SlotTest::arguments(slot).value(1), viewingOnly ? QString() : QStringLiteral("B"));
    }

    void writingNeverShrinksTheStoredSize()
    {
        QSettings().clear();
        QSettings().setValue(QStringLiteral("slots/size"), 500);
        Slot().setViewingOnly(true);
        QCOMPARE(QSettings().value(QStringLiteral("slots/size")).toInt(), 500);
    }

    void levels_data()
    {
        QTest::addColumn<int>("raw");
        QTest::addColumn<float>("standardGain");
        QTest::addColumn<float>("audioGain");
        QTest::addColumn<int>("expected");
        QTest::addRow("-20 dB reference") << 50 << -20.0f << 0.0f << 51;
        QTest::addRow("EBU reference") << 50 << -14.0f << 0.0f << 59;
        QTest::addRow("disconnected") << -100 << -20.0f << 0.0f << 0;
        QTest::addRow("gain -60 lowers by 84") << 90 << -20.0f << -60.0f << 7;
        QTest::addRow("gain 20 raises by 28") << 60 << -20.0f << 20.0f << 89;
        QTest::addRow("clamped at 100") << 74 << -20.0f << 20.0f << 100;
        QTest::addRow("half a dB truncates away") << 50 << -20.0f << 0.5f << 51;
        QTest::addRow("largest raw") << std::numeric_limits<int>::max() << -14.0f << 20.0f << 100;
        QTest::addRow("smallest raw") << std::numeric_limits<int>::min() << -20.0f << -60.0f << 0;
    }
    void levels()
    {
        QFETCH(int, raw);
        QFETCH(float, standardGain);
        QFETCH(float, audioGain);
        QFETCH(int, expected);
        Slot slot;
        Slot::setStandardGain(standardGain);
        slot.setAudioGain(audioGain);
        QSignalSpy left(&slot, &Slot::vuLeftLevelChanged);
        slot.vuUpdated(raw, -100);
        Slot::setStandardGain(-20.0f);
        QCOMPARE(left.value(0).value(0).toInt(), expected);
        QCOMPARE(slot.rightLevel(), 0);
    }

    void nonFiniteGainRefused()
    {
        Slot slot;
        QSignalSpy spy(&slot, &Slot::audioGainChanged);
        for (float gain : { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), -6.0f, -6.0f })
            slot.setAudioGain(gain);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(slot.audioGain(), -6.0f);
    }

    void formatText_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<double>("rate");
        QTest::addColumn<QString>("text");
        QTest::addRow("whole rate") << 1920 << 25.0 << QStringLiteral("1920x1080 25p");
        QTest::addRow("NTSC") << 1920 << 30000.0 / 1001 << QStringLiteral("1920x1080 29.97p");
        QTest::addRow("NTSC double") << 1920 << 60000.0 / 1001 << QStringLiteral("1920x1080 59.94p");
        QTest::addRow("rate unknown") << 1920 << 0.0 << QStringLiteral("1920x1080");
        QTest::addRow("no picture") << 0 << 25.0 << QString();
    }
    void formatText()
    {
        QFETCH(int, width);
        QFETCH(double, rate);
        QFETCH(QString, text);
        QCOMPARE(Slot::formatText(width, width ? 1080 : 0, rate), text);
    }

    // Reports the capture and audio threads queued just before the receiver stopped never arrive.
    void staleReportsOfALeftBindingDropped()
    {
        Slot slot;
        slot.connectSource(QStringLiteral("A"));
        slot.vuUpdated(60, 60);
        Q_EMIT slot.activeReceiver()->tallyUpdated(2);
        Q_EMIT slot.activeReceiver()->vuUpdated(60, 60);
        QCOMPARE(slot.disconnectSource(), QStringLiteral("success"));
        QCoreApplication::processEvents();
        QCOMPARE(QList<int>({ slot.leftLevel(), slot.tallyState() }), QList<int>({ 0, 0 }));
        QCOMPARE(slot.connectedSource(), QStringLiteral("none"));
        QVERIFY(!slot.activeReceiver() && !slot.recorder()->currentProcess());
    }

    void acceptClicked_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("picked");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("newProcess");
        QTest::addRow("picked from the list") << QString() << 1 << QString() << "B" << true;
        QTest::addRow("typed name wins over the list") << QString() << 0 << "B" << "B" << true;
        QTest::addRow("typed name of the bound source") << "A" << -1 << "A" << "A" << false;
        QTest::addRow("no choice re-arms a bound slot") << "A" << -1 << QString() << "A" << true;
        QTest::addRow("stale index refused") << "A" << 7 << QString() << "A" << false;
    }
    void acceptClicked()
    {
        QFETCH(QString, before);
        QFETCH(int, picked);
        QFETCH(QString, typed);
        QFETCH(QString, source);
        QFETCH(bool, newProcess);
        Slot slot;
        if (!before.isEmpty())
            slot.connectSource(before);
        const QProcess* process = slot.recorder()->currentProcess();
        slot.setSelectedInd(picked);
        slot.enteredSource(typed);
        slot.acceptClicked();
        QCOMPARE(slot.connectedSource(), source);
        QCOMPARE(slot.recorder()->currentProcess() != process, newProcess);
        QCOMPARE(SlotTest::arguments(slot).value(1), source);
    }

    // A or B, and a new global folder: an armed process is replaced by one writing there; a slot with
    // folders of its own, an unbound one and a viewing-only one start nothing.
    void locationChoice()
    {
        Slot slot, custom, unbound, viewing;
        slot.connectSource(QStringLiteral("A"));
        custom.setCustomLocationEnabled(true);
        custom.connectSource(QStringLiteral("B"));
        viewing.setViewingOnly(true);
        viewing.connectSource(QStringLiteral("B"));
        QCOMPARE(folders(slot).first(), a);
        slot.setLocationBSelected(true);
        unbound.setLocationBSelected(true);
        viewing.setLocationBSelected(true);
        QCOMPARE(folders(slot).first(), b);
        QVERIFY(folders(slot).last().startsWith(b + '/'));
        slot.setAbRecording(false);
        QVERIFY(!slot.locationBSelected());
        QVERIFY(folders(slot).last().startsWith(a + '/'));
        const QProcess* customProcess = custom.recorder()->currentProcess();
        const QString elsewhere = TestEnv::makeFolder(QStringLiteral("elsewhere"));
        SettingsModel::instance()->setLocation(elsewhere);
        QCOMPARE(folders(slot).first(), elsewhere);
        QVERIFY(folders(slot).last().startsWith(elsewhere + '/'));
        QCOMPARE(custom.recorder()->currentProcess(), customProcess);
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
        QCOMPARE(slot.connectedSource(), QStringLiteral("A"));
    }
};

QTEST_GUILESS_MAIN(TestSlot)
#include "tst_slot.moc"
