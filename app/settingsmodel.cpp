#include "app/settingsmodel.h"

#include "app/logger.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QThreadPool>
#include <QUrl>

#include <algorithm>

namespace
{

QString defaultMoviesFolder()
{
    const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::MoviesLocation);
    return folders.isEmpty() ? QString() : folders.first();
}

// A file that could not be read is rewritten at exit: what it held is kept beside it first.
void keepUnreadable(const QSettings& settings)
{
    const QString file = settings.fileName();
    const QFileInfo info(file);
    const QString copy = info.dir().filePath(info.completeBaseName() + QStringLiteral(" unreadable ")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss")) + QLatin1Char('.')
        + info.suffix());
    if (QFile::copy(file, copy))
        Logger::write(QStringLiteral("Settings file %1 could not be read and will be replaced; it is kept as %2")
                          .arg(QDir::toNativeSeparators(file), QDir::toNativeSeparators(copy)));
    else
        Logger::write(QStringLiteral("Settings file %1 could not be read and will be replaced; no copy could be kept")
                          .arg(QDir::toNativeSeparators(file)));
}

// Bytes the settings store never writes: whatever they held is lost when the file is rewritten,
// even where the parser reported no error.
bool holdsNonText(const QString& file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    return decoder.hasError() || std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.category() == QChar::Other_Control && c != QLatin1Char('\n') && c != QLatin1Char('\r')
            && c != QLatin1Char('\t');
    });
}

// A port outside 1-65535 would become another one (or a random one on every interface).
ushort storedPort(const QSettings& settings, const QString& key, ushort fallback)
{
    if (!settings.contains(key))
        return fallback;
    bool ok = false;
    const int port = settings.value(key).toString().trimmed().toInt(&ok);
    if (ok && port >= 1 && port <= 65535)
        return ushort(port);
    Logger::write(QStringLiteral("Setting %1 holds no valid port (\"%2\"): using %3")
                      .arg(key, settings.value(key).toString(), QString::number(fallback)));
    return fallback;
}

} // namespace

SettingsModel::SettingsModel(QObject* parent)
    : QObject(parent)
{
    m_location = defaultMoviesFolder();
    m_locationB = m_location;

    QSettings settings;
    // A first run has no file yet: nothing to keep, nothing to warn about.
    if (QFile::exists(settings.fileName())
        && (settings.status() != QSettings::NoError || holdsNonText(settings.fileName())))
        keepUnreadable(settings);
    m_location = settings.value(QStringLiteral("defaultLocation"), m_location).toString();
    m_locationB = settings.value(QStringLiteral("defaultLocationB"), m_locationB).toString();
    m_tallyEnabled = settings.value(QStringLiteral("tallyEnabled"), m_tallyEnabled).toBool();
    m_abRecording = settings.value(QStringLiteral("abRecording"), m_abRecording).toBool();
    m_ebuLevels = settings.value(QStringLiteral("ebuLevels"), m_ebuLevels).toBool();
    // Nobody can be connected yet; start-up sets the slots' standard gain itself.
    Q_EMIT ebuLevelsChanged(m_ebuLevels);
    Q_EMIT standardGainChanged(standardGain());

    m_startMaximized = settings.value(QStringLiteral("startMaximized"), m_startMaximized).toBool();
    m_gridDimensions = settings.value(QStringLiteral("gridDimensions"), m_gridDimensions).toInt();
    m_tcpServerPort = storedPort(settings, QStringLiteral("tcpServerPort"), m_tcpServerPort);
    m_tcpServerEnabled = settings.value(QStringLiteral("tcpServerEnabled"), m_tcpServerEnabled).toBool();
    m_httpServerPort = storedPort(settings, QStringLiteral("httpServerPort"), m_httpServerPort);
    m_httpServerEnabled = settings.value(QStringLiteral("httpServerEnabled"), m_httpServerEnabled).toBool();
    m_chopEnabled = settings.value(QStringLiteral("chopEnabled"), m_chopEnabled).toBool();
    // Minutes are 16-bit: a stored 70000 becomes 4464.
    m_chopMinutes = ushort(settings.value(QStringLiteral("chopMinutes"), m_chopMinutes).toUInt());

    m_serverLocalOnly = settings.value(QStringLiteral("serverLocalOnly"), m_serverLocalOnly).toBool();
    m_serverAccessKey = settings.value(QStringLiteral("serverAccessKey"), m_serverAccessKey).toString();

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
    settings.setValue(QStringLiteral("serverLocalOnly"), m_serverLocalOnly);
    settings.setValue(QStringLiteral("serverAccessKey"), m_serverAccessKey);
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
    case 22: return { 2, 2, 0 };
    case 32: return { 3, 2, 0 };
    case 33: return { 3, 3, 0 };
    case 43: return { 4, 3, 0 };
    case 44: return { 4, 4, 0 };
    case 242: return { 4, 2, 2 };
    case 253: return { 5, 3, 2 };
    default: return { 3, 3, 0 };
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

#define SETTER(Type, name, member, signal) \
    void SettingsModel::name(Type value)   \
    {                                      \
        if (member == value)               \
            return;                        \
        member = value;                    \
        Q_EMIT signal(value);              \
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
SETTER(bool, setServerLocalOnly, m_serverLocalOnly, serverLocalOnlyChanged)
SETTER(QString, setServerAccessKey, m_serverAccessKey, serverAccessKeyChanged)

#undef SETTER

void SettingsModel::setEbuLevels(bool ebuLevels)
{
    // Announces even an unchanged value: listeners re-apply the standard gain.
    m_ebuLevels = ebuLevels;
    Q_EMIT ebuLevelsChanged(ebuLevels);
    Q_EMIT standardGainChanged(standardGain());
}
