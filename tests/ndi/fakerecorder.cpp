// A stand-in for the recording program whose reports a test scripts. FAKE_RECORDER_SCRIPT names a
// JSON object that maps a command line (as received, without its line end) to the list of outputs
// for its first, second, ... arrival; "@launch" is written at start. An output is written to
// stdout as it is, except "@exit" (exit with code 0) and "@crash" (abort). Every byte read from
// stdin goes to NDI_RECORD_TRACE ("{pid}" replaced by the process id). It ends after <quit/> or
// when stdin closes.

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace
{

QJsonObject g_script;
QHash<QString, int> g_seen;

void emitOutput(const QString& key)
{
    const QJsonArray outputs = g_script.value(key).toArray();
    const int n = g_seen[key]++;
    if (n >= outputs.size())
        return;
    const QString output = outputs.at(n).toString();
    if (output == QLatin1String("@exit"))
        std::exit(0);
    if (output == QLatin1String("@crash"))
        std::abort();
    const QByteArray bytes = output.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

int main()
{
    if (const QByteArray path = qgetenv("FAKE_RECORDER_SCRIPT"); !path.isEmpty()) {
        QFile file(QString::fromLocal8Bit(path));
        if (file.open(QIODevice::ReadOnly))
            g_script = QJsonDocument::fromJson(file.readAll()).object();
    }
    std::FILE* trace = nullptr;
    if (QByteArray path = qgetenv("NDI_RECORD_TRACE"); !path.isEmpty()) {
        path.replace("{pid}", QByteArray::number(qint64(::getpid())));
        trace = std::fopen(path.constData(), "ab");
    }
    emitOutput(QStringLiteral("@launch"));

    QByteArray pending;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0)
            break;
        if (trace) {
            std::fwrite(buffer, 1, size_t(got), trace);
            std::fflush(trace);
        }
        pending.append(buffer, int(got));
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (line.endsWith('\r'))
                line.chop(1);
            emitOutput(QString::fromUtf8(line));
            if (line == "<quit/>")
                return 0;
        }
    }
    return 0;
}
