#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace telvox {

class LocalListener;

// Lets a second start of the program bring the running one's window to the front, through a
// local socket of the user's own: the running program listens, a second start connects.
class RaiseListener final : public QObject
{
    Q_OBJECT
public:
    // Listens on `socketPath` (a stale socket of an ended run is replaced); `raise` runs for
    // each second start.
    RaiseListener(const QString &socketPath, std::function<void()> raise, QObject *parent = nullptr);
    ~RaiseListener() override;

    bool isListening() const;

private:
    LocalListener *m_server;
    std::function<void()> m_raise;
};

// Asks the running program to show its window. True when it was reached.
bool askRunningInstanceToRaise(const QString &socketPath, int timeoutMs = 2000);

} // namespace telvox
