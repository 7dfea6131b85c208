#include "simnetwork.h"

#include "simclock.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <cstdio>

namespace ndisim
{

namespace
{

    constexpr auto checkInterval = std::chrono::milliseconds(100);

    void report(const QString& text)
    {
        std::fprintf(stderr, "NDI simulated network: %s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
    }

    bool parseColour(const QString& text, Rgba& colour)
    {
        // "#rrggbb" or, with alpha first, "#aarrggbb".
        if (!text.startsWith(QLatin1Char('#')) || (text.size() != 7 && text.size() != 9))
            return false;
        bool ok = false;
        const uint value = text.mid(1).toUInt(&ok, 16);
        if (!ok)
            return false;
        colour.r = static_cast<uint8_t>(value >> 16);
        colour.g = static_cast<uint8_t>(value >> 8);
        colour.b = static_cast<uint8_t>(value);
        colour.a = text.size() == 9 ? static_cast<uint8_t>(value >> 24) : 255;
        return true;
    }

    void frameRate(double fps, int& n, int& d)
    {
        const double ntsc = fps * 1.001;
        if (std::fabs(fps - std::round(fps)) < 1e-6) {
            n = static_cast<int>(std::lround(fps));
            d = 1;
        } else if (std::fabs(ntsc - std::round(ntsc)) < 1e-3) {
            n = static_cast<int>(std::lround(ntsc)) * 1000;
            d = 1001;
        } else {
            n = static_cast<int>(std::lround(fps * 1000.0));
            d = 1000;
        }
    }

    // Reads one number, with limits; false (and a message) when present but wrong.
    bool readNumber(
        const QJsonObject& object, const char* key, double low, double high, double& value, QString& problem)
    {
        const QJsonValue v = object.value(QLatin1String(key));
        if (v.isUndefined())
            return true;
        if (!v.isDouble() || !(v.toDouble() >= low && v.toDouble() <= high)) {
            problem
                = QStringLiteral("\"%1\" must be a number from %2 to %3").arg(QLatin1String(key)).arg(low).arg(high);
            return false;
        }
        value = v.toDouble();
        return true;
    }

    bool readVideo(const QJsonObject& object, VideoConfig& video, QString& problem)
    {
        double width = video.width, height = video.height, fps = 30.0, aspect = 0.0;
        if (!readNumber(object, "width", 2, 7680, width, problem)
            || !readNumber(object, "height", 2, 4320, height, problem)
            || !readNumber(object, "fps", 1, 240, fps, problem)
            || !readNumber(object, "aspect", 0, 100, aspect, problem))
            return false;
        video.width = static_cast<int>(width);
        video.height = static_cast<int>(height);
        video.aspect = static_cast<float>(aspect);
        frameRate(fps, video.rateN, video.rateD);

        const QString format = object.value(QLatin1String("format")).toString(QStringLiteral("UYVY"));
        if (format == QLatin1String("UYVY")) {
            video.alpha = false;
            if (video.width % 2 != 0) {
                problem = QStringLiteral("a UYVY picture needs an even width");
                return false;
            }
        } else if (format == QLatin1String("BGRA")) {
            video.alpha = true;
        } else {
            problem = QStringLiteral("\"format\" must be \"UYVY\" or \"BGRA\"");
            return false;
        }

        const QString pattern = object.value(QLatin1String("pattern")).toString(QStringLiteral("moving"));
        if (pattern == QLatin1String("solid"))
            video.pattern = Pattern::Solid;
        else if (pattern == QLatin1String("bars"))
            video.pattern = Pattern::Bars;
        else if (pattern == QLatin1String("moving"))
            video.pattern = Pattern::Moving;
        else {
            problem = QStringLiteral("\"pattern\" must be \"solid\", \"bars\" or \"moving\"");
            return false;
        }
        video.color = Rgba { 128, 128, 128, 255 };
        const QJsonValue colour = object.value(QLatin1String("color"));
        if (!colour.isUndefined() && !parseColour(colour.toString(), video.color)) {
            problem = QStringLiteral("\"color\" must be \"#rrggbb\" or \"#aarrggbb\"");
            return false;
        }
        const QJsonValue compressed = object.value(QLatin1String("compressed"));
        if (!compressed.isUndefined() && !compressed.isBool()) {
            problem = QStringLiteral("\"compressed\" must be true or false");
            return false;
        }
        video.compressed = compressed.toBool(true);
        return true;
    }

    bool readAudio(const QJsonObject& object, AudioConfig& audio, QString& problem)
    {
        double rate = 48000, channels = 2, frequency = 1000, peak = 0.5, beep = 0;
        if (!readNumber(object, "rate", 8000, 192000, rate, problem)
            || !readNumber(object, "channels", 1, 16, channels, problem)
            || !readNumber(object, "frequency", 0, rate / 2, frequency, problem)
            || !readNumber(object, "peak", 0, 1000, peak, problem)
            || !readNumber(object, "beep_ms", 0, 3600000, beep, problem))
            return false;
        double peakRight = peak;
        if (!readNumber(object, "peak_right", 0, 1000, peakRight, problem))
            return false;
        audio.rate = static_cast<int>(rate);
        audio.channels = static_cast<int>(channels);
        audio.frequency = frequency;
        audio.peakLeft = static_cast<float>(peak);
        audio.peakRight = static_cast<float>(peakRight);
        audio.beepMs = static_cast<int>(beep);

        const QString mode = object.value(QLatin1String("mode")).toString(QStringLiteral("tone"));
        if (mode == QLatin1String("tone"))
            audio.mode = AudioMode::Tone;
        else if (mode == QLatin1String("silence"))
            audio.mode = AudioMode::Silence;
        else if (mode == QLatin1String("negative"))
            audio.mode = AudioMode::Negative;
        else {
            problem = QStringLiteral("\"mode\" must be \"tone\", \"silence\" or \"negative\"");
            return false;
        }
        return true;
    }

    bool readSource(const QJsonObject& object, SourceConfig& source, QString& problem)
    {
        source.name = object.value(QLatin1String("name")).toString().toStdString();
        if (source.name.empty()) {
            problem = QStringLiteral("a source needs a non-empty \"name\"");
            return false;
        }
        const QJsonValue url = object.value(QLatin1String("url"));
        if (url.isString())
            source.url = url.toString().toStdString();

        // Absent means a default picture or tone; null means none.
        const QJsonValue video = object.value(QLatin1String("video"));
        if (!video.isNull()) {
            VideoConfig config;
            if (!readVideo(video.toObject(), config, problem))
                return false;
            source.video = config;
        }
        const QJsonValue audio = object.value(QLatin1String("audio"));
        if (!audio.isNull()) {
            AudioConfig config;
            if (!readAudio(audio.toObject(), config, problem))
                return false;
            source.audio = config;
        }
        const QJsonValue tally = object.value(QLatin1String("tally"));
        if (tally.isObject()) {
            const QJsonObject t = tally.toObject();
            double period = 0;
            if (!readNumber(t, "period_ms", 0, 3600000, period, problem))
                return false;
            source.tally.present = true;
            source.tally.program = t.value(QLatin1String("program")).toBool();
            source.tally.preview = t.value(QLatin1String("preview")).toBool();
            source.tally.periodMs = static_cast<int>(period);
        }
        for (const QJsonValue item : object.value(QLatin1String("metadata")).toArray())
            source.metadata.push_back(item.toString().toStdString());
        source.key = QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
        return true;
    }

} // namespace

Network& Network::instance()
{
    // Never destroyed: threads of the host may still ask while the process exits.
    static Network* network = new Network;
    return *network;
}

Network::Network()
    : m_path(qEnvironmentVariable("NDI_SIM_SOURCES"))
    , m_snapshot(std::make_shared<Snapshot>())
{
}

std::vector<SourceConfig> Network::parse(const QByteArray& json, QString& error, QStringList& problems)
{
    std::vector<SourceConfig> configs;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = QStringLiteral("not valid JSON (%1 at offset %2)").arg(parseError.errorString()).arg(parseError.offset);
        return configs;
    }
    if (!document.isObject() || !document.object().value(QLatin1String("sources")).isArray()) {
        error = QStringLiteral("no \"sources\" list at the top");
        return configs;
    }
    const QJsonArray sources = document.object().value(QLatin1String("sources")).toArray();
    for (qsizetype i = 0; i < sources.size(); ++i) {
        SourceConfig config;
        QString problem;
        if (!sources.at(i).isObject())
            problem = QStringLiteral("not an object");
        else if (readSource(sources.at(i).toObject(), config, problem))
            configs.push_back(std::move(config));
        if (!problem.isEmpty())
            problems << QStringLiteral("source %1 left out: %2").arg(i + 1).arg(problem);
    }
    return configs;
}

QByteArray Network::demoJson()
{
    return QByteArray(R"json({"sources": [
{"name": "DEMO (Camera 1)", "url": "127.0.0.1:5961",
 "video": {"width": 1920, "height": 1080, "fps": 25, "format": "UYVY", "pattern": "moving"},
 "audio": {"frequency": 1000, "peak": 0.7, "beep_ms": 1000}, "tally": {"period_ms": 3000}},
{"name": "DEMO (Graphics)", "url": "127.0.0.1:5962",
 "video": {"width": 1280, "height": 720, "fps": 50, "format": "BGRA", "pattern": "moving"},
 "audio": {"frequency": 440, "peak": 0.25, "peak_right": 0.125, "beep_ms": 600}, "tally": {"program": true}},
{"name": "DEMO (Wide Shot)", "url": "127.0.0.1:5963",
 "video": {"width": 960, "height": 540, "fps": 29.97, "format": "UYVY", "pattern": "moving"},
 "audio": {"frequency": 660, "peak": 0.1, "beep_ms": 1500}},
{"name": "DEMO (Studio 4:3)", "url": "127.0.0.1:5964",
 "video": {"width": 720, "height": 576, "fps": 25, "format": "UYVY", "aspect": 1.3333333, "pattern": "moving"},
 "audio": {"frequency": 880, "peak": 0.9, "beep_ms": 2000}}
]})json");
}

