#include "remote/apiserver.h"
#include "tests/remote/remotefixture.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

// The command layer on its own, with two special slots ahead of three grid slots: ids follow the
// full slot list, record-all has its own guards, and the slots' own texts pass through.
class TestApiServer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RemoteFixture> fixture;
    std::unique_ptr<ApiServer> api;

private Q_SLOTS:
    void initTestCase()
    {
        fixture = std::make_unique<RemoteFixture>(3, true);
        api = std::make_unique<ApiServer>(
            fixture->model.get(), fixture->audio.get(), fixture->recorder.get(), fixture->sources.get());
    }
    void init() { fixture->reset(); }
    void cleanupTestCase()
    {
        api.reset();
        fixture.reset();
    }

    void operationsInMetaObjectOrder()
    {
        const QMetaObject* meta = api->metaObject();
        QStringList names;
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
            names << QString::fromLatin1(meta->method(i).methodSignature());
        QCOMPARE(names,
            (QStringList { "recordingStart(uint)", "recordingStop(uint)", "connectSource(uint,QString)",
                "renameSlot(uint,QString)", "disconnectSource(uint)", "listenOn(uint)", "listenOff()" }));
        QCOMPARE(meta->method(meta->indexOfMethod("connectSource(uint,QString)")).parameterNames(),
            (QList<QByteArray> { "slot", "source" }));
        QCOMPARE(meta->method(meta->indexOfMethod("renameSlot(uint,QString)")).parameterNames(),
            (QList<QByteArray> { "slot", "name" }));
    }

    void idsFollowTheFullList_data()
    {
        QTest::addColumn<uint>("id");
        QTest::addColumn<int>("expectedIndex0"); // 0: refused
        QTest::addRow("0 is no slot") << 0u << 0;
        QTest::addRow("1 is extra1") << 1u << 1;
        QTest::addRow("2 is extra2") << 2u << 2;
        QTest::addRow("3 is the first grid slot") << 3u << 3;
        QTest::addRow("5 is the last") << 5u << 5;
        QTest::addRow("6 is past the end") << 6u << 0;
        QTest::addRow("largest id") << 4294967295u << 0;
    }

    void idsFollowTheFullList()
    {
        QFETCH(uint, id);
        QFETCH(int, expectedIndex0);
        QCOMPARE(fixture->model->extra1()->index0(), 1);
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (Slot* s : fixture->slotList())
            spies.push_back(std::make_unique<QSignalSpy>(s, &Slot::displayNameChanged));

        const QString result = api->renameSlot(id, QStringLiteral("renamed %1").arg(id));
        QCOMPARE(result, expectedIndex0 ? QStringLiteral("success") : QStringLiteral("Slot id invalid"));
        for (Slot* s : fixture->slotList()) {
            const bool hit = s->index0() == expectedIndex0;
            QCOMPARE(spies.at(size_t(s->index0() - 1))->size(), hit ? 1 : 0);
            QCOMPARE(s->displayName(), hit ? QStringLiteral("renamed %1").arg(id) : QString());
        }
    }

    void renameTwiceNotifiesOnce()
    {
        QSignalSpy spy(fixture->slot(3), &Slot::displayNameChanged);
        QCOMPARE(api->renameSlot(3, QStringLiteral("Cam")), QStringLiteral("success"));
        QCOMPARE(api->renameSlot(3, QStringLiteral("Cam")), QStringLiteral("success"));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("Cam"));
        QCOMPARE(api->renameSlot(3, QString()), QStringLiteral("success"));
        QCOMPARE(fixture->slot(3)->displayName(), QString());
    }

    void recordAllGuards()
    {
        QSignalSpy all(fixture->recorder.get(), &SlotListRecorder::isRecordingAllChanged);
        fixture->bind(2, QStringLiteral("HOST (A)"));
        fixture->bind(4, QStringLiteral("HOST (B)"));
        fixture->slot(4)->setViewingOnly(true);
        QSignalSpy waiting2(fixture->slot(2), &Slot::isWaitingChanged);
        QSignalSpy waiting4(fixture->slot(4), &Slot::isWaitingChanged);

        QCOMPARE(api->recordingStop(0), QStringLiteral("Not recording"));
        QCOMPARE(api->recordingStart(0), QStringLiteral("success"));
        QCOMPARE(waiting2.size(), 1);
        QCOMPARE(waiting4.size(), 0); // viewing only: skipped silently
        QCOMPARE(api->recordingStart(0), QStringLiteral("Already recording"));
        QCOMPARE(waiting2.size(), 1);

        // Single slots stopped by hand leave record-all on.
        QCOMPARE(api->recordingStop(2), QStringLiteral("success"));
        QVERIFY(fixture->recorder->isRecordingAll());
        QCOMPARE(api->recordingStop(2), QStringLiteral("Slot is not recording"));
        QCOMPARE(api->recordingStop(0), QStringLiteral("success"));
        QCOMPARE(all.size(), 2);
        QCOMPARE(all.at(0).at(0).toBool(), true);
        QCOMPARE(all.at(1).at(0).toBool(), false);
    }

    void recordAllWithNothingBound()
    {
        QCOMPARE(api->recordingStart(0), QStringLiteral("success"));
        QVERIFY(fixture->recorder->isRecordingAll());
    }

    void listening()
    {
        Slot* a = fixture->slot(1);
        Slot* b = fixture->slot(3);
        QSignalSpy spyA(a, &Slot::isListeningChanged);
        QSignalSpy spyB(b, &Slot::isListeningChanged);

        QCOMPARE(api->listenOff(), QStringLiteral("success")); // nothing listened to
        QCOMPARE(api->listenOn(0), QStringLiteral("Slot id invalid"));
        QCOMPARE(api->listenOn(1), QStringLiteral("success"));
        // The same slot again: off and on.
        QCOMPARE(api->listenOn(1), QStringLiteral("success"));
        QCOMPARE(api->listenOn(3), QStringLiteral("success"));
        QCOMPARE(api->listenOff(), QStringLiteral("success"));

        QList<bool> a_changes, b_changes;
        for (const auto& args : spyA)
            a_changes << args.at(0).toBool();
        for (const auto& args : spyB)
            b_changes << args.at(0).toBool();
        QCOMPARE(a_changes, (QList<bool> { true, false, true, false }));
        QCOMPARE(b_changes, (QList<bool> { true, false }));
    }

    void refusalsPassThrough()
    {
        fixture->bind(5, QStringLiteral("HOST (C)"));
        fixture->slot(5)->setIsRecording(true);
        QCOMPARE(api->connectSource(5, QStringLiteral("X")), QStringLiteral("Recording in progress"));
        QCOMPARE(api->disconnectSource(5), QStringLiteral("Recording in progress"));
        QCOMPARE(api->recordingStart(5), QStringLiteral("Already recording"));
        QCOMPARE(api->recordingStart(3), QStringLiteral("Slot not connected to any source"));
        QCOMPARE(api->connectSource(0, QStringLiteral("X")), QStringLiteral("Slot id invalid"));
        QCOMPARE(api->disconnectSource(6), QStringLiteral("Slot id invalid"));
        QCOMPARE(api->connectSource(2, QString()), QStringLiteral("Source name missing"));
        QCOMPARE(api->connectSource(2, QStringLiteral("  ")), QStringLiteral("Source name missing"));
        QVERIFY(!fixture->slot(2)->isConnected());
        QCOMPARE(fixture->slot(5)->connectedSource(), QStringLiteral("HOST (C)"));
    }
};

QTEST_GUILESS_MAIN(TestApiServer)
#include "tst_apiserver.moc"
