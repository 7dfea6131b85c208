// Requests per second and latency percentiles of the HTTP panel server, measured with wrk: the
// "status" command (handed to the main thread and back), a static panel file, and the same HTTP
// library answering a constant text on its own thread pool as the ceiling, all in one run.
#include "app/settingsmodel.h"
#include "bench/benchfixture_remote.h"
#include "remote/httpserver.h"
#include "remote/httpserverworkerthread.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>

#include <httplib.h>

#include <cstdio>
#include <thread>

namespace
{

struct Figures {
    double requestsPerSecond = 0;
    QString p50, p90, p99;
    QString errors;
};

// Runs wrk while this thread keeps serving the server's hand-offs.
Figures runWrk(const QString& url, int connections)
{
    QProcess wrk;
    wrk.start(QStringLiteral("wrk"),
        { QStringLiteral("-t%1").arg(qMin(2, connections)), QStringLiteral("-c%1").arg(connections),
            QStringLiteral("-d3s"), QStringLiteral("--latency"), url });
    QEventLoop loop;
    QObject::connect(&wrk, &QProcess::finished, &loop, &QEventLoop::quit);
    if (wrk.state() != QProcess::NotRunning)
        loop.exec();
    const QString out = QString::fromUtf8(wrk.readAllStandardOutput());
    Figures f;
    const auto match = [&out](const QString& pattern) {
        return QRegularExpression(pattern, QRegularExpression::MultilineOption).match(out).captured(1);
    };
    f.requestsPerSecond = match(QStringLiteral("^Requests/sec:\\s+([0-9.]+)")).toDouble();
    f.p50 = match(QStringLiteral("^\\s+50%\\s+(\\S+)"));
    f.p90 = match(QStringLiteral("^\\s+90%\\s+(\\S+)"));
    f.p99 = match(QStringLiteral("^\\s+99%\\s+(\\S+)"));
    f.errors = match(QStringLiteral("^\\s+(Non-2xx or 3xx responses: \\d+)"));
    return f;
}

bool waitForPort(quint16 port)
{
    for (int i = 0; i < 200; ++i) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(50))
            return true;
        QCoreApplication::processEvents();
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (QStandardPaths::findExecutable(QStringLiteral("wrk")).isEmpty()) {
        std::printf("wrk is not installed; nothing measured\n");
        return 0;
    }
    RemoteBenchFixture fixture;
    SettingsModel settings;
    const quint16 port = RemoteBenchFixture::freePort();
    settings.setHttpServerPort(port);
    HttpServer server(
        fixture.model.get(), fixture.audio.get(), fixture.recorder.get(), fixture.sources.get(), &settings);
    server.worker()->setPanelPath(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("panel")));
    settings.setHttpServerEnabled(true);

    httplib::Server constant;
    constant.new_task_queue = [] { return new httplib::ThreadPool(16); };
    constant.set_tcp_nodelay(true);
    constant.Get("/const", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("{\n    \"result\": \"success\"\n}\n", "text/plain");
    });
    const quint16 constantPort = RemoteBenchFixture::freePort();
    std::thread constantThread([&] { constant.listen("127.0.0.1", constantPort); });

    if (!waitForPort(port) || !waitForPort(constantPort)) {
        std::fprintf(stderr, "servers did not come up\n");
        constant.stop();
        constantThread.join();
        return 1;
    }

    std::printf("HTTP panel server, wrk -t2 (one thread for one connection) -d3s --latency\n");
    std::printf("%-34s %5s %11s %9s %9s %9s\n", "target", "conns", "requests/s", "p50", "p90", "p99");
    const struct {
        const char* name;
        QString url;
    } targets[] = {
        { "constant reply (ceiling)", QStringLiteral("http://127.0.0.1:%1/const").arg(constantPort) },
        { "/api?command=status", QStringLiteral("http://127.0.0.1:%1/api?command=status").arg(port) },
        { "/api?command=listen_off", QStringLiteral("http://127.0.0.1:%1/api?command=listen_off").arg(port) },
        { "/app.js (static)", QStringLiteral("http://127.0.0.1:%1/app.js").arg(port) },
    };
    for (int connections : { 1, 10 }) {
        for (const auto& t : targets) {
            const Figures f = runWrk(t.url, connections);
            std::printf("%-34s %5d %11.0f %9s %9s %9s %s\n", t.name, connections, f.requestsPerSecond,
                qPrintable(f.p50), qPrintable(f.p90), qPrintable(f.p99), qPrintable(f.errors));
        }
    }
    constant.stop();
    constantThread.join();
    return 0;
}
