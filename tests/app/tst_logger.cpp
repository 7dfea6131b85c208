#include "app/logger.h"
#include "tests/common/testenv.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
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

class TestLogger : public QObject
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

private Q_SLOTS:
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
    TestLogger test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_logger.moc"
