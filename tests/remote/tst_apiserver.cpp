#include "remote/apiserver.h"
#include "tests/remote/remotefixture.h"

#include <QTest>

enum Op { Start, Stop, Connect, Disconnect, Rename, Listen, ListenOff };
// One command on slots set up as told (bound ones show "HOST (Cam n)", busy ones record), its
// result, and which slots are busy and whether record-all is on afterwards.
struct Row {
    Op op;
    uint slot;
    QString arg, result;
    QList<int> bound, busyBefore;
    bool allBefore;
    QList<int> busyAfter;
    bool allAfter;
    int viewingOnly;
};

Q_DECLARE_METATYPE(Row)

// Every outcome of the commands both servers pass on, through the real command layer, with two
// special slots ahead of three grid slots: ids follow the full slot list.
class TestApiServer : public QObject
{
    Q_OBJECT

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
    void cleanupTestCase() { api.reset(), fixture.reset(); }

    void commands_data()
    {
        QTest::addColumn<Row>("row");
        const QString ok = "success", invalid = "Slot id invalid", busy = "Recording in progress";
        const auto row = [](const char* name, const Row& r) { QTest::newRow(name) << r; };
        row("start a bound slot", { Start, 3, {}, ok, { 3 }, {}, false, { 3 }, false, 0 });
        row("start an unbound slot", { Start, 4, {}, "Slot not connected to any source", {}, {}, false, {}, false, 0 });
        row("start a recording slot", { Start, 3, {}, "Already recording", { 3 }, { 3 }, false, { 3 }, false, 0 });
        row("start a viewing-only slot", { Start, 2, {}, "Slot set to viewing only", { 2 }, {}, false, {}, false, 2 });
        row("slot 0 starts all bound, viewing-only skipped",
            { Start, 0, {}, ok, { 2, 4, 5 }, {}, false, { 2, 5 }, true, 4 });
        row("record-all with nothing bound", { Start, 0, {}, ok, {}, {}, false, {}, true, 0 });
        row("record-all twice", { Start, 0, {}, "Already recording", { 2 }, {}, true, {}, true, 0 });
        row("start past the end", { Start, 6, {}, invalid, {}, {}, false, {}, false, 0 });
        row("start the largest id", { Start, 4294967295u, {}, invalid, {}, {}, false, {}, false, 0 });
        row("stop a recording slot", { Stop, 1, {}, ok, { 1, 2 }, { 1, 2 }, false, { 2 }, false, 0 });
        row("stop an idle slot", { Stop, 1, {}, "Slot is not recording", { 1 }, {}, false, {}, false, 0 });
        row("stop-all while off", { Stop, 0, {}, "Not recording", { 1 }, { 1 }, false, { 1 }, false, 0 });
        row("stop-all", { Stop, 0, {}, ok, { 1, 3 }, { 1, 3 }, true, {}, false, 0 });
        row("one slot stopped leaves record-all on", { Stop, 3, {}, ok, { 3 }, { 3 }, true, {}, true, 0 });
        row("stop past the end", { Stop, 6, {}, invalid, {}, {}, false, {}, false, 0 });
        row("connect", { Connect, 2, "HOST (X)", ok, {}, {}, false, {}, false, 0 });
        row("connect slot 0", { Connect, 0, "HOST (X)", invalid, {}, {}, false, {}, false, 0 });
        row("connect while recording", { Connect, 5, "HOST (X)", busy, { 5 }, { 5 }, false, { 5 }, false, 0 });
        row("connect no source", { Connect, 2, {}, "Source name missing", {}, {}, false, {}, false, 0 });
        row("connect blanks", { Connect, 2, "  ", "Source name missing", { 2 }, {}, false, {}, false, 0 });
        row("disconnect", { Disconnect, 2, {}, ok, { 2, 3 }, {}, false, {}, false, 0 });
        row("disconnect while recording", { Disconnect, 2, {}, busy, { 2 }, { 2 }, false, { 2 }, false, 0 });
        row("disconnect past the end", { Disconnect, 6, {}, invalid, { 5 }, {}, false, {}, false, 0 });
        row("rename special slot 1", { Rename, 1, "Cam \"1\"", ok, {}, {}, false, {}, false, 0 });
        row("rename the first grid slot", { Rename, 3, "Grid", ok, {}, {}, false, {}, false, 0 });
        row("rename the last slot", { Rename, 5, "Last", ok, {}, {}, false, {}, false, 0 });
        row("rename slot 0", { Rename, 0, "x", invalid, {}, {}, false, {}, false, 0 });
        row("rename past the end", { Rename, 6, "x", invalid, {}, {}, false, {}, false, 0 });
        row("listen", { Listen, 4, {}, ok, {}, {}, false, {}, false, 0 });
        row("listen slot 0", { Listen, 0, {}, invalid, {}, {}, false, {}, false, 0 });
        row("listen past the end", { Listen, 6, {}, invalid, {}, {}, false, {}, false, 0 });
        row("listen off", { ListenOff, 0, {}, ok, {}, {}, false, {}, false, 0 });
    }

    void commands()
    {
        QFETCH(Row, row);
        const auto source = [&](int id) {
            return row.bound.contains(id) ? QStringLiteral("HOST (Cam %1)").arg(id) : QStringLiteral("none");
        };
        for (const int id : row.bound)
            fixture->bind(id, source(id));
        for (const int id : row.busyBefore)
            fixture->slot(id)->setIsRecording(true);
        QCOMPARE(fixture->recorder->isRecordingAny(), !row.busyBefore.isEmpty()); // what refuses the window's close
        if (row.viewingOnly)
            fixture->slot(row.viewingOnly)->setViewingOnly(true);
        fixture->recorder->setIsRecordingAll(row.allBefore);
        if (row.op == ListenOff)
            fixture->audio->startListening(fixture->slot(3));
        const QString result = row.op == Start ? api->recordingStart(row.slot)
            : row.op == Stop                   ? api->recordingStop(row.slot)
            : row.op == Connect                ? api->connectSource(row.slot, row.arg)
            : row.op == Disconnect             ? api->disconnectSource(row.slot)
            : row.op == Rename                 ? api->renameSlot(row.slot, row.arg)
            : row.op == Listen                 ? api->listenOn(row.slot)
                                               : api->listenOff();
        QCOMPARE(result, row.result);
        QCOMPARE(fixture->recorder->isRecordingAll(), row.allAfter);
        for (Slot* s : fixture->model->allSlots()) {
            const int id = s->index0();
            const auto done = [&](Op op) { return row.op == op && uint(id) == row.slot && result == "success"; };
            QCOMPARE(s->isRecording() || s->isWaiting(), row.busyAfter.contains(id));
            QCOMPARE(s->connectedSource(), done(Connect) ? row.arg : done(Disconnect) ? "none" : source(id));
            QCOMPARE(s->displayName(), done(Rename) ? row.arg : QString());
            QCOMPARE(s->isListening(), done(Listen));
        }
    }
};

QTEST_GUILESS_MAIN(TestApiServer)
#include "tst_apiserver.moc"