std::shared_ptr<const Snapshot> Network::current()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto now = std::chrono::steady_clock::now();
    if (!m_checked || now - m_lastCheck >= checkInterval) {
        m_checked = true;
        m_lastCheck = now;
        refresh();
    }
    return m_snapshot;
}

void Network::refresh()
{
    QString error;
    QStringList problems;
    if (m_path.isEmpty()) {
        if (m_content.isEmpty()) {
            m_content = demoJson();
            apply(parse(m_content, error, problems));
        }
        return;
    }

    QFile file(m_path);
    QByteArray content;
    if (file.open(QIODevice::ReadOnly)) {
        content = file.readAll();
        if (file.error() != QFileDevice::NoError)
            error = QStringLiteral("cannot read %1: %2").arg(m_path, file.errorString());
    } else {
        error = QStringLiteral("cannot read %1: %2").arg(m_path, file.errorString());
    }
    if (!error.isEmpty() && file.exists()) {
        // The file is there but could not be read this time (no descriptor free, say): the network
        // stays as it was, and the next look tries again.
        if (error != m_lastProblem)
            report(error + QStringLiteral("; the network stays as it was"));
        m_lastProblem = error;
        return;
    }
    if (!error.isEmpty())
        content = QByteArray("\0unreadable ", 12) + error.toUtf8();
    if (content == m_content)
        return;

    std::vector<SourceConfig> configs;
    if (error.isEmpty()) {
        configs = parse(content, error, problems);
        if (!error.isEmpty())
            error = QStringLiteral("%1 is %2").arg(m_path, error);
    }
    if (!error.isEmpty()) {
        // A file caught half-written looks broken: only believe it when it looks the same twice.
        if (content != m_pendingBad) {
            m_pendingBad = content;
            return;
        }
        configs.clear();
        problems = QStringList { error + QStringLiteral("; the network is empty") };
    }
    m_pendingBad.clear();
    m_content = content;
    const QString problem = problems.join(QStringLiteral("; "));
    if (problem != m_lastProblem && !problem.isEmpty())
        report(problem);
    m_lastProblem = problem;
    apply(configs);
}

void Network::apply(const std::vector<SourceConfig>& configs)
{
    auto next = std::make_shared<Snapshot>();
    std::vector<std::pair<std::string, std::shared_ptr<Source>>> byKey;
    auto previous = m_sourcesByKey;
    for (const SourceConfig& config : configs) {
        std::shared_ptr<Source> source;
        for (auto& entry : previous) {
            if (entry.second && entry.first == config.key) {
                source = std::move(entry.second);
                break;
            }
        }
        if (!source)
            source = std::make_shared<Source>(config);
        byKey.emplace_back(config.key, source);
        next->sources.push_back(source);
    }

    bool sameList = next->sources.size() == m_snapshot->sources.size();
    for (size_t i = 0; sameList && i < next->sources.size(); ++i) {
        const SourceConfig& a = next->sources[i]->config();
        const SourceConfig& b = m_snapshot->sources[i]->config();
        sameList = a.name == b.name && a.url == b.url;
    }
    next->generation = m_snapshot->generation + (sameList ? 0 : 1);
    m_sourcesByKey = std::move(byKey);
    m_snapshot = std::move(next);
}

} // namespace ndisim
