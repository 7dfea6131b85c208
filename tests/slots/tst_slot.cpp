#include "ndi/sourcesmodel.h"
#include "slots/qqmlobjectlistmodel.h"
#include "slots/slot.h"
#include "tests/slots/slottestsupport.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <atomic>
#include <limits>
#include <thread>

class TestSlot : public QObject
{
    Q_OBJECT

private:
    SourcesModel m_sources;
    QString m_folderA;
    QString m_folderB;

    // Keys of slot number n live in array entry n + 1.
    static QString key(int number, const char* name)
    {
        return QStringLiteral("slots/%1/%2").arg(number + 1).arg(QLatin1String(name));
    }
    static int nextNumber()
    {
        // A throw-away slot tells the counter; the one made after it gets the next number.
        Slot probe;
        probe.setViewingOnly(true);
        return probe.index0() + 1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        SlotTest::setUpApplication();
        SlotTest::setUpNetwork({ QStringLiteral("A"), QStringLiteral("B") });
        SlotTest::clearStore();
        m_folderA = TestEnv::makeFolder(QStringLiteral("a"));
        m_folderB = TestEnv::makeFolder(QStringLiteral("b"));
        SettingsModel::instance()->setLocation(m_folderA);
        SettingsModel::instance()->setLocationB(m_folderB);
        m_sources.sourceAdded(QStringLiteral("A"));
        m_sources.sourceAdded(QStringLiteral("B"));
        Slot::setSourcesModel(&m_sources);
    }

    // Must stay the first test: it sees the first slot of the process.
    void numberingAndNames()
    {
        Slot first;
        QCOMPARE(first.index0(), 1);
        QCOMPARE(first.name(), QStringLiteral("Slot 1"));
        Slot second;
        QCOMPARE(second.index0(), 2);
        QCOMPARE(second.name(), QStringLiteral("Slot 2"));
        QSignalSpy spy(&second, &Slot::nameChanged);
        second.setName(second.name());
        QCOMPARE(spy.count(), 1);
    }

    void initialValues()
    {
        Slot slot;
        const QString movies = QStandardPaths::standardLocations(QStandardPaths::MoviesLocation).value(0);
        QCOMPARE(slot.connectedSource(), QStringLiteral("none"));
        QCOMPARE(slot.selectedInd(), -1);
        QVERIFY(slot.showLevels());
        QCOMPARE(slot.gigabytesAvailable(), 100000.0f);
        QCOMPARE(slot.gigabytesBAvailable(), 0.0f);
        QCOMPARE(slot.customLocation(), movies);
        QCOMPARE(slot.customLocationB(), movies);
        QVERIFY(!slot.isConnected());
        QVERIFY(!slot.activeReceiver());
        QCOMPARE(slot.recorder()->currentProcess(), nullptr);
    }

