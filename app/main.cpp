#include "app/logger.h"
#include "app/openfilelimit.h"
#include "app/settingsmodel.h"
#include "app/terminationwatcher.h"
#include "audio/slotlistaudiohelper.h"
#include "ndi/ndifind.h"
#include "ndi/sourcesmodel.h"
#include "recording/processlifetime.h"
#include "remote/httpserver.h"
#include "remote/tcpapiserver.h"
#include "render/mixer.h"
#include "slots/recordingsummary.h"
#include "slots/recordwriter.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QSurfaceFormat>

#include <memory>

namespace
{

QPalette applicationPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(53, 53, 53));
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Base, QColor(30, 30, 30));
    palette.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
    palette.setColor(QPalette::ToolTipBase, QColor(30, 30, 30));
    palette.setColor(QPalette::ToolTipText, QColor(188, 188, 188));
    palette.setColor(QPalette::Text, Qt::white);
    palette.setColor(QPalette::Button, QColor(53, 53, 53));
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::Inactive, QPalette::ButtonText, Qt::gray);
    palette.setColor(QPalette::Active, QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Light, QColor(53, 53, 53));
    palette.setColor(QPalette::Midlight, QColor(50, 50, 50));
    palette.setColor(QPalette::Mid, QColor(35, 35, 35));
    palette.setColor(QPalette::Dark, QColor(188, 188, 188));
    palette.setColor(QPalette::Highlight, QColor(129, 41, 254));
    palette.setColor(QPalette::HighlightedText, Qt::black);
    return palette;
}

// The preview item anywhere under the main window (it may sit inside a loader).
Mixer* findMixer(QObject* root)
{
    if (root->objectName() == QLatin1String("mixer"))
        return qobject_cast<Mixer*>(root);
    return root->findChild<Mixer*>(QStringLiteral("mixer"), Qt::FindChildrenRecursively);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Stavelin"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("stavelin.tv"));
    QCoreApplication::setApplicationName(QStringLiteral("Recorder"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RECORDER_VERSION));

    auto logger = std::make_unique<Logger>();
    const QString logsFolder
        = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/logs");
    QDir().mkpath(logsFolder);
    Logger::init(logsFolder + QStringLiteral("/log"));
    // Control clients, recording programs and the network's files all take descriptors.
    const QString openFiles = OpenFileLimit::raiseToHardLimit();
    if (!openFiles.isEmpty())
        Logger::write(openFiles);

    QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
    QSurfaceFormat format;
    format.setVersion(4, 0);
    format.setProfile(QSurfaceFormat::CoreProfile);
    QSurfaceFormat::setDefaultFormat(format);

    auto app = std::make_unique<QGuiApplication>(argc, argv);
    qInstallMessageHandler(&Logger::messageHandler);
    QGuiApplication::setWindowIcon(
        QIcon(QStringLiteral(":/qt-project.org/imports/StavelinRecorder/icons/recorder.png")));

    // From here on a request to end from outside (SIGTERM, the session ending) ends the event loop
    // like closing the window does; one that arrives during start-up is handled as soon as the loop
    // runs.
    auto terminationWatcher = std::make_unique<TerminationWatcher>();
    QObject::connect(
        terminationWatcher.get(), &TerminationWatcher::terminationRequested, app.get(), [](const QString& what) {
            Logger::write(QStringLiteral("Received %1, shutting down").arg(what));
            // Not quit(): the window refuses to close while recording, and a termination request
            // must still end the run in order, so that the recordings are finished and the settings
            // written.
            QCoreApplication::exit(0);
        });

    // Discovery runs on its own thread: announcements reach the model queued.
    auto sourcesModel = std::make_unique<SourcesModel>();
    QObject::connect(NDIFind::instance(), &NDIFind::sourceAdded, sourcesModel.get(), &SourcesModel::sourceAdded);
    Slot::setSourcesModel(sourcesModel.get());

    auto slotList = std::make_unique<SlotListModel>(nullptr, QByteArray(), QByteArray());
    SettingsModel* settings = SettingsModel::instance();
    // Special slots first, so that they are slots 1 and 2.
    slotList->createSlots(settings->gridWidth(), settings->gridHeight(), settings->gridExtra());
    QStringList recordingFolders;
    for (const Slot* slot : slotList->allSlots())
        recordingFolders += slot->recordingFolders();
    recordingFolders.removeDuplicates();
    RecordWriter::instance()->finishStale(recordingFolders);
    auto slotsRecorder = std::make_unique<SlotListRecorder>(slotList.get());
    auto recordingSummary = std::make_unique<RecordingSummary>(slotList.get());
    // Starts the audio output thread, which meters every slot from now on.
    auto slotsAudioHelper = std::make_unique<SlotListAudioHelper>(slotList.get());

    auto engine = std::make_unique<QQmlApplicationEngine>();
    auto palette = std::make_unique<QPalette>(applicationPalette());
    QGuiApplication::setPalette(*palette);

    const QUrl mainUrl(QStringLiteral("qrc:/qt-project.org/imports/StavelinRecorder/main.qml"));
    QObject::connect(
        engine.get(), &QQmlApplicationEngine::objectCreated, app.get(),
        [mainUrl](QObject* object, const QUrl& url) {
            if (!object && url == mainUrl)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);

    QQmlContext* context = engine->rootContext();
    context->setContextProperty(QStringLiteral("Logger"), logger.get());
    context->setContextProperty(QStringLiteral("myModel"), sourcesModel.get());
    context->setContextProperty(QStringLiteral("settingsModel"), settings);

    // The settings announced their gain while being built, before anyone listened.
    QObject::connect(settings, &SettingsModel::standardGainChanged, &Slot::setStandardGain);
    Slot::setStandardGain(settings->standardGain());

    context->setContextProperty(QStringLiteral("slotsModel"), slotList.get());
    context->setContextProperty(QStringLiteral("slotsRecorder"), slotsRecorder.get());
    context->setContextProperty(QStringLiteral("slotsAudioHelper"), slotsAudioHelper.get());
    context->setContextProperty(QStringLiteral("recordingSummary"), recordingSummary.get());

    engine->load(mainUrl);

    // The preview item draws the full slot list; without a main window there is nothing to draw.
    if (!engine->rootObjects().isEmpty()) {
        if (auto* mixer = findMixer(engine->rootObjects().constFirst()))
            mixer->setSlotList(slotList.get());
    }

    // Each starts listening by itself when switched on in the settings.
    auto tcpServer = std::make_unique<TcpApiServer>(
        slotList.get(), slotsAudioHelper.get(), slotsRecorder.get(), sourcesModel.get(), settings);
    auto httpServer = std::make_unique<HttpServer>(
        slotList.get(), slotsAudioHelper.get(), slotsRecorder.get(), sourcesModel.get(), settings);
    // The HTTP server goes first at the end, so the TCP server outlives every call of this.
    httpServer->setTcpClientCount([tcp = tcpServer.get()] { return tcp->clientCount(); });

    Logger::write(QStringLiteral("Application initialized"));
    const int result = QGuiApplication::exec();

    // Remote clients go first: nothing may command the slots while they are torn down.
    httpServer.reset();
    tcpServer.reset();
    palette.reset();
    engine.reset();
    // Waits for the audio thread to end before the slots it meters go.
    slotsAudioHelper.reset();
    slotsRecorder.reset();
    // Each slot writes its settings as it goes, and tells its recording program to finish.
    slotList.reset();
    ProcessLifetime::awaitChildren(std::chrono::seconds(10));
    sourcesModel.reset();
    terminationWatcher.reset();
    app.reset();
    logger.reset();
    return result;
}
