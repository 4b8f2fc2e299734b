// The transport's state without the window: which entry previous and next open, and whether a
// started track is meant to run. Previous and next step from the entry last opened, not from
// the selection, and wrap around the list.
#pragma once

#include <cstdint>

struct TransportState {
    int32_t CurrentIndex = 0; // playlist index last opened for playing; -1 = none yet
    bool IsPlaying = false;   // a started track is meant to run

    // Steps CurrentIndex back in a list of count entries (at least one) and returns it.
    int32_t StepBack(int count)
    {
        CurrentIndex -= 1;
        // Entries deleted since the last open can leave CurrentIndex past the end; the entry
        // before "past the end" is the last one.
        if (CurrentIndex < 0 || CurrentIndex > count - 1)
            CurrentIndex = count - 1;
        return CurrentIndex;
    }
    // Steps CurrentIndex on in a list of count entries (at least one) and returns it.
    int32_t StepForward(int count)
    {
        CurrentIndex += 1;
        if (count - 1 < CurrentIndex)
            CurrentIndex = 0;
        return CurrentIndex;
    }
};