    void roleTable()
    {
        QQmlObjectListModel<Slot> model;
        const QList<QByteArray> names { "objectName", "index0", "name", "connectedSource", "selectedInd", "leftLevel",
            "rightLevel", "tallyState", "isRecording", "isWaiting", "isConnected", "showLevels",
            "customLocationEnabled", "viewingOnly", "recordPreview", "isListening", "isFullRes", "gigabytesAvailable",
            "gigabytesBAvailable", "audioGain", "locationBSelected", "selected", "customLocation", "customLocationB",
            "enteredSource", "displayName", "telemetry", "videoFormat", "signalLost" };
        QHash<int, QByteArray> expected { { 256, "qtObject" } };
        for (int i = 0; i < names.size(); ++i)
            expected.insert(257 + i, names.at(i));
        QCOMPARE(model.roleNames(), expected);

        // A level report changes two roles of the row, one dataChanged each, left first.
        auto* slot = new Slot;
        model.append(new Slot);
        model.append(slot);
        QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
        slot->vuUpdated(10, 20);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toModelIndex().row(), 1);
        QCOMPARE(spy.at(0).at(2).value<QList<int>>(), QList<int> { 262 });
        QCOMPARE(spy.at(1).at(2).value<QList<int>>(), QList<int> { 263 });
        QCOMPARE(model.data(model.index(1), 262).toInt(), slot->leftLevel());
    }

    void levels_data()
    {
        QTest::addColumn<int>("raw");
        QTest::addColumn<float>("standardGain");
        QTest::addColumn<float>("audioGain");
        QTest::addColumn<int>("expected");
        QTest::addRow("-20 dB reference: 50 shows 51") << 50 << -20.0f << 0.0f << 51;
        QTest::addRow("EBU reference: 50 shows 59") << 50 << -14.0f << 0.0f << 59;
        QTest::addRow("disconnected -100 shows 0") << -100 << -20.0f << 0.0f << 0;
        QTest::addRow("no source -999 shows 0") << -999 << -14.0f << 0.0f << 0;
        QTest::addRow("full scale with +20 clamps to 100") << 74 << -20.0f << 20.0f << 100;
        QTest::addRow("gain -60 lowers by 84") << 90 << -20.0f << -60.0f << 7;
        QTest::addRow("gain 20 raises by 28") << 60 << -20.0f << 20.0f << 89;
        QTest::addRow("half a dB changes nothing") << 50 << -20.0f << 0.5f << 51;
        QTest::addRow("1 dB raises by 1 after truncation") << 50 << -20.0f << 1.0f << 52;
        QTest::addRow("silent block, gain -60") << -2147483574 << -20.0f << -60.0f << 0;
        QTest::addRow("silent block, gain 20") << -2147483574 << -14.0f << 20.0f << 0;
        QTest::addRow("largest raw, gain 20") << std::numeric_limits<int>::max() << -14.0f << 20.0f << 100;
        QTest::addRow("smallest raw, gain -60") << std::numeric_limits<int>::min() << -20.0f << -60.0f << 0;
    }
    void levels()
    {
        QFETCH(int, raw);
        QFETCH(float, standardGain);
        QFETCH(float, audioGain);
        QFETCH(int, expected);
        QCOMPARE(RecordingRules::meterLevel(raw, standardGain, audioGain), expected);

        Slot slot;
        slot.setViewingOnly(true);
        Slot::setStandardGain(standardGain);
        slot.setAudioGain(audioGain);
        QStringList seen;
        connect(&slot, &Slot::vuLeftLevelChanged, this, [&seen](int v) { seen << QStringLiteral("L%1").arg(v); });
        connect(&slot, &Slot::vuRightLevelChanged, this, [&seen](int v) { seen << QStringLiteral("R%1").arg(v); });
        slot.vuUpdated(raw, -100);
        slot.vuUpdated(raw, -100);
        const QStringList once { QStringLiteral("L%1").arg(expected), QStringLiteral("R0") };
        QCOMPARE(seen, once + once);
        QCOMPARE(slot.leftLevel(), expected);
        Slot::setStandardGain(-20.0f);
    }

    void formatText_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<double>("rate");
        QTest::addColumn<QString>("text");
        QTest::addRow("whole rate") << 1920 << 1080 << 25.0 << QStringLiteral("1920x1080 25p");
        QTest::addRow("NTSC rate") << 1920 << 1080 << 30000.0 / 1001 << QStringLiteral("1920x1080 29.97p");
        QTest::addRow("NTSC double rate") << 1280 << 720 << 60000.0 / 1001 << QStringLiteral("1280x720 59.94p");
        QTest::addRow("rate unknown") << 640 << 360 << 0.0 << QStringLiteral("640x360");
        QTest::addRow("no picture") << 0 << 0 << 25.0 << QString();
    }

    void formatText()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(double, rate);
        QFETCH(QString, text);
        QCOMPARE(Slot::formatText(width, height, rate), text);
    }

    void audioGainRefusesNonFiniteValues()
    {
        Slot slot;
        QSignalSpy spy(&slot, &Slot::audioGainChanged);
        slot.setAudioGain(std::numeric_limits<float>::quiet_NaN());
        slot.setAudioGain(std::numeric_limits<float>::infinity());
        slot.setAudioGain(-6.0f);
        slot.setAudioGain(-6.0f);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toFloat(), -6.0f);
    }

    void persistenceWritesEntryOfItsNumber()
    {
        SlotTest::clearStore();
        int number = 0;
        {
            Slot slot;
            number = slot.index0();
            slot.setViewingOnly(true);
            slot.setDisplayName(QStringLiteral("Stage left"));
            slot.setShowLevels(false);
            slot.setCustomLocationEnabled(true);
            slot.setCustomLocation(m_folderB);
            slot.setCustomLocationB(m_folderA);
            slot.setAudioGain(-3.5f);
            slot.setRecordPreview(true);
            slot.setLocationBSelected(true);
        }
        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("slots/size")).toInt(), number + 1);
        QCOMPARE(settings.value(key(number, "source")).toString(), QStringLiteral("none"));
        QCOMPARE(settings.value(key(number, "displayName")).toString(), QStringLiteral("Stage left"));
        QCOMPARE(settings.value(key(number, "showLevels")).toBool(), false);
        QCOMPARE(settings.value(key(number, "customLocationEnabled")).toBool(), true);
        QCOMPARE(settings.value(key(number, "locationBSelected")).toBool(), true);
        QCOMPARE(settings.value(key(number, "customLocation")).toString(), m_folderB);
        QCOMPARE(settings.value(key(number, "customLocationB")).toString(), m_folderA);
        QCOMPARE(settings.value(key(number, "viewingOnly")).toBool(), true);
        QCOMPARE(settings.value(key(number, "audioGain")).toFloat(), -3.5f);
        QCOMPARE(settings.value(key(number, "recordPreview")).toBool(), true);
        QCOMPARE(settings.value(key(number, "isFullRes")).toBool(), false);
        QVERIFY(!settings.contains(QStringLiteral("slots/%1/source").arg(number)));
    }

    void persistenceReads_data()
    {
        QTest::addColumn<int>("storedSize");
        QTest::addRow("size as this run writes it") << -1;
        QTest::addRow("size from a run with fewer slots") << 3;
        QTest::addRow("no size at all") << 0;
    }
    void persistenceReads()
    {
        QFETCH(int, storedSize);
        SlotTest::clearStore();
        const int number = nextNumber();
        {
            QSettings settings;
            settings.setValue(QStringLiteral("slots/size"), storedSize < 0 ? number + 1 : storedSize);
            if (storedSize == 0)
                settings.remove(QStringLiteral("slots/size"));
            settings.setValue(key(number, "displayName"), QStringLiteral("Kept"));
            settings.setValue(key(number, "showLevels"), false);
            settings.setValue(key(number, "viewingOnly"), true);
            settings.setValue(key(number, "audioGain"), -7.25);
            settings.setValue(key(number, "recordPreview"), true);
            settings.setValue(key(number, "customLocation"), m_folderB);
            settings.setValue(key(number, "isFullRes"), true);
        }
        Slot slot;
        QCOMPARE(slot.index0(), number);
        QCOMPARE(slot.displayName(), QStringLiteral("Kept"));
        QCOMPARE(slot.showLevels(), false);
        QCOMPARE(slot.viewingOnly(), true);
        QCOMPARE(slot.audioGain(), -7.25f);
        QCOMPARE(slot.recordPreview(), true);
        QCOMPARE(slot.customLocation(), m_folderB);
        QCOMPARE(slot.isFullRes(), true);
        // Missing keys keep the defaults.
        QCOMPARE(slot.connectedSource(), QStringLiteral("none"));
        QCOMPARE(slot.customLocationEnabled(), false);
    }

    void writingNeverShrinksTheStoredSize()
    {
        SlotTest::clearStore();
        {
            QSettings settings;
            settings.setValue(QStringLiteral("slots/size"), 500);
            settings.setValue(key(498, "displayName"), QStringLiteral("far away"));
        }
        {
            Slot slot;
            slot.setViewingOnly(true);
        }
        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("slots/size")).toInt(), 500);
        QCOMPARE(settings.value(key(498, "displayName")).toString(), QStringLiteral("far away"));
    }

    void savedSourceReconnectsAtConstruction_data()
    {
        QTest::addColumn<bool>("viewingOnly");
        QTest::addRow("recordable") << false;
        QTest::addRow("viewing only") << true;
    }
    void savedSourceReconnectsAtConstruction()
    {
        QFETCH(bool, viewingOnly);
        SlotTest::clearStore();
        const int number = nextNumber();
        {
            QSettings settings;
            settings.setValue(key(number, "source"), QStringLiteral("B"));
            settings.setValue(key(number, "viewingOnly"), viewingOnly);
        }
        Slot slot;
        QCOMPARE(slot.index0(), number);
        QCOMPARE(slot.connectedSource(), QStringLiteral("B"));
        QVERIFY(slot.isConnected());
        QVERIFY(slot.activeReceiver());
        QCOMPARE(slot.currentFolder(), m_folderA);
        const QStringList arguments = SlotTest::currentArguments(slot.recorder());
        if (viewingOnly) {
            QVERIFY(arguments.isEmpty());
        } else {
            QCOMPARE(arguments.value(0), QStringLiteral("-i"));
            QCOMPARE(arguments.value(1), QStringLiteral("B"));
            QVERIFY(arguments.value(3).startsWith(m_folderA + QLatin1Char('/')));
        }
    }

    void acceptClicked_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("selectedInd");
        QTest::addColumn<QString>("entered");
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("newProcess");
        QTest::addRow("picked index") << QString() << 1 << QString() << "B" << true;
        QTest::addRow("typed name") << QString() << -1 << "B"
                                    << "B" << true;
        QTest::addRow("typed name wins over index") << QString() << 0 << "B"
                                                    << "B" << true;
        QTest::addRow("typed name equal to the bound one") << "A" << -1 << "A"
                                                           << "A" << false;
        QTest::addRow("picked index of the bound source reconnects") << "A" << 0 << QString() << "A" << true;
        QTest::addRow("no choice re-arms a bound slot") << "A" << -1 << QString() << "A" << true;
        QTest::addRow("no choice on an unbound slot") << QString() << -1 << QString() << "none" << false;
        QTest::addRow("index past the list") << QString() << 2 << QString() << "none" << false;
        QTest::addRow("index past the list, bound") << "A" << 7 << QString() << "A" << false;
    }
    void acceptClicked()
    {
        QFETCH(QString, before);
        QFETCH(int, selectedInd);
        QFETCH(QString, entered);
        QFETCH(QString, source);
        QFETCH(bool, newProcess);
        Slot slot;
        if (!before.isEmpty())
            QCOMPARE(slot.connectSource(before), QStringLiteral("success"));
        const QProcess* process = slot.recorder()->currentProcess();
        const auto receiver = slot.activeReceiver();
        slot.setSelectedInd(selectedInd);
        slot.enteredSource(entered);
        QSignalSpy gigabytes(&slot, &Slot::gigabytesAvailableChanged);
        slot.acceptClicked();
        QCOMPARE(slot.connectedSource(), source);
        QCOMPARE(slot.isConnected(), source != QLatin1String("none"));
        QCOMPARE(slot.recorder()->currentProcess() != process, newProcess);
        if (newProcess)
            QCOMPARE(SlotTest::currentArguments(slot.recorder()).value(1), source);
        // Binding reuses the slot's receiver and hands it out only while bound.
        QCOMPARE(bool(slot.activeReceiver()), source != QLatin1String("none"));
        if (!before.isEmpty())
            QCOMPARE(slot.activeReceiver(), receiver);
        // A refused index must not even recompute the folders.
        if (selectedInd >= m_sources.rowCount() && entered.isEmpty())
            QCOMPARE(gigabytes.count(), 0);
    }

    void bindingViewingOnlyStartsNoProcess()
    {
        Slot slot;
        slot.setViewingOnly(true);
        QCOMPARE(slot.connectSource(QStringLiteral("A")), QStringLiteral("success"));
        QVERIFY(slot.isConnected());
        QCOMPARE(slot.recorder()->currentProcess(), nullptr);
        QCOMPARE(slot.startRecording(), QStringLiteral("Slot set to viewing only"));
        QVERIFY(!slot.isWaiting());
        // Turning it off starts nothing by itself; the next accept does.
        slot.setViewingOnly(false);
        QCOMPARE(slot.recorder()->currentProcess(), nullptr);
        slot.acceptClicked();
        QVERIFY(slot.recorder()->currentProcess());
        slot.setViewingOnly(true);
        QCOMPARE(slot.recorder()->currentProcess(), nullptr);
    }

    void disconnecting()
    {
        Slot slot;
        QCOMPARE(slot.connectSource(QStringLiteral("A")), QStringLiteral("success"));
        QVERIFY(slot.activeReceiver());
        slot.vuUpdated(60, 60);
        QStringList seen;
        connect(
            &slot, &Slot::isConnectedChanged, this, [&seen](bool v) { seen << QStringLiteral("connected %1").arg(v); });
        connect(&slot, &Slot::connectedSourceChanged, this,
            [&seen](const QString& v) { seen << QStringLiteral("source ") + v; });
        connect(&slot, &Slot::vuLeftLevelChanged, this, [&seen](int v) { seen << QStringLiteral("left %1").arg(v); });
        // Reports the capture and audio threads queued just before the receiver stopped.
        Q_EMIT slot.activeReceiver()->tallyUpdated(2);
        Q_EMIT slot.activeReceiver()->vuUpdated(60, 60);
        QCOMPARE(slot.disconnectSource(), QStringLiteral("success"));
        QCoreApplication::processEvents();
        QCOMPARE(seen, (QStringList { "connected 0", "source none", "left 0" }));
        QVERIFY(!slot.activeReceiver());
        QCOMPARE(slot.recorder()->currentProcess(), nullptr);
        QCOMPARE(slot.tallyState(), 0);
        // Disconnecting an unbound slot is harmless.
        QCOMPARE(slot.disconnectSource(), QStringLiteral("success"));
    }

    void fullResolutionReplacesTheReceiver()
    {
        Slot slot;
        slot.setViewingOnly(true);
        slot.setIsFullRes(true);
        QVERIFY(!slot.activeReceiver());
        slot.connectSource(QStringLiteral("A"));
        const std::shared_ptr<Receiver> first = slot.activeReceiver();
        QVERIFY(first);
        QSignalSpy spy(&slot, &Slot::isFullResChanged);
        slot.setIsFullRes(false);
        QCOMPARE(spy.count(), 1);
        const std::shared_ptr<Receiver> second = slot.activeReceiver();
        QVERIFY(second);
        QVERIFY(second != first);
        QCOMPARE(slot.connectedSource(), QStringLiteral("A"));
    }

    void activeReceiverAcrossThreads()
    {
        Slot slot;
        slot.setViewingOnly(true);
        std::atomic<bool> stop { false };
        std::atomic<int> pulls { 0 };
        std::atomic<int> seen { 0 };
        // Plays the render thread: takes the receiver, pulls a picture, lets go.
        std::thread reader([&] {
            while (!stop.load()) {
                if (std::shared_ptr<Receiver> receiver = slot.activeReceiver()) {
                    receiver->videoFrame();
                    seen.fetch_add(1);
                }
                pulls.fetch_add(1);
            }
        });
        for (int round = 0; round < 20; ++round) {
            slot.connectSource(round % 2 ? QStringLiteral("A") : QStringLiteral("B"));
            QTRY_VERIFY(seen.load() > round);
            slot.setIsFullRes(!slot.isFullRes());
            slot.disconnectSource();
        }
        stop.store(true);
        reader.join();
        QVERIFY(pulls.load() >= 20);
        QVERIFY(!slot.activeReceiver());
    }

    void locationChoice()
    {
        Slot slot;
        QCOMPARE(slot.connectSource(QStringLiteral("A")), QStringLiteral("success"));
        QCOMPARE(slot.currentFolder(), m_folderA);
        QCOMPARE(slot.recorder()->folder(), m_folderA);
        const QProcess* armed = slot.recorder()->currentProcess();
        QSignalSpy spy(&slot, &Slot::locationBSelectedChanged);
        slot.setLocationBSelected(true);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(slot.currentFolder(), m_folderB);
        // Not recording: the armed process is replaced by one writing into B.
        QVERIFY(slot.recorder()->currentProcess() != armed);
        QVERIFY(SlotTest::currentArguments(slot.recorder()).value(3).startsWith(m_folderB + QLatin1Char('/')));
        // Turning A/B recording off returns the slot to A.
        slot.setAbRecording(false);
        QCOMPARE(spy.count(), 2);
        QVERIFY(!slot.locationBSelected());
        QCOMPARE(slot.currentFolder(), m_folderA);
        slot.setAbRecording(true);
    }

    void locationChoiceOnAnUnboundSlotStartsNothing()
    {
        Slot slot;
        slot.setLocationBSelected(true);
        QCOMPARE(slot.recorder()->currentProcess(), nullptr);
        QCOMPARE(slot.recorder()->folder(), m_folderB);
    }

    void globalFolderChanges()
    {
        Slot bound;
        Slot custom;
        Slot unbound;
        bound.connectSource(QStringLiteral("A"));
        custom.setCustomLocationEnabled(true);
        custom.connectSource(QStringLiteral("B"));
        const QProcess* boundProcess = bound.recorder()->currentProcess();
        const QProcess* customProcess = custom.recorder()->currentProcess();
        const QString elsewhere = TestEnv::makeFolder(QStringLiteral("elsewhere"));
        SettingsModel::instance()->setLocation(elsewhere);
        QCOMPARE(bound.currentFolder(), elsewhere);
        QVERIFY(bound.recorder()->currentProcess() != boundProcess);
        QVERIFY(SlotTest::currentArguments(bound.recorder()).value(3).startsWith(elsewhere + QLatin1Char('/')));
        QCOMPARE(custom.recorder()->currentProcess(), customProcess);
        QCOMPARE(unbound.recorder()->currentProcess(), nullptr);
        SettingsModel::instance()->setLocation(m_folderA);
    }
};

QTEST_GUILESS_MAIN(TestSlot)
#include "tst_slot.moc"
