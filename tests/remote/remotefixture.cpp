#include "tests/remote/remotefixture.h"

#include "app/settingsmodel.h"
#include "ndi/ndirecorder.h"
#include "tests/common/testenv.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

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
}

void RemoteFixture::bind(int id, const QString& source)
{
    Slot* s = slot(id);
    s->setConnectedSource(source);
    s->setIsConnected(true);
}


namespace
{

bool reaches(const char* address, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QString::fromLatin1(address)), port);
    return socket.waitForConnected(2000);
}

} // namespace

void checkListeningAddress(SettingsModel* settings, quint16 port)
{
    for (const bool localOnly : { true, false }) {
        settings->setServerLocalOnly(localOnly);
        QTRY_VERIFY(reaches("127.0.0.1", port));
        QTRY_COMPARE(reaches("127.0.0.2", port), !localOnly);
    }
}


bool LineClient::connectTo(quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] { buffer += socket.readAll(); });
    return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000);
}

QByteArray LineClient::takeLines(int n, int timeoutMs)
{
    const auto endOfLines = [this, n]() -> qsizetype {
        qsizetype at = 0;
        for (int i = 0; i < n; ++i) {
            const qsizetype end = buffer.indexOf("\r\n", at);
            if (end < 0)
                return -1;
            at = end + 2;
        }
        return at;
    };
    (void)QTest::qWaitFor([&] { return endOfLines() >= 0; }, timeoutMs);
    const qsizetype end = endOfLines();
    if (end < 0)
        return std::exchange(buffer, QByteArray());
    const QByteArray lines = buffer.left(end);
    buffer.remove(0, end);
    return lines;
}

void LineClient::send(const QByteArray& bytes)
{
    socket.write(bytes);
    socket.flush();
}
