// A silent stream with a 20 ms latency beside the one under test, so that the null sink mixes
// in small blocks as a sound card does: without it the sink plays in large blocks, and a hole
// between two tracks, or the moment a level changes, is blurred by them.
#pragma once

#include <QProcess>

class SmallBlocks {
public:
    SmallBlocks() = default;
    SmallBlocks(const SmallBlocks &) = delete;
    SmallBlocks &operator=(const SmallBlocks &) = delete;
    ~SmallBlocks() { stop(); }

    // Starts the stream (pacat, from the sound server's tools); false when it cannot run.
    bool start();
    void stop();

private:
    QProcess pacat_;
};
