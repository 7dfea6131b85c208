#include "app/directoryvalidator.h"
#include "app/logger.h"
#include "app/settingsmodel.h"
#include "app/unixsignalwatcher.h"

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

namespace {

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

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Stavelin"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("stavelin.tv"));
    QCoreApplication::setApplicationName(QStringLiteral("Recorder"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RECORDER_VERSION));

    auto logger = std::make_unique<Logger>();
    const QString logsFolder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/logs");
    QDir().mkpath(logsFolder);
    Logger::init(logsFolder + QStringLiteral("/log"));

    QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
    QSurfaceFormat format;
    format.setVersion(4, 0);
    format.setProfile(QSurfaceFormat::CoreProfile);
    QSurfaceFormat::setDefaultFormat(format);

    auto app = std::make_unique<QGuiApplication>(argc, argv);
    qInstallMessageHandler(&Logger::messageHandler);
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/recorder.png")));

    qmlRegisterType<DirectoryValidator>("StavelinRecorder", 1, 0, "DirectoryValidator");

    SettingsModel* settings = SettingsModel::instance();

    auto engine = std::make_unique<QQmlApplicationEngine>();
    auto palette = std::make_unique<QPalette>(applicationPalette());
    QGuiApplication::setPalette(*palette);

    const QUrl mainUrl(QStringLiteral("qrc:///main.qml"));
    QObject::connect(
        engine.get(), &QQmlApplicationEngine::objectCreated, app.get(),
        [mainUrl](QObject* object, const QUrl& url) {
            if (!object && url == mainUrl)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);

    QQmlContext* context = engine->rootContext();
    context->setContextProperty(QStringLiteral("Logger"), logger.get());
    context->setContextProperty(QStringLiteral("settingsModel"), settings);

    engine->load(mainUrl);

    UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, app.get(), [](int signalNumber) {
        Logger::write(QStringLiteral("Received signal %1, shutting down").arg(signalNumber));
        QCoreApplication::quit();
    });

    Logger::write(QStringLiteral("Application initialized"));
    const int result = QGuiApplication::exec();

    palette.reset();
    engine.reset();
    app.reset();
    logger.reset();
    return result;
}
