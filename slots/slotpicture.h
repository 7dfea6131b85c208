#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class Receiver;

// What a bound source's pictures look like, from what the render thread last saw: their format, and
// whether they stopped coming. Looked at twice a second while watching. Main thread only.
class SlotPicture : public QObject
{
    Q_OBJECT

public:
    // receiver: the receiver to look at, null while there is none.
    explicit SlotPicture(std::function<std::shared_ptr<Receiver>()> receiver, QObject* parent = nullptr);

    // The format text for a picture size and rate ("1920x1080 29.97p").
    static QString formatText(int width, int height, double frameRate);
    // How long a bound source may send nothing new before the slot shows it has no signal.
    static constexpr qint64 signalLostMs = 2000;

    QString videoFormat() const { return m_videoFormat; }
    bool signalLost() const { return m_signalLost; }
    // Looks at once, and from then on twice a second while on.
    void setWatching(bool on);

Q_SIGNALS:
    // Every look, before what it saw is kept: whether the source is away now.
    void looked(bool lost);
    void changed();

private:
    void look();

    std::function<std::shared_ptr<Receiver>()> m_receiver;
    QTimer m_timer;
    QString m_videoFormat;
    bool m_signalLost = false;
};
