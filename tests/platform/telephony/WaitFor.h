#pragma once

// Real-time waiting for the line tests that run peers and emulators as other processes.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>

namespace telvox::test {

// Keeps Qt's events flowing until `predicate` holds; false once `ms` have passed without.
inline bool waitFor(const std::function<bool()> &predicate, int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (; !predicate(); QThread::msleep(2)) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace telvox::test
