#include "remote/metricsexposition.h"

#include <QMap>

namespace
{

QByteArray number(double value)
{
    return QByteArray::number(value, 'g', 15);
}

// Label values may hold anything a source name holds; the format escapes three characters.
QByteArray label(const char* name, const QString& value)
{
    QByteArray out = QByteArray(name) + "=\"";
    for (const char c : value.toUtf8()) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out + '"';
}

QByteArray slotLabel(const SlotSnapshot& s)
{
    return label("slot", QString::number(s.id));
}

bool bound(const SlotSnapshot& s)
{
    return s.stateWord != QLatin1String("empty");
}

QString sourceOf(const SlotSnapshot& s)
{
    return bound(s) ? s.connectedSource : QString();
}

// Each family's lines stay together, its help and type first, as the format requires.
class Writer
{
public:
    void family(const char* name, const char* type, const char* help)
    {
        m_name = QByteArray("stavelin_") + name;
        out += "# HELP " + m_name + ' ' + help + "\n# TYPE " + m_name + ' ' + type + '\n';
    }
    void sample(const QByteArray& labels, const QByteArray& value)
    {
        out += m_name;
        if (!labels.isEmpty())
            out += '{' + labels + '}';
        out += ' ' + value + '\n';
    }
    QByteArray out;

private:
    QByteArray m_name;
};

// The per-slot families that carry only the slot label.
struct SlotFamily {
    const char* name;
    const char* type;
    const char* help;
    double (*value)(const SlotSnapshot&);
};

const SlotFamily slotFamilies[] = {
    { "slot_busy", "gauge", "1 while the slot records or waits for its recording to start.",
        [](const SlotSnapshot& s) { return double(s.busy); } },
    { "slot_signal_lost", "gauge", "1 while the bound source sends nothing.",
        [](const SlotSnapshot& s) { return double(s.signalLost); } },
    { "slot_tally", "gauge", "The source's tally: 0 none, 1 preview, 2 program.",
        [](const SlotSnapshot& s) { return double(s.tallyState); } },
    { "slot_recorded_seconds", "gauge", "Time recorded by the running recording (frames written).",
        [](const SlotSnapshot& s) { return double(s.elapsedMs) / 1000.0; } },
    { "slot_wall_seconds", "gauge", "Wall-clock time since the running recording started.",
        [](const SlotSnapshot& s) { return double(s.wallMs) / 1000.0; } },
    { "slot_recording_frames_written", "gauge", "Frames written by the running recording.",
        [](const SlotSnapshot& s) { return double(s.totalFrames); } },
    { "slot_recording_frames_dropped", "gauge", "Frames the running recording lost.",
        [](const SlotSnapshot& s) { return double(s.droppedFrames); } },
    { "slot_dropping_ratio", "gauge", "Share of frames lost recently (0-1) while the slot is dropping.",
        [](const SlotSnapshot& s) { return double(s.droppingPercent) / 100.0; } },
    { "slot_piece_written_bytes", "gauge", "Bytes in the current piece's file so far.",
        [](const SlotSnapshot& s) { return double(s.bytesWritten); } },
    { "slot_frames_written_total", "counter", "Frames written by all recordings of the slot.",
        [](const SlotSnapshot& s) { return double(s.framesWrittenTotal); } },
    { "slot_frames_dropped_total", "counter", "Frames lost by all recordings of the slot.",
        [](const SlotSnapshot& s) { return double(s.droppedFramesTotal); } },
    { "slot_delayed_reports_total", "counter", "\"Recording can't keep up\" reports of the recording program.",
        [](const SlotSnapshot& s) { return double(s.delayedTotal); } },
    { "slot_stalls_total", "counter", "Recordings found stalled (nothing written for a while).",
        [](const SlotSnapshot& s) { return double(s.stallsTotal); } },
    { "slot_recoveries_total", "counter", "Stalled recording programs replaced by a new one.",
        [](const SlotSnapshot& s) { return double(s.recoveriesTotal); } },
};

} // namespace

const QStringList& MetricsExposition::stateWords()
{
    static const QStringList words { QStringLiteral("empty"), QStringLiteral("ready"), QStringLiteral("no signal"),
        QStringLiteral("waiting"), QStringLiteral("recording"), QStringLiteral("dropping"), QStringLiteral("stalled"),
        QStringLiteral("failed") };
    return words;
}

QByteArray MetricsExposition::text(const QList<SlotSnapshot>& slotList, const Process& process)
{
    Writer w;
    w.family("build_info", "gauge", "The recorder's version, as a label.");
    w.sample(label("version", process.version), "1");
    w.family("start_time_seconds", "gauge", "When the recorder started, seconds since 1970 (UTC).");
    w.sample({}, number(double(process.startedMs) / 1000.0));
    w.family("recording_programs", "gauge", "Recording programs running, armed or recording.");
    w.sample({}, number(process.recordingPrograms));
    w.family(
        "control_clients", "gauge", "Clients connected: kind tcp on the control port, events on the event stream.");
    w.sample(label("kind", QStringLiteral("tcp")), number(process.tcpClients));
    w.sample(label("kind", QStringLiteral("events")), number(process.eventStreams));

    w.family("slot_info", "gauge", "Always 1: the slot's source and name.");
    for (const SlotSnapshot& s : slotList)
        w.sample(slotLabel(s) + ',' + label("source", sourceOf(s)) + ',' + label("name", s.displayName), "1");
    w.family("slot_state", "gauge", "1 for the slot's state word, 0 for the others.");
    for (const SlotSnapshot& s : slotList) {
        for (const QString& word : stateWords())
            w.sample(slotLabel(s) + ',' + label("source", sourceOf(s)) + ',' + label("state", word),
                s.stateWord == word ? "1" : "0");
    }
    for (const SlotFamily& f : slotFamilies) {
        w.family(f.name, f.type, f.help);
        for (const SlotSnapshot& s : slotList)
            w.sample(slotLabel(s), number(f.value(s)));
    }

    // One entry per drive a bound slot records to; the first slot's figures stand for the drive, and
    // one that is recording for its time left.
    QMap<QString, SlotSnapshot> drives;
    w.family("slot_drive_info", "gauge", "Always 1: the drive the slot records to now.");
    for (const SlotSnapshot& s : slotList) {
        if (!bound(s) || s.drive.isEmpty())
            continue;
        w.sample(slotLabel(s) + ',' + label("drive", s.drive), "1");
        if (!drives.contains(s.drive) || (drives[s.drive].secondsLeft < 0 && s.secondsLeft >= 0))
            drives.insert(s.drive, s);
    }
    w.family("drive_free_bytes", "gauge", "Free space on a drive a slot records to.");
    for (const SlotSnapshot& s : drives) {
        if (s.freeBytes >= 0)
            w.sample(label("drive", s.drive), number(double(s.freeBytes)));
    }
    w.family("drive_time_left_seconds", "gauge", "Recording time left on the drive at the rate it is filled.");
    for (const SlotSnapshot& s : drives) {
        if (s.secondsLeft >= 0)
            w.sample(label("drive", s.drive), number(s.secondsLeft));
    }
    return w.out;
}
