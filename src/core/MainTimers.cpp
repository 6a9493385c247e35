#include "core/MainTimers.h"

namespace telvox {

MainTimers::MainTimers(EventLoop &loop)
{
    Timer1.create(loop, 20000);
    for (int n = 1; n < 4; ++n)
        Timer1[n].setInterval(15000);
    Timer3.create(loop, 500);
    Timer4.create(loop, 1000);
    timDropCall.create(loop, 500);
    timTollSaver.create(loop, 800);
    timPlayLegalO.create(loop, 350);
    timPlayGreetingExO.create(loop, 500);
    timPlayGreetingExM.create(loop, 500);
    timChangeBuffer.create(loop, 1);
    timWriteFile.create(loop, 1000);
    timLog = loop.createTimer(60000, {});
    timLog->setEnabled(true);
    timPlayAll = loop.createTimer(2000, {});
    tmMMTIMER = loop.createTimer(500, {});
    tmPlay = loop.createTimer(1000, {});
}

} // namespace telvox
