#include "tests/remote/remotefixture.h"

#include "app/settingsmodel.h"
#include "ndi/ndirecorder.h"

#include <QFile>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

RemoteFixture::RemoteFixture(int gridSlots, bool withExtras)
{
    // A recording program that accepts every command and never reports: a started slot stays
    // waiting until it is stopped, whatever the timing of the test.
    const QString programFolder = TestEnv::makeFolder(QStringLiteral("silent-recorder"));
    QFile program(programFolder + QStringLiteral("/NewTek NDI Record.exe"));
    if (program.open(QIODevice::WriteOnly)) {
        program.write("#!/bin/sh\nexec cat >/dev/null\n");
        program.close();
        program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    NDIRecorder::setProgramFolder(programFolder);
    // Real folders with room: a slot stops a recording whose drive it cannot measure.
    SettingsModel::instance()->setLocation(TestEnv::makeFolder(QStringLiteral("videos-a")));
    SettingsModel::instance()->setLocationB(TestEnv::makeFolder(QStringLiteral("videos-b")));
    sources = std::make_unique<SourcesModel>();
    Slot::setSourcesModel(sources.get());
    model = std::make_unique<SlotListModel>();
    if (withExtras) {
        model->setExtra1(new Slot());
        model->setExtra2(new Slot());
    }
    for (int i = 0; i < gridSlots; ++i)
        model->append(new Slot());
    recorder = std::make_unique<SlotListRecorder>(model.get());
    audio = std::make_unique<SlotListAudioHelper>(model.get());
}

RemoteFixture::~RemoteFixture()
{
    audio.reset();
    recorder.reset();
    model.reset();
}

SettingsModel* RemoteFixture::settings() const
{
    return SettingsModel::instance();
}

void RemoteFixture::reset()
{
    audio->stopListening();
    for (Slot* slot : slotList()) {
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

void RemoteFixture::bind(int id, const QString& source)
{
    slot(id)->setConnectedSource(source);
    slot(id)->setIsConnected(true);
}

namespace
{

bool reaches(const char* address, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QString::fromLatin1(address)), port);
    return socket.waitForConnected(2000);
}

// A listener that offers to share its port, as a second recorder would.
int squat(quint16* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 4);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    *port = ntohs(address.sin_port);
    return fd;
}

enum class Move { PortWhileEnabled, PortWhileDisabled, EnableRightAfterDisable, PortInUse };

} // namespace

void checkLifecycle(SettingsModel* s, const ServerSwitches& server, quint16& port)
{
    const auto logged = [&](const char* words, quint16 p) {
        return LogCapture::contains(server.name + QLatin1String(words) + QString::number(p));
    };
    for (const Move move : { Move::PortWhileEnabled, Move::PortWhileDisabled, Move::EnableRightAfterDisable,
             Move::PortInUse }) {
        const quint16 old = port;
        port = move == Move::EnableRightAfterDisable ? old : TestEnv::freePort();
        LogCapture::clear();
        if (move == Move::PortWhileDisabled) {
            (s->*server.setEnabled)(false);
            QTRY_VERIFY(!reaches("127.0.0.1", old));
            (s->*server.setPort)(port);
            QTest::qWait(200);
            QVERIFY2(!reaches("127.0.0.1", port), "a port change opened a disabled server");
            (s->*server.setEnabled)(true);
        } else if (move == Move::EnableRightAfterDisable) {
            (s->*server.setEnabled)(false);
            (s->*server.setEnabled)(true);
        } else if (move == Move::PortInUse) {
            quint16 taken = 0;
            const int squatter = squat(&taken);
            (s->*server.setPort)(taken);
            QTRY_VERIFY(LogCapture::contains(QStringLiteral("Unable to start %1 on port %2").arg(server.name).arg(taken)));
            QVERIFY(!logged(" listening on port ", taken));
            ::close(squatter);
            (s->*server.setPort)(port); // the next change brings it back
        } else {
            (s->*server.setPort)(port);
        }
        QTRY_VERIFY2(logged(" listening on port ", port), qPrintable(LogCapture::peek().join(QLatin1Char('\n'))));
        QTRY_VERIFY(reaches("127.0.0.1", port));
        if (old != port)
            QTRY_VERIFY(!reaches("127.0.0.1", old));
    }
    // On every interface (127.0.0.2 reaches it), or on this machine's 127.0.0.1 alone.
    for (const bool localOnly : { true, false }) {
        s->setServerLocalOnly(localOnly);
        QTRY_VERIFY(reaches("127.0.0.1", port));
        QTRY_COMPARE(reaches("127.0.0.2", port), !localOnly);
    }
}
