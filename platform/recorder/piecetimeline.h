#pragma once

#include <cstdint>

// Where frames and audio fall in one piece, from the source's own times (100 ns units): a frame
// that was lost leaves its time empty, so picture and sound stay in step with each other and with
// the clock. A jump longer than `maxGap` is a break in the source (gone, or its clock reset), not
// lost frames: the piece goes on right after what it holds.
class PieceTimeline
{
public:
    static constexpr int64_t ticksPerSecond = 10000000;
    static constexpr int64_t defaultMaxGap = 5 * ticksPerSecond;

    // origin: the source time at the start of the piece.
    void begin(int64_t origin, int rateN, int rateD, int64_t maxGap = defaultMaxGap);

    // The frame's slot in the piece: one past the previous frame's at least.
    int64_t videoSlot(int64_t time);
    // The sample position of an audio block of `samples` at `rate`; `written` is where the piece's
    // audio ends now.
    int64_t audioPosition(int64_t time, int rate, int64_t written, int samples);

    int64_t origin() const { return m_origin; }
    // Frame slots from the start to the end of the last frame, lost ones included.
    int64_t slotsCovered() const { return m_lastSlot + 1; }
    // The source time at a slot.
    int64_t timeOfSlot(int64_t slot) const;

private:
    int64_t slotAt(int64_t time) const;
    int64_t frameTicks() const;

    int64_t m_origin = 0;
    int64_t m_removed = 0; // source time left out at breaks
    int m_rateN = 30000;
    int m_rateD = 1001;
    int64_t m_maxGap = defaultMaxGap;
    int64_t m_lastSlot = -1;
};
