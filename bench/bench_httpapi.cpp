// Requests per second and latency percentiles of the HTTP panel server with 16 slots, measured with
// wrk: the "status" command (handed to the main thread and back), a Prometheus scrape of
// "/metrics", a static panel file, and the same HTTP library answering a constant text on its own
// thread pool as the ceiling, all in one run. Then the time from a "rename" command to its event
// arriving on an open event stream.
#include "app/settingsmodel.h"
#include "bench/benchfixture_remote.h"
#include "remote/httpserver.h"
#include "remote/httpserverworkerthread.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

// wrk's "812.00us", "1.23ms" or "1.02s" in milliseconds; -1 when there is none.
double milliseconds(const QString& text)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^([0-9.]+)(us|ms|s)$")).match(text);
    if (!m.hasMatch())
        return -1;
    const double scale = m.captured(2) == QLatin1String("us") ? 0.001 : m.captured(2) == QLatin1String("ms") ? 1 : 1000;
    return m.captured(1).toDouble() * scale;
}

using Clock = std::chrono::steady_clock;

// Milliseconds from sending each command to its event on the stream; empty when the stream failed.
// Both clients run on their own threads: the server hands every command to this (main) thread.
std::vector<double> eventLatencies(quint16 port, int rounds)
{
    std::mutex mutex;
    std::condition_variable arrived;
    std::string received, expected;
    Clock::time_point arrivedAt;
    bool streamOpen = false, found = false;
    std::atomic<bool> stop { false }, finished { false };
    std::vector<double> latencies;

    std::thread stream([&] {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(5, 0);
        client.Get("/api/events", [&](const char* data, size_t length) {
            std::lock_guard<std::mutex> lock(mutex);
            streamOpen = true;
            received.append(data, length);
            if (!expected.empty() && !found && received.find(expected) != std::string::npos) {
                found = true;
                arrivedAt = Clock::now();
            }
            if (expected.empty() || found)
                received.clear();
            arrived.notify_all();
            return !stop;
        });
        std::lock_guard<std::mutex> lock(mutex);
        streamOpen = false;
        arrived.notify_all();
    });

    std::thread commands([&] {
        httplib::Client client("127.0.0.1", port);
        {
            std::unique_lock<std::mutex> lock(mutex);
            arrived.wait_for(lock, std::chrono::seconds(5), [&] { return streamOpen; });
        }
        for (int i = 0; i < rounds; ++i) {
            const std::string name = "latency" + std::to_string(i);
            {
                std::lock_guard<std::mutex> lock(mutex);
                expected = "\"name\":\"" + name + "\"";
                received.clear();
                found = false;
            }
            const auto sent = Clock::now();
            const auto reply = client.Get(("/api?command=rename&slot=1&name=" + name).c_str());
            if (!reply || reply->body.find("success") == std::string::npos)
                break;
            std::unique_lock<std::mutex> lock(mutex);
            if (!arrived.wait_for(lock, std::chrono::seconds(3), [&] { return found || !streamOpen; }) || !found)
                break;
            latencies.push_back(std::chrono::duration<double, std::milli>(arrivedAt - sent).count());
            expected.clear();
            lock.unlock();
            // The event has just been polled: wait a different part of the polling interval each
            // round, so the commands land evenly over it as a real client's would.
            std::this_thread::sleep_for(std::chrono::milliseconds(37 * i % 100));
        }
        stop = true;
        finished = true;
    });

    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished)
            loop.quit();
    });
    poll.start(10);
    loop.exec();
    commands.join();
    // The stream ends at its next message (a ping at the latest); keep serving until it has.
    QElapsedTimer wait;
    wait.start();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!streamOpen)
                break;
        }
        if (wait.elapsed() > 10000)
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    stream.join();
    return latencies;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (QStandardPaths::findExecutable(QStringLiteral("wrk")).isEmpty()) {
        std::printf("wrk is not installed; nothing measured\n");
        return 0;
    }
    RemoteBenchFixture fixture(16);
    SettingsModel settings;
    const quint16 port = RemoteBenchFixture::freePort();
    settings.setHttpServerPort(port);
    HttpServer server(
        fixture.model.get(), fixture.audio.get(), fixture.recorder.get(), fixture.sources.get(), &settings);
    server.routes().setPanelPath(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("panel")));
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

    std::printf("HTTP panel server, 16 slots, wrk -t2 (one thread for one connection) -d3s --latency\n");
    std::printf("%-34s %5s %11s %9s %9s %9s\n", "target", "conns", "requests/s", "p50", "p90", "p99");
    const struct {
        const char* name;
        const char* key;
        QString url;
    } targets[] = {
        { "constant reply (ceiling)", "const", QStringLiteral("http://127.0.0.1:%1/const").arg(constantPort) },
        { "/api?command=status", "status", QStringLiteral("http://127.0.0.1:%1/api?command=status").arg(port) },
        { "/metrics", "metrics", QStringLiteral("http://127.0.0.1:%1/metrics").arg(port) },
        { "/api?command=listen_off", "listen_off",
            QStringLiteral("http://127.0.0.1:%1/api?command=listen_off").arg(port) },
        { "/app.js (static)", "static", QStringLiteral("http://127.0.0.1:%1/app.js").arg(port) },
    };
    for (int connections : { 1, 10 }) {
        double ceiling = 0;
        for (const auto& t : targets) {
            const Figures f = runWrk(t.url, connections);
            std::printf("%-34s %5d %11.0f %9s %9s %9s %s\n", t.name, connections, f.requestsPerSecond,
                qPrintable(f.p50), qPrintable(f.p90), qPrintable(f.p99), qPrintable(f.errors));
            std::printf("RESULT http_%s_c%d=%.0f requests/s\n", t.key, connections, f.requestsPerSecond);
            if (qstrcmp(t.key, "metrics") == 0)
                std::printf("RESULT http_metrics_c%d_p99=%.2f ms\n", connections, milliseconds(f.p99));
            if (ceiling == 0)
                ceiling = f.requestsPerSecond;
            else if (ceiling > 0)
                std::printf(
                    "RESULT http_%s_c%d_pct=%.1f %%const\n", t.key, connections, 100.0 * f.requestsPerSecond / ceiling);
        }
    }

    const int rounds = qEnvironmentVariableIntValue("BENCH_EVENT_ROUNDS") > 0
        ? qEnvironmentVariableIntValue("BENCH_EVENT_ROUNDS")
        : 40;
    std::vector<double> latencies = eventLatencies(port, rounds);
    if (latencies.empty()) {
        std::printf("Event latency: no event arrived on the stream\n");
    } else {
        std::sort(latencies.begin(), latencies.end());
        double sum = 0;
        for (double l : latencies)
            sum += l;
        const double mean = sum / double(latencies.size());
        const double median = latencies[latencies.size() / 2];
        const double p90 = latencies[latencies.size() * 9 / 10];
        std::printf("Event latency, \"rename\" command to its event on an open stream, %zu of %d rounds: "
                    "mean %.1f ms, median %.1f ms, p90 %.1f ms, max %.1f ms\n",
            latencies.size(), rounds, mean, median, p90, latencies.back());
        std::printf("RESULT http_event_latency_mean=%.1f ms\n", mean);
        std::printf("RESULT http_event_latency_p90=%.1f ms\n", p90);
        std::printf("RESULT http_event_latency_max=%.1f ms\n", latencies.back());
    }
    constant.stop();
    constantThread.join();
    return 0;
}
