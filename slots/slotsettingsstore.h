#pragma once

#include <QString>

// What a slot keeps across runs, stored under its number in the "slots" array of the settings.
class SlotSettingsStore
{
public:
    struct Values {
        QString source;
        QString displayName;
        bool showLevels = false;
        bool locationBSelected = false;
        bool customLocationEnabled = false;
        QString customLocation;
        QString customLocationB;
        bool viewingOnly = false;
        float audioGain = 0.0f;
        bool recordPreview = false;
        bool isFullRes = false;
    };

    // Keys missing from the store keep the value given.
    static Values load(int number, Values values);
    // Never shrinks the stored array: slots with higher numbers from an earlier run keep theirs.
    static void save(int number, const Values& values);
};
