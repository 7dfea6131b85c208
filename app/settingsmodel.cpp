#include "app/settingsmodel.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QThreadPool>
#include <QUrl>

namespace {

QString defaultMoviesFolder()
{
    const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::MoviesLocation);
    return folders.isEmpty() ? QString() : folders.first();
}

} // namespace

SettingsModel::SettingsModel(QObject* parent)
    : QObject(parent)
{
    m_location = defaultMoviesFolder();
    m_locationB = m_location;

    QSettings settings;
    m_location = settings.value(QStringLiteral("defaultLocation"), m_location).toString();
    m_locationB = settings.value(QStringLiteral("defaultLocationB"), m_locationB).toString();
    m_tallyEnabled = settings.value(QStringLiteral("tallyEnabled"), m_tallyEnabled).toBool();
    m_abRecording = settings.value(QStringLiteral("abRecording"), m_abRecording).toBool();
    m_ebuLevels = settings.value(QStringLiteral("ebuLevels"), m_ebuLevels).toBool();
    // Nobody can be connected yet; start-up sets the slots' standard gain itself.
    Q_EMIT ebuLevelsChanged(m_ebuLevels);
    Q_EMIT standardGainChanged(m_ebuLevels ? -14.0f : -20.0f);

    m_startMaximized = settings.value(QStringLiteral("startMaximized"), m_startMaximized).toBool();
    m_gridDimensions = settings.value(QStringLiteral("gridDimensions"), m_gridDimensions).toInt();
    // Ports and minutes are 16-bit: a stored 70000 becomes 4464.
    m_tcpServerPort = ushort(settings.value(QStringLiteral("tcpServerPort"), m_tcpServerPort).toUInt());
    m_tcpServerEnabled = settings.value(QStringLiteral("tcpServerEnabled"), m_tcpServerEnabled).toBool();
    m_httpServerPort = ushort(settings.value(QStringLiteral("httpServerPort"), m_httpServerPort).toUInt());
    m_httpServerEnabled = settings.value(QStringLiteral("httpServerEnabled"), m_httpServerEnabled).toBool();
    m_chopEnabled = settings.value(QStringLiteral("chopEnabled"), m_chopEnabled).toBool();
    m_chopMinutes = ushort(settings.value(QStringLiteral("chopMinutes"), m_chopMinutes).toUInt());

    const GridShape shape = gridShapeFor(m_gridDimensions);
    m_gridWidth = shape.width;
    m_gridHeight = shape.height;
    m_gridExtra = shape.extra;
}

SettingsModel::~SettingsModel()
{
    QSettings settings;
    settings.setValue(QStringLiteral("defaultLocation"), m_location);
    settings.setValue(QStringLiteral("defaultLocationB"), m_locationB);
    settings.setValue(QStringLiteral("tallyEnabled"), m_tallyEnabled);
    settings.setValue(QStringLiteral("gridDimensions"), m_gridDimensions);
    settings.setValue(QStringLiteral("ebuLevels"), m_ebuLevels);
    settings.setValue(QStringLiteral("startMaximized"), m_startMaximized);
    settings.setValue(QStringLiteral("abRecording"), m_abRecording);
    settings.setValue(QStringLiteral("tcpServerPort"), uint(m_tcpServerPort));
    settings.setValue(QStringLiteral("tcpServerEnabled"), m_tcpServerEnabled);
    settings.setValue(QStringLiteral("httpServerPort"), uint(m_httpServerPort));
    settings.setValue(QStringLiteral("httpServerEnabled"), m_httpServerEnabled);
    settings.setValue(QStringLiteral("chopEnabled"), m_chopEnabled);
    settings.setValue(QStringLiteral("chopMinutes"), uint(m_chopMinutes));
    settings.sync();
}

SettingsModel* SettingsModel::instance()
{
    // Built on first use, destroyed (and so saved) by the process-exit handlers.
    static SettingsModel model;
    return &model;
}

SettingsModel::GridShape SettingsModel::gridShapeFor(int gridDimensions)
{
    switch (gridDimensions) {
    case 22: return {2, 2, 0};
    case 32: return {3, 2, 0};
    case 33: return {3, 3, 0};
    case 43: return {4, 3, 0};
    case 44: return {4, 4, 0};
    case 242: return {4, 2, 2};
    case 253: return {5, 3, 2};
    default: return {3, 3, 0};
    }
}

QUrl SettingsModel::urlForFolder(const QString& path)
{
    // A folder as the dialogs hold it ("/home/me/Videos", "D:/Rec") has no URL scheme of its own
    // (a drive letter would read as one), so anything that is not a URL is a local path.
    const QUrl url(path, QUrl::TolerantMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || scheme.isEmpty() || scheme.size() == 1)
        return QUrl::fromLocalFile(path);
    return url;
}

void SettingsModel::revealFolder(QString path)
{
    QThreadPool::globalInstance()->start([path] { QDesktopServices::openUrl(urlForFolder(path)); });
}

#define SETTER(Type, name, member, signal)      \
    void SettingsModel::name(Type value)        \
    {                                           \
        if (member == value)                    \
            return;                             \
        member = value;                         \
        Q_EMIT signal(value);                   \
    }

SETTER(QString, setLocation, m_location, locationChanged)
SETTER(bool, setTallyEnabled, m_tallyEnabled, tallyEnabledChanged)
SETTER(int, setGridDimensions, m_gridDimensions, gridDimensionsChanged)
SETTER(QString, setLocationB, m_locationB, locationBChanged)
SETTER(bool, setAbRecording, m_abRecording, abRecordingChanged)
SETTER(bool, setStartMaximized, m_startMaximized, startMaximizedChanged)
SETTER(ushort, setTcpServerPort, m_tcpServerPort, tcpServerPortChanged)
SETTER(bool, setTcpServerEnabled, m_tcpServerEnabled, tcpServerEnabledChanged)
SETTER(bool, setHttpServerEnabled, m_httpServerEnabled, httpServerEnabledChanged)
SETTER(ushort, setHttpServerPort, m_httpServerPort, httpServerPortChanged)
SETTER(bool, setChopEnabled, m_chopEnabled, chopEnabledChanged)
SETTER(ushort, setChopMinutes, m_chopMinutes, chopMinutesChanged)

#undef SETTER

void SettingsModel::setEbuLevels(bool ebuLevels)
{
    // Announces even an unchanged value: listeners re-apply the standard gain.
    m_ebuLevels = ebuLevels;
    Q_EMIT ebuLevelsChanged(ebuLevels);
    Q_EMIT standardGainChanged(ebuLevels ? -14.0f : -20.0f);
}
