#include "app/logger.h"
#include "app/settingsmodel.h"
#include "tests/common/testenv.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <numeric>
#include <thread>

// Each run is a child process of this test, as init() happens once per process.
static int childMain(const QString& mode, const QString& prefix)
{
    qInstallMessageHandler(&Logger::messageHandler);
    Logger logger;
    Logger::init(prefix);
    qWarning("a Qt warning that must vanish");
    qCritical("a critical message");
    std::vector<std::thread> threads(mode == QLatin1String("threads") ? 8 : 0);
    for (size_t t = 0; t < threads.size(); ++t)
        threads[t] = std::thread([t] {
            for (int i = 0; i < 200; ++i)
                Logger::write(QStringLiteral("thread %1 line %2 ").arg(t).arg(i) + QString(200, 'x'));
        });
    std::for_each(threads.begin(), threads.end(), [](std::thread& t) { t.join(); });
    Logger::write(mode);
    return 0;
}

// The log and the settings: what the app keeps of a run and across runs.
class TestApp : public QObject
{
    Q_OBJECT
    QByteArray stdErr;
    // Runs a child; the lines of each file in the folder afterwards.
    QList<QStringList> run(const QString& mode, const QString& folder, bool withFile = true)
    {
        QProcess child;
        child.start(
            QCoreApplication::applicationFilePath(), { "--child", mode, withFile ? folder + "/log" : QString() });
        stdErr = child.waitForFinished(30000) ? child.readAllStandardError() : QByteArray();
        QList<QStringList> files;
        for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files, QDir::Name)) {
            QFile file(info.filePath());
            files << (file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                                     : QStringList());
        }
        return files;
    }

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

    // A name with control characters cannot start a line of its own.
    void lineAndFileNames_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("line");
        QTest::addRow("plain") << "Source added: カメラ"
                               << "Source added: カメラ";
        QTest::addRow("forged line") << "X\n04:00:00 Slot 1 stopped.\r"
                                     << "X\\n04:00:00 Slot 1 stopped.\\r";
        QTest::addRow("tab, escape, NUL, C1, separator") << QString::fromUtf8("\t\x1b[2J") + QChar(0) + QChar(0x85)
                + QChar(0x2028) << "\\t\\u001b[2J\\u0000\\u0085\\u2028";
    }

    void lineAndFileNames()
    {
        const QDateTime time(QDate(2024, 3, 15), QTime(9, 30, 5));
        QFETCH(QString, message);
        QFETCH(QString, line);
        QCOMPARE(Logger::lineFor(message, time), "15.03.2024 09:30:05 " + line);
        QCOMPARE(Logger::fileNameFor(QStringLiteral("/x/logs/log"), time),
            QStringLiteral("/x/logs/log 2024.03.15 09.30.05.txt"));
    }

    // One file per run (a run in the same second adds to it), stamped now, its lines whole while
    // threads write at once, also on standard error, without Qt's warnings; with no prefix no file.
    void writesOneFilePerRun()
    {
        const QString folder = TestEnv::makeFolder(QStringLiteral("logs"));
        const QDateTime before = QDateTime::currentDateTime();
        const QList<QStringList> files = run(QStringLiteral("threads"), folder);
        QCOMPARE(files.size() == 1 ? files[0].size() : -1, 8 * 200 + 1);
        const QRegularExpression shape(QStringLiteral("^[0-9.]{10} [0-9:]{8} (thread \\d line \\d+ x{200}|threads)$"));
        for (const QString& line : files[0])
            QVERIFY2(shape.match(line).hasMatch(), qPrintable(line.left(80)));
        const QDateTime stamped = QDateTime::fromString(files[0][0].left(19), QStringLiteral("dd.MM.yyyy hh:mm:ss"));
        QVERIFY(stamped.secsTo(before) <= 1 && before.secsTo(stamped) <= 30);
        QVERIFY(stdErr.contains("thread 7 line 199") && stdErr.contains("a critical message")
            && !stdErr.contains("must vanish"));
        const QList<QStringList> twice = run(QStringLiteral("again"), folder);
        QCOMPARE(std::accumulate(twice.begin(), twice.end(), 0,
                     [](int n, const QStringList& file) { return n + int(file.size()); }),
            8 * 200 + 2);
        QVERIFY(run(QStringLiteral("none"), TestEnv::makeFolder(QStringLiteral("no-logs")), false).isEmpty());
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--child") == 0)
        return childMain(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    TestApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app.moc"
