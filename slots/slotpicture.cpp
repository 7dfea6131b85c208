#include "slots/slotpicture.h"

#include "ndi/receiver.h"

#include <cmath>

SlotPicture::SlotPicture(std::function<std::shared_ptr<Receiver>()> receiver, QObject* parent)
    : QObject(parent)
    , m_receiver(std::move(receiver))
{
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, this, &SlotPicture::look);
}

QString SlotPicture::formatText(int width, int height, double frameRate)
{
    if (width < 1 || height < 1)
        return {};
    QString text = QString::number(width) + QLatin1Char('x') + QString::number(height);
    if (frameRate > 0.0) {
        // Whole rates as they are, the NTSC family with two decimals: 25p, 29.97p, 59.94p.
        const double whole = std::round(frameRate);
        text += QLatin1Char(' ')
            + (std::abs(frameRate - whole) < 0.005 ? QString::number(int(whole)) : QString::number(frameRate, 'f', 2))
            + QLatin1Char('p');
    }
    return text;
}

void SlotPicture::setWatching(bool on)
{
    if (on)
        m_timer.start();
    else
        m_timer.stop();
    look();
}

void SlotPicture::look()
{
    QString format;
    bool lost = false;
    if (const std::shared_ptr<Receiver> receiver = m_receiver()) {
        const PictureFormat picture = receiver->pictureFormat();
        format = formatText(picture.width, picture.height, picture.frameRate);
        // Nothing new for a while, or nothing at all a while after binding.
        lost = picture.msSinceNewPicture >= 0 ? picture.msSinceNewPicture > signalLostMs
                                              : picture.msSinceBound > signalLostMs;
        if (lost)
            format.clear();
    }
    emit looked(lost);
    if (format == m_videoFormat && lost == m_signalLost)
        return;
    m_videoFormat = format;
    m_signalLost = lost;
    emit changed();
}
