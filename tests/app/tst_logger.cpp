#include "app/logger.h"
#include "tests/common/testenv.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <thread>

// Each run is a child process of this test, as init() happens once per process.
static int childMain(const QString& mode, const QString& prefix)
{
    qInstallMessageHandler(&Logger::messageHandler);
    Logger logger;
    Logger::init(prefix);
    qWarning("a Qt warning that must vanish");
    qCritical("a critical message");
    std::vector<std::thread> threads;
    for (int t = 0; t < (mode == QLatin1String("threads") ? 8 : 0); ++t)
        threads.emplace_back([t] { for (int i = 0; i < 200; ++i) Logger::write(QStringLiteral("thread %1 line %2 ").arg(t).arg(i) + QString(200, 'x')); });
    for (auto& thread : threads)
        thread.join();
    Logger::write(mode);
    return 0;
}

class TestLogger : public QObject
{
    Q_OBJECT
    // The child's standard error, and the lines of each file it leaves in the folder.
    static QPair<QByteArray, QList<QStringList>> runChild(const QString& mode, const QString& folder, bool withFile = true)
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), { "--child", mode, withFile ? folder + "/log" : QString() });
        QPair<QByteArray, QList<QStringList>> result { child.waitForFinished(30000) ? child.readAllStandardError() : "", {} };
        for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files)) {
            QFile file(info.filePath());
            result.second << (file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList());
        }
        return result;
    }

private Q_SLOTS:
    void lineAndFileNames()
    {
        const QDateTime time(QDate(2024, 3, 15), QTime(9, 30, 5));
        QCOMPARE(Logger::lineFor(QStringLiteral("Source added: カメラ"), time), QStringLiteral("15.03.2024 09:30:05 Source added: カメラ"));
        QCOMPARE(Logger::fileNameFor(QStringLiteral("/x/logs/log"), time), QStringLiteral("/x/logs/log 2024.03.15 09.30.05.txt"));
    }

    // One file per run, whole stamped lines also on standard error, Qt's warnings dropped; with no
    // prefix no file at all.
    void writesOneFilePerRun()
    {
        const QString folder = TestEnv::makeFolder(QStringLiteral("logs"));
        const QDateTime before = QDateTime::currentDateTime();
        const auto [stdErr, files] = runChild(QStringLiteral("hello log"), folder);
        QCOMPARE(files.size(), 1);
        QCOMPARE(files[0].size(), 1);
        QVERIFY2(QRegularExpression("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d hello log$").match(files[0][0]).hasMatch(), qPrintable(files[0][0]));
        const QDateTime stamped = QDateTime::fromString(files[0][0].left(19), QStringLiteral("dd.MM.yyyy hh:mm:ss"));
        QVERIFY(stamped.secsTo(before) <= 1 && before.secsTo(stamped) <= 30);
        QVERIFY(stdErr.contains("hello log") && stdErr.contains("a critical message") && !stdErr.contains("must vanish"));
        QVERIFY(runChild(QStringLiteral("none"), TestEnv::makeFolder(QStringLiteral("no-logs")), false).second.isEmpty());
    }

    void sameSecondRunsAppend()
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const QString folder = TestEnv::makeFolder(QStringLiteral("append-%1").arg(attempt));
            runChild(QStringLiteral("first"), folder);
            const QList<QStringList> files = runChild(QStringLiteral("second"), folder).second;
            if (files.size() == 1) {
                QVERIFY(files[0].size() == 2 && files[0][0].endsWith(" first") && files[0][1].endsWith(" second"));
                return;
            }
        }
        QSKIP("two child runs never started within the same second on this machine");
    }

    void concurrentWritersKeepLinesWhole()
    {
        const QList<QStringList> files = runChild(QStringLiteral("threads"), TestEnv::makeFolder(QStringLiteral("threads"))).second;
        QCOMPARE(files.value(0).size(), 8 * 200 + 1);
        const QRegularExpression shape(QStringLiteral("^[0-9.]{10} [0-9:]{8} (thread \\d line \\d+ x{200}|threads)$"));
        for (const QString& line : files[0])
            QVERIFY2(shape.match(line).hasMatch(), qPrintable(line.left(80)));
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
