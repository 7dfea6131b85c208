#include "app/directoryvalidator.h"
#include "app/settingsmodel.h"
#include "tests/common/testenv.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <sys/mount.h>
#include <unistd.h>

class TestSettingsModel : public QObject
{
    Q_OBJECT
    // The model's view of a store holding only the given keys.
    static QVariant seen(const QVariantMap& stored, const char* property)
    {
        QSettings().clear();
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            QSettings().setValue(it.key(), it.value());
        return SettingsModel().property(property);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Stavelin")),
            QCoreApplication::setApplicationName(QStringLiteral("Recorder"));
        QVERIFY(QSettings().fileName().startsWith(TestEnv::root()));
    }

    void defaultsAndOddStoredValues()
    {
        const QString movies = QStandardPaths::standardLocations(QStandardPaths::MoviesLocation).first();
        const struct {
            QVariantMap stored;
            const char* property;
            QVariant expected;
        } rows[] = {
            { {}, "location", movies },
            { {}, "locationB", movies },
            { {}, "tallyEnabled", true },
            { {}, "abRecording", false },
            { {}, "gridHeight", 3 },
            { {}, "tcpServerEnabled", false },
            { {}, "chopEnabled", false },
            { {}, "chopMinutes", 30 },
            { { { "tcpServerPort", 70000 } }, "tcpServerPort", 9099 },
            { { { "httpServerPort", 0 } }, "httpServerPort", 9098 },
            { { { "tcpServerPort", 65535 } }, "tcpServerPort", 65535 },
            { { { "tcpServerPort", 1 } }, "tcpServerPort", 1 },
            { { { "httpServerPort", "8080" } }, "httpServerPort", 8080 },
            { { { "chopMinutes", "soon" } }, "chopMinutes", 0 },
            { { { "tallyEnabled", "false" } }, "tallyEnabled", false },
            { { { "gridDimensions", 253 } }, "gridWidth", 5 },
            { { { "gridDimensions", 253 } }, "gridHeight", 3 },
            { { { "gridDimensions", 253 } }, "gridExtra", 2 },
            { { { "gridDimensions", 99 } }, "gridWidth", 3 },
            { { { "defaultLocationB", "D:/Rec" } }, "locationB", "D:/Rec" },
        };
        for (const auto& row : rows)
            QVERIFY2(seen(row.stored, row.property).toString() == row.expected.toString(), row.property);
        QCOMPARE(SettingsModel().standardGain(), -20.0f); // the meters' reference follows the choice
        QSettings().setValue(QStringLiteral("ebuLevels"), true);
        QCOMPARE(SettingsModel().standardGain(), -14.0f);
    }

    // Written at destruction only, every key, and a bad port is never saved back.
    void writesItsKeysAtDestruction()
    {
        QSettings().clear();
        QSettings().setValue(QStringLiteral("tcpServerPort"), 70000);
        {
            SettingsModel model;
            model.setLocation(QStringLiteral("/rec/a"));
            model.setHttpServerPort(8081);
            QCOMPARE(QSettings().value(QStringLiteral("defaultLocation")), QVariant());
        }
        QSettings settings;
        QCOMPARE(QVariantList({ settings.allKeys().size(), settings.value("defaultLocation"),
                     settings.value("tcpServerPort"), settings.value("httpServerPort") }),
            QVariantList({ 15, "/rec/a", "9099", "8081" }));
    }

    // A file that cannot be read, or holds what is no text, is replaced at exit, but a copy of it
    // stays beside it.
    void unreadableFileIsKept_data()
    {
        QTest::addColumn<QByteArray>("garbage");
        QTest::addRow("broken section") << QByteArray("[General\ntcpServerPort=9200\n\x01\xff[[[\n");
        QTest::addRow("keys among NULs") << QByteArray("tcpServerPort=9200\nchop\0Enabled=true\n", 37);
    }

    void unreadableFileIsKept()
    {
        QFETCH(QByteArray, garbage);
        const QFileInfo info(QSettings().fileName());
        QFile out(info.filePath());
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(garbage) && out.flush());
        SettingsModel();
        const QStringList copies = info.dir().entryList({ info.completeBaseName() + " unreadable *." + info.suffix() });
        QFile copy(info.dir().filePath(copies.value(0)));
        QVERIFY(copies.size() == 1 && copy.open(QIODevice::ReadOnly) && copy.readAll() == garbage && copy.remove());
    }

    void revealFolderUrls()
    {
        for (const QString path :
            { "/home/me/Videos", "D:/Rec", "/rec/Cam 1 #2", "file:///srv/rec", "https://example.org/x" })
            QCOMPARE(SettingsModel::urlForFolder(path),
                path.contains(':') && path.size() > 6 ? QUrl(path) : QUrl::fromLocalFile(path));
    }

    // Missing and empty folders are the settings fields' test; a file or an unwritable folder is none.
    void validator()
    {
        const QString folder = TestEnv::makeFolder(QStringLiteral("validator")),
                      readOnly = TestEnv::makeFolder(QStringLiteral("readonly"));
        QFile(folder + "/file").open(QIODevice::WriteOnly);
        // Root writes through permission bits; only a read-only file system stops it.
        const bool sealed = ::geteuid() ? QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner)
                                        : ::mount("tmpfs", qPrintable(readOnly), "tmpfs", MS_RDONLY, "size=1m") == 0;
        int position = 3;
        for (auto [input, problem] : { std::pair(folder + "/file", "Not a folder but a file: choose a folder"),
                 sealed ? std::pair(readOnly, "Folder cannot be written to: choose another")
                        : std::pair(QString(), "No folder: choose one") }) {
            QCOMPARE(DirectoryValidator::problem(input), QLatin1String(problem));
            QCOMPARE(DirectoryValidator().validate(input, position), QValidator::Intermediate);
        }
        if (::geteuid() == 0 && sealed)
            ::umount(qPrintable(readOnly));
    }
};

QTEST_GUILESS_MAIN(TestSettingsModel)
#include "tst_settingsmodel.moc"
