#include "app/directoryvalidator.h"
#include "app/settingsmodel.h"
#include "tests/common/testenv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <sys/mount.h>
#include <unistd.h>

class TestSettingsModel : public QObject
{
    Q_OBJECT

private:
    static void clearStore()
    {
        QSettings settings;
        settings.clear();
        settings.sync();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Stavelin"));
        QCoreApplication::setApplicationName(QStringLiteral("Recorder"));
        QVERIFY(QSettings().fileName().startsWith(TestEnv::root()));
    }

    void init() { clearStore(); }

    void defaultsOnEmptyStore()
    {
        SettingsModel model;
        const QString movies = QStandardPaths::standardLocations(QStandardPaths::MoviesLocation).first();
        QCOMPARE(model.location(), movies);
        QCOMPARE(model.locationB(), movies);
        QVERIFY(model.tallyEnabled());
        QVERIFY(model.abRecording());
        QCOMPARE(model.gridDimensions(), 33);
        QCOMPARE(model.gridWidth(), 3);
        QCOMPARE(model.gridHeight(), 3);
        QCOMPARE(model.gridExtra(), 0);
        QVERIFY(!model.ebuLevels());
        QVERIFY(!model.startMaximized());
        QVERIFY(!model.tcpServerEnabled());
        QCOMPARE(model.tcpServerPort(), ushort(9099));
        QVERIFY(!model.httpServerEnabled());
        QCOMPARE(model.httpServerPort(), ushort(9098));
        QVERIFY(!model.chopEnabled());
        QCOMPARE(model.chopMinutes(), ushort(30));
    }

