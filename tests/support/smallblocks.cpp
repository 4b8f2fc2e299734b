#include "smallblocks.h"

using namespace Qt::Literals::StringLiterals;

bool SmallBlocks::start()
{
    pacat_.setStandardInputFile(u"/dev/zero"_s);
    pacat_.start(u"pacat"_s, {u"--playback"_s, u"--raw"_s, u"--latency-msec=20"_s});
    return pacat_.waitForStarted();
}

void SmallBlocks::stop()
{
    if (pacat_.state() == QProcess::NotRunning)
        return;
    pacat_.kill();
    pacat_.waitForFinished();
}
