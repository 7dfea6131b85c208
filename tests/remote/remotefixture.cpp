#include "tests/remote/remotefixture.h"

#include "ndi/ndirecorder.h"

#include <QFile>
#include <QTest>

#include <functional>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

RemoteFixture::RemoteFixture(int gridSlots, bool withExtras)
{
    // A recording program that accepts every command and never reports: a started slot stays
    // waiting until it is stopped, whatever the timing of the test.
    const QString folder = TestEnv::makeFolder(QStringLiteral("silent-recorder"));
    QFile program(folder + QStringLiteral("/NewTek NDI Record.exe"));
    if (program.open(QIODevice::WriteOnly) && program.write("#!/bin/sh\nexec cat >/dev/null\n") > 0)
        program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    program.close();
    NDIRecorder::setProgramFolder(folder);
    // Real folders with room: a slot stops a recording whose drive it cannot measure.
    settings()->setLocation(TestEnv::makeFolder(QStringLiteral("videos-a")));
    settings()->setLocationB(TestEnv::makeFolder(QStringLiteral("videos-b")));
    Slot::setSourcesModel(sources.get());
    if (withExtras)
        model->setExtra1(new Slot()), model->setExtra2(new Slot());
    for (int i = 0; i < gridSlots; ++i)
        model->append(new Slot());
    recorder = std::make_unique<SlotListRecorder>(model.get());
    audio = std::make_unique<SlotListAudioHelper>(model.get());
}

void RemoteFixture::reset()
{
    audio->stopListening();
    for (Slot* slot : model->allSlots()) {
        if (slot->isRecording() || slot->isWaiting())
            slot->stopRecording(Slot::User);
        slot->setViewingOnly(false);
        slot->setIsConnected(false);
        slot->setConnectedSource(QStringLiteral("none"));
        slot->setTallyState(0);
        slot->setDisplayName(QString());
    }
    recorder->setIsRecordingAll(false);
    settings()->setServerAccessKey(QString());
}

static bool reaches(quint16 port, const char* address = "127.0.0.1")
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QString::fromLatin1(address)), port);
    return socket.waitForConnected(2000);
}

// A listener that offers to share its port, as a second recorder would.
static int squat(quint16* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0), yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
    sockaddr_in address { AF_INET, 0, {}, {} };
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(fd, 4);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    *port = ntohs(address.sin_port);
    return fd;
}

void checkLifecycle(SettingsModel* s, void (SettingsModel::*enable)(bool), void (SettingsModel::*setPort)(ushort),
    const QString& name, quint16& port)
{
    const auto logged
        = [&](quint16 p) { return LogCapture::contains(name + " listening on port " + QString::number(p)); };
    // After each step the server listens on `port` alone.
    const auto step = [&](const std::function<void(quint16)>& act, bool newPort = true) {
        const quint16 old = port;
        port = newPort ? TestEnv::freePort() : port;
        LogCapture::clear();
        act(old);
        QTRY_VERIFY(logged(port));
        QTRY_VERIFY(reaches(port));
        QTRY_VERIFY(old == port || !reaches(old));
    };
    step([&](quint16) { (s->*setPort)(port); });
    step([&](quint16 old) {
        (s->*enable)(false);
        QTRY_VERIFY(!reaches(old));
        (s->*setPort)(port);
        QTest::qWait(200);
        QVERIFY2(!reaches(port), "a port change opened a disabled server");
        (s->*enable)(true);
    });
    step([&](quint16) { (s->*enable)(false), (s->*enable)(true); }, false);
    step([&](quint16) {
        quint16 taken = 0;
        const int squatter = squat(&taken);
        (s->*setPort)(taken);
        QTRY_VERIFY(LogCapture::contains(QStringLiteral("Unable to start %1 on port %2").arg(name).arg(taken)));
        QVERIFY(!logged(taken));
        ::close(squatter);
        (s->*setPort)(port); // after a port in use, the next change brings it back
    });
    // On every interface (127.0.0.2 reaches it), or on this machine's 127.0.0.1 alone.
    for (const bool localOnly : { true, false }) {
        s->setServerLocalOnly(localOnly);
        QTRY_VERIFY(reaches(port));
        QTRY_COMPARE(reaches(port, "127.0.0.2"), !localOnly);
    }
}
