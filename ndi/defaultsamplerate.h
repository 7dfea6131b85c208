#pragma once

// The preferred sample rate of the default audio output, queried once per process (any thread).
// 48000 where the machine has no default output.
int defaultSampleRate();
