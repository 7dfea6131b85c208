#include "app/logger.h"
#include "tests/common/testenv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <thread>
#include <vector>

// Runs in a child process of this test, so that init() (once per process) can be exercised
// afresh and the output streams can be captured.
static int childMain(const QString& mode, const QString& prefix)
{
    qInstallMessageHandler(&Logger::messageHandler);
    Logger logger;
    Logger::init(prefix);
    if (mode == QLatin1String("warnings")) {
        qWarning("a Qt warning that must vanish");
        Logger::write(QStringLiteral("after warning"));
        qCritical("a critical message");
    } else if (mode == QLatin1String("threads")) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < 200; ++i)
                    Logger::write(QStringLiteral("thread %1 line %2 ").arg(t).arg(i) + QString(200, QLatin1Char('x')));
            });
        }
        for (auto& thread : threads)
            thread.join();
    } else {
        Logger::write(mode);
    }
    return 0;
}

class TestLogger : public QObject
{
    Q_OBJECT

private:
    struct Run {
        QByteArray stdErr;
        QStringList files;
    };

    Run runChild(const QString& mode, const QString& folder)
    {
        QProcess child;
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments({ QStringLiteral("--child"), mode, folder + QStringLiteral("/log") });
        child.start();
        [&] { QVERIFY(child.waitForFinished(30000)); }();
        Run run;
        run.stdErr = child.readAllStandardError();
        run.files = QDir(folder).entryList(QDir::Files);
        return run;
    }

    static QStringList linesOf(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return {};
        QString text = QString::fromUtf8(file.readAll());
        if (text.endsWith(QLatin1Char('\n')))
            text.chop(1);
        return text.split(QLatin1Char('\n'));
    }

private Q_SLOTS:
    void formats_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("line");
        QTest::addRow("plain") << QStringLiteral("Application initialized")
                               << QStringLiteral("15.03.2024 09:30:05 Application initialized");
        QTest::addRow("empty") << QString() << QStringLiteral("15.03.2024 09:30:05 ");
        QTest::addRow("non-latin") << QStringLiteral("Source added: カメラ")
                                   << QStringLiteral("15.03.2024 09:30:05 Source added: カメラ");
    }
    void formats()
    {
        QFETCH(QString, message);
        QFETCH(QString, line);
        const QDateTime time(QDate(2024, 3, 15), QTime(9, 30, 5));
        QCOMPARE(Logger::lineFor(message, time), line);
        QCOMPARE(Logger::fileNameFor(QStringLiteral("/x/logs/log"), time),
            QStringLiteral("/x/logs/log 2024.03.15 09.30.05.txt"));
    }

    void writesWholeLinesToOneFilePerRun()
    {
        const QString folder = TestEnv::makeFolder(QStringLiteral("logs-basic"));
        const QDateTime before = QDateTime::currentDateTime();
        Run run = runChild(QStringLiteral("hello log"), folder);
        QCOMPARE(run.files.size(), 1);
        const QStringList lines = linesOf(folder + QLatin1Char('/') + run.files.first());
        QCOMPARE(lines.size(), 1);
        const QRegularExpression shape(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d hello log$"));
        QVERIFY2(shape.match(lines.first()).hasMatch(), qPrintable(lines.first()));
        const QDateTime stamped = QDateTime::fromString(lines.first().left(19), QStringLiteral("dd.MM.yyyy hh:mm:ss"));
        QVERIFY(stamped.secsTo(before) <= 1 && before.secsTo(stamped) <= 30);
        QVERIFY(run.stdErr.contains("hello log"));
    }

    void sameSecondRunsAppend()
    {
        // Two runs started in one second share the file; retry until both land in the same second.
        for (int attempt = 0; attempt < 5; ++attempt) {
            const QString folder = TestEnv::makeFolder(QStringLiteral("logs-append-%1").arg(attempt));
            runChild(QStringLiteral("first"), folder);
            Run second = runChild(QStringLiteral("second"), folder);
            if (second.files.size() != 1)
                continue;
            const QStringList lines = linesOf(folder + QLatin1Char('/') + second.files.first());
            QCOMPARE(lines.size(), 2);
            QVERIFY(lines.at(0).endsWith(QLatin1String(" first")));
            QVERIFY(lines.at(1).endsWith(QLatin1String(" second")));
            return;
        }
        QSKIP("two child runs never started within the same second on this machine");
    }

    void warningsAreDropped()
    {
        const QString folder = TestEnv::makeFolder(QStringLiteral("logs-warnings"));
        Run run = runChild(QStringLiteral("warnings"), folder);
        QVERIFY(!run.stdErr.contains("must vanish"));
        QVERIFY(run.stdErr.contains("a critical message"));
        QVERIFY(run.stdErr.contains("after warning"));
        const QStringList lines = linesOf(folder + QLatin1Char('/') + run.files.first());
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.first().endsWith(QLatin1String(" after warning")));
    }

    void concurrentWritersKeepLinesWhole()
    {
        const QString folder = TestEnv::makeFolder(QStringLiteral("logs-threads"));
        Run run = runChild(QStringLiteral("threads"), folder);
        QCOMPARE(run.files.size(), 1);
        const QStringList lines = linesOf(folder + QLatin1Char('/') + run.files.first());
        QCOMPARE(lines.size(), 8 * 200);
        const QRegularExpression shape(QStringLiteral("^[0-9.]{10} [0-9:]{8} thread \\d line \\d+ x{200}$"));
        for (const QString& line : lines)
            QVERIFY2(shape.match(line).hasMatch(), qPrintable(line.left(80)));
    }

    void emptyPrefixMakesNoFile()
    {
        const QString folder = TestEnv::makeFolder(QStringLiteral("logs-none"));
        QProcess child;
        child.start(
            QCoreApplication::applicationFilePath(), { QStringLiteral("--child"), QStringLiteral("x"), QString() });
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        QVERIFY(QDir(folder).entryList(QDir::Files).isEmpty());
    }
};

int main(int argc, char* argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--child") == 0) {
        QCoreApplication app(argc, argv);
        return childMain(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    QCoreApplication app(argc, argv);
    TestLogger test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_logger.moc"
