#pragma once

#include <QObject>
#include <QString>

// The persisted global settings. One instance per process (instance()); values are loaded at
// construction and written back at destruction only.
class SettingsModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString location READ location WRITE setLocation NOTIFY locationChanged)
    Q_PROPERTY(QString locationB READ locationB WRITE setLocationB NOTIFY locationBChanged)
    Q_PROPERTY(bool tallyEnabled READ tallyEnabled WRITE setTallyEnabled NOTIFY tallyEnabledChanged)
    Q_PROPERTY(bool abRecording READ abRecording WRITE setAbRecording NOTIFY abRecordingChanged)
    Q_PROPERTY(int gridDimensions READ gridDimensions WRITE setGridDimensions NOTIFY gridDimensionsChanged)
    Q_PROPERTY(int gridWidth READ gridWidth CONSTANT)
    Q_PROPERTY(int gridHeight READ gridHeight CONSTANT)
    Q_PROPERTY(int gridExtra READ gridExtra CONSTANT)
    Q_PROPERTY(bool ebuLevels READ ebuLevels WRITE setEbuLevels NOTIFY ebuLevelsChanged)
    Q_PROPERTY(bool startMaximized READ startMaximized WRITE setStartMaximized NOTIFY startMaximizedChanged)
    Q_PROPERTY(bool tcpServerEnabled READ tcpServerEnabled WRITE setTcpServerEnabled NOTIFY tcpServerEnabledChanged)
    Q_PROPERTY(ushort tcpServerPort READ tcpServerPort WRITE setTcpServerPort NOTIFY tcpServerPortChanged)
    Q_PROPERTY(bool httpServerEnabled READ httpServerEnabled WRITE setHttpServerEnabled NOTIFY httpServerEnabledChanged)
    Q_PROPERTY(ushort httpServerPort READ httpServerPort WRITE setHttpServerPort NOTIFY httpServerPortChanged)
    Q_PROPERTY(bool chopEnabled READ chopEnabled WRITE setChopEnabled NOTIFY chopEnabledChanged)
    Q_PROPERTY(ushort chopMinutes READ chopMinutes WRITE setChopMinutes NOTIFY chopMinutesChanged)
    // Both control servers: on this machine only, or on every interface; and the key that clients
    // must give when it is not empty.
    Q_PROPERTY(bool serverLocalOnly READ serverLocalOnly WRITE setServerLocalOnly NOTIFY serverLocalOnlyChanged)
    Q_PROPERTY(QString serverAccessKey READ serverAccessKey WRITE setServerAccessKey NOTIFY serverAccessKeyChanged)

public:
    // Tests construct their own; the application uses instance().
    explicit SettingsModel(QObject* parent = nullptr);
    ~SettingsModel() override;

    static SettingsModel* instance();

    struct GridShape {
        int width;
        int height;
        int extra;
    };
    // Unknown codes give 3 x 3 without special slots.
    static GridShape gridShapeFor(int gridDimensions);

    QString location() const { return m_location; }
    QString locationB() const { return m_locationB; }
    bool tallyEnabled() const { return m_tallyEnabled; }
    bool abRecording() const { return m_abRecording; }
    int gridDimensions() const { return m_gridDimensions; }
    int gridWidth() const { return m_gridWidth; }
    int gridHeight() const { return m_gridHeight; }
    int gridExtra() const { return m_gridExtra; }
    bool ebuLevels() const { return m_ebuLevels; }
    bool startMaximized() const { return m_startMaximized; }
    bool tcpServerEnabled() const { return m_tcpServerEnabled; }
    ushort tcpServerPort() const { return m_tcpServerPort; }
    bool httpServerEnabled() const { return m_httpServerEnabled; }
    ushort httpServerPort() const { return m_httpServerPort; }
    bool chopEnabled() const { return m_chopEnabled; }
    ushort chopMinutes() const { return m_chopMinutes; }
    bool serverLocalOnly() const { return m_serverLocalOnly; }
    // The level the meters' scale is set to: EBU -14, SMPTE -20 (dB).
    float standardGain() const { return standardGainFor(m_ebuLevels); }
    Q_INVOKABLE static float standardGainFor(bool ebuLevels) { return ebuLevels ? -14.0f : -20.0f; }
    QString serverAccessKey() const { return m_serverAccessKey; }

public Q_SLOTS:
    static void revealFolder(QString path);
    void setLocation(QString location);
    void setTallyEnabled(bool tallyEnabled);
    void setGridDimensions(int gridDimensions);
    void setEbuLevels(bool ebuLevels);
    void setLocationB(QString locationB);
    void setAbRecording(bool abRecording);
    void setStartMaximized(bool startMaximized);
    void setTcpServerPort(ushort tcpServerPort);
    void setTcpServerEnabled(bool tcpServerEnabled);
    void setHttpServerEnabled(bool httpServerEnabled);
    void setHttpServerPort(ushort httpServerPort);
    void setChopEnabled(bool chopEnabled);
    void setChopMinutes(ushort chopMinutes);
    void setServerLocalOnly(bool serverLocalOnly);
    void setServerAccessKey(QString serverAccessKey);

Q_SIGNALS:
    void locationChanged(QString location);
    void tallyEnabledChanged(bool tallyEnabled);
    void gridDimensionsChanged(int gridDimensions);
    void ebuLevelsChanged(bool ebuLevels);
    void standardGainChanged(float gain);
    void locationBChanged(QString locationB);
    void abRecordingChanged(bool abRecording);
    void startMaximizedChanged(bool startMaximized);
    void tcpServerPortChanged(ushort tcpServerPort);
    void tcpServerEnabledChanged(bool tcpServerEnabled);
    void httpServerEnabledChanged(bool httpServerEnabled);
    void httpServerPortChanged(ushort httpServerPort);
    void chopEnabledChanged(bool chopEnabled);
    void chopMinutesChanged(ushort chopMinutes);
    void serverLocalOnlyChanged(bool serverLocalOnly);
    void serverAccessKeyChanged(QString serverAccessKey);

public:
    // What revealFolder hands to the desktop: plain paths become local-file URLs.
    static QUrl urlForFolder(const QString& path);

private:
    QString m_location;
    QString m_locationB;
    bool m_tallyEnabled = true;
    // Off until chosen: a second location is no use before its folder exists.
    bool m_abRecording = false;
    int m_gridDimensions = 33;
    int m_gridWidth = 3;
    int m_gridHeight = 3;
    int m_gridExtra = 0;
    bool m_ebuLevels = false;
    bool m_startMaximized = false;
    bool m_tcpServerEnabled = false;
    ushort m_tcpServerPort = 9099;
    bool m_httpServerEnabled = false;
    ushort m_httpServerPort = 9098;
    bool m_chopEnabled = false;
    ushort m_chopMinutes = 30;
    bool m_serverLocalOnly = false;
    QString m_serverAccessKey;
};
