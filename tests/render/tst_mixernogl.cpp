#include "app/logger.h"
#include "render/mixer.h"
#include "tests/common/testenv.h"
#include "tests/render/testreceiver.h"

#include <QDir>
#include <QGuiApplication>
#include <QQuickView>
#include <QSignalSpy>
#include <QTest>

// A window without OpenGL (Qt's software scene graph): the preview draws nothing, says so once
// through cannotInitialize and in the log, and the rest of the scene works.
class TestMixerNoGl : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportsMissingOpenGl()
    {
        const QString logs = TestEnv::makeFolder(QStringLiteral("logs"));
        Logger logger;
        Logger::init(logs + QStringLiteral("/log"));

        QQuickView view;
        view.setSource(QUrl::fromLocalFile(QStringLiteral(TESTS_SOURCE_DIR "/render/mixerscene.qml")));
        auto* mixer = view.rootObject()->findChild<Mixer*>(QStringLiteral("mixer"));
        QVERIFY(mixer);
        auto input = std::make_shared<TestReceiver>(64, 36, TestReceiver::Uyvy, Qt::red);
        mixer->setReceiverSources({ [input] { return std::static_pointer_cast<Receiver>(input); } });
        QSignalSpy failed(mixer, &Mixer::cannotInitializeChanged);
        view.resize(320, 180);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.rendererInterface()->graphicsApi(), QSGRendererInterface::Software);

        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toBool(), true);
        QVERIFY(mixer->cannotInitialize());
        QVERIFY(mixer->gpuName().isEmpty());

        // Further frames try again, but the reason is logged and the flag raised only once.
        QSignalSpy frames(&view, &QQuickWindow::frameSwapped);
        view.update();
        QTRY_VERIFY(frames.count() >= 3);
        QCOMPARE(logLines(logs).count(QStringLiteral("Cannot initialize OpenGL")), 1);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(mixer->statistics().paintCount, quint64(0));
        QCOMPARE(input->videoFrameCalls(), 0);
    }

private:
    static QStringList logLines(const QString& folder)
    {
        QStringList lines;
        for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files)) {
            QFile file(info.filePath());
            if (file.open(QIODevice::ReadOnly))
                for (const QByteArray& line : file.readAll().split('\n'))
                    if (line.size() > 20)
                        lines << QString::fromUtf8(line.mid(20)).trimmed();
        }
        return lines;
    }
};

int main(int argc, char* argv[])
{
    if (!TestEnv::hasDisplay()) {
        qInfo("SKIP: no X display for the preview tests");
        return 0;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QGuiApplication app(argc, argv);
    qmlRegisterType<Mixer>("StavelinRecorder", 1, 0, "Mixer");
    TestMixerNoGl test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mixernogl.moc"