    void oddStoredValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("expected");
        QTest::addRow("port 70000 falls back")
            << "tcpServerPort" << QVariant(70000) << QByteArray("tcpServerPort") << QVariant(9099);
        QTest::addRow("port 65536 falls back")
            << "httpServerPort" << QVariant(65536) << QByteArray("httpServerPort") << QVariant(9098);
        QTest::addRow("port -1 falls back")
            << "httpServerPort" << QVariant(-1) << QByteArray("httpServerPort") << QVariant(9098);
        QTest::addRow("port 0 falls back")
            << "tcpServerPort" << QVariant(0) << QByteArray("tcpServerPort") << QVariant(9099);
        QTest::addRow("port 65535 kept") << "tcpServerPort" << QVariant(65535) << QByteArray("tcpServerPort")
                                         << QVariant(65535);
        QTest::addRow("http port as text")
            << "httpServerPort" << QVariant(QStringLiteral("8080")) << QByteArray("httpServerPort") << QVariant(8080);
        QTest::addRow("text where a number belongs")
            << "chopMinutes" << QVariant(QStringLiteral("soon")) << QByteArray("chopMinutes") << QVariant(0);
        QTest::addRow("minutes 65536 wraps to 0")
            << "chopMinutes" << QVariant(65536) << QByteArray("chopMinutes") << QVariant(0);
        QTest::addRow("boolean stored as text")
            << "tallyEnabled" << QVariant(QStringLiteral("false")) << QByteArray("tallyEnabled") << QVariant(false);
        QTest::addRow("layout 99 kept") << "gridDimensions" << QVariant(99) << QByteArray("gridDimensions")
                                        << QVariant(99);
        QTest::addRow("layout 99 derives 3 wide")
            << "gridDimensions" << QVariant(99) << QByteArray("gridWidth") << QVariant(3);
        QTest::addRow("layout 253 width")
            << "gridDimensions" << QVariant(253) << QByteArray("gridWidth") << QVariant(5);
        QTest::addRow("layout 253 extra")
            << "gridDimensions" << QVariant(253) << QByteArray("gridExtra") << QVariant(2);
        QTest::addRow("layout 242 height")
            << "gridDimensions" << QVariant(242) << QByteArray("gridHeight") << QVariant(2);
        QTest::addRow("layout 43 height")
            << "gridDimensions" << QVariant(43) << QByteArray("gridHeight") << QVariant(3);
        QTest::addRow("location key differs from property")
            << "defaultLocationB" << QVariant(QStringLiteral("D:/Rec")) << QByteArray("locationB")
            << QVariant(QStringLiteral("D:/Rec"));
    }
    void oddStoredValues()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, expected);
        {
            QSettings settings;
            settings.setValue(key, stored);
        }
        SettingsModel model;
        QCOMPARE(model.property(property.constData()).toInt(), expected.toInt());
        if (expected.typeId() == QMetaType::QString)
            QCOMPARE(model.property(property.constData()).toString(), expected.toString());
    }

    void writesItsKeysAtDestructionOnly()
    {
        {
            QSettings settings;
            settings.setValue(QStringLiteral("gridDimensions"), 99);
            settings.setValue(QStringLiteral("tcpServerPort"), 70000);
        }
        {
            SettingsModel model;
            model.setLocation(QStringLiteral("/rec/a"));
            model.setChopEnabled(true);
            model.setHttpServerPort(8081);
            // Nothing is written before destruction.
            QCOMPARE(QSettings().value(QStringLiteral("defaultLocation")), QVariant());
        }
        QSettings settings;
        QStringList keys = settings.allKeys();
        keys.sort();
        QCOMPARE(keys,
            QStringList({ "abRecording", "chopEnabled", "chopMinutes", "defaultLocation", "defaultLocationB",
                "ebuLevels", "gridDimensions", "httpServerEnabled", "httpServerPort", "serverAccessKey",
                "serverLocalOnly", "startMaximized", "tallyEnabled", "tcpServerEnabled", "tcpServerPort" }));
        QCOMPARE(settings.value(QStringLiteral("defaultLocation")).toString(), QStringLiteral("/rec/a"));
        QCOMPARE(settings.value(QStringLiteral("gridDimensions")).toInt(), 99);
        // A bad port is never saved back.
        QCOMPARE(settings.value(QStringLiteral("tcpServerPort")).toInt(), 9099);
        QCOMPARE(settings.value(QStringLiteral("httpServerPort")).toInt(), 8081);
        QCOMPARE(settings.value(QStringLiteral("chopEnabled")).toBool(), true);
    }

    // A file that cannot be read is replaced at exit, but a copy of it stays beside it.
    void unreadableFileIsKept()
    {
        const QString file = QSettings().fileName();
        const QByteArray garbage("[General\ntcpServerPort=9200\n\x01\xff[[[\n");
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(garbage);
        }
        {
            SettingsModel model;
        }
        const QFileInfo info(file);
        const QStringList copies = info.dir().entryList(
            { info.completeBaseName() + QStringLiteral(" unreadable *.") + info.suffix() }, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QFile copy(info.dir().filePath(copies.first()));
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), garbage);
        QCOMPARE(QSettings().status(), QSettings::NoError);
        QVERIFY(QFile::remove(copy.fileName()));
    }

    void setterSignals()
    {
        SettingsModel model;
        QSignalSpy port(&model, &SettingsModel::tcpServerPortChanged);
        QSignalSpy location(&model, &SettingsModel::locationBChanged);
        QSignalSpy grid(&model, &SettingsModel::gridDimensionsChanged);
        model.setTcpServerPort(9099);
        QCOMPARE(port.count(), 0);
        model.setTcpServerPort(9100);
        QCOMPARE(port.count(), 1);
        QCOMPARE(port.at(0).at(0).value<ushort>(), ushort(9100));
        model.setLocationB(QStringLiteral("/b"));
        model.setLocationB(QStringLiteral("/b"));
        QCOMPARE(location.count(), 1);
        model.setGridDimensions(253);
        QCOMPARE(grid.count(), 1);
        // The grid shape is fixed for the run.
        QCOMPARE(model.gridWidth(), 3);
        QCOMPARE(model.gridExtra(), 0);
    }

    void ebuLevelsAlwaysAnnounces()
    {
        SettingsModel model;
        QSignalSpy ebu(&model, &SettingsModel::ebuLevelsChanged);
        QSignalSpy gain(&model, &SettingsModel::standardGainChanged);
        QList<QByteArray> order;
        connect(&model, &SettingsModel::ebuLevelsChanged, this, [&] { order << "ebu"; });
        connect(&model, &SettingsModel::standardGainChanged, this, [&] { order << "gain"; });
        model.setEbuLevels(false); // unchanged, still announced
        model.setEbuLevels(true);
        QCOMPARE(order, QList<QByteArray>({ "ebu", "gain", "ebu", "gain" }));
        QCOMPARE(ebu.at(0).at(0).toBool(), false);
        QCOMPARE(gain.at(0).at(0).toFloat(), -20.0f);
        QCOMPARE(ebu.at(1).at(0).toBool(), true);
        QCOMPARE(gain.at(1).at(0).toFloat(), -14.0f);
    }

    void revealFolderUrls_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QUrl>("url");
        QTest::addRow("unix folder") << "/home/me/Videos" << QUrl::fromLocalFile(QStringLiteral("/home/me/Videos"));
        QTest::addRow("drive letter") << "D:/Rec" << QUrl::fromLocalFile(QStringLiteral("D:/Rec"));
        QTest::addRow("folder with blank and hash")
            << "/rec/Cam 1 #2" << QUrl::fromLocalFile(QStringLiteral("/rec/Cam 1 #2"));
        QTest::addRow("file url passes") << "file:///srv/rec" << QUrl(QStringLiteral("file:///srv/rec"));
        QTest::addRow("web url passes") << "https://example.org/x" << QUrl(QStringLiteral("https://example.org/x"));
    }
    void revealFolderUrls()
    {
        QFETCH(QString, path);
        QFETCH(QUrl, url);
        QCOMPARE(SettingsModel::urlForFolder(path), url);
    }

    void validator_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("state");
        QTest::addRow("writable folder") << "folder" << int(QValidator::Acceptable);
        QTest::addRow("file") << "file" << int(QValidator::Intermediate);
        QTest::addRow("missing path") << "missing" << int(QValidator::Intermediate);
        QTest::addRow("empty text") << "empty" << int(QValidator::Intermediate);
    }
    void validator()
    {
        QFETCH(QString, kind);
        QFETCH(int, state);
        const QString folder = TestEnv::makeFolder(QStringLiteral("validator"));
        QString input;
        if (kind == QLatin1String("folder"))
            input = folder;
        else if (kind == QLatin1String("file")) {
            input = folder + QStringLiteral("/file.txt");
            QFile file(input);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (kind == QLatin1String("missing"))
            input = folder + QStringLiteral("/nothing/here");
        const QString before = input;
        int position = 3;
        DirectoryValidator validator;
        QCOMPARE(int(validator.validate(input, position)), state);
        QCOMPARE(input, before);
        QCOMPARE(position, 3);
    }

    void validatorRefusesReadOnlyFolder()
    {
        QString folder = TestEnv::makeFolder(QStringLiteral("readonly"));
        if (::geteuid() == 0) {
            // Root writes through permission bits; only a read-only file system stops it.
            if (::mount("tmpfs", folder.toLocal8Bit().constData(), "tmpfs", MS_RDONLY, "size=1m") != 0)
                QSKIP("cannot mount a read-only file system here (no permission)");
        } else {
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        }
        DirectoryValidator validator;
        int position = 0;
        const QValidator::State state = validator.validate(folder, position);
        if (::geteuid() == 0)
            ::umount(folder.toLocal8Bit().constData());
        QCOMPARE(int(state), int(QValidator::Intermediate));
    }
};

QTEST_GUILESS_MAIN(TestSettingsModel)
#include "tst_settingsmodel.moc"
