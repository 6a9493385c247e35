#pragma once

#include <QDateTime>
#include <QString>

namespace telvox {

// What a line is doing, as other screens of the house show it.
enum class LineActivity { Idle, Ringing, Answered, Recording };
QString activityName(LineActivity activity); // "idle", "ringing", "answered", "recording"

// A caller's ID arrived on a line (screened already: `blocked` says whether it was turned away).
struct CallerEvent
{
    int line = 0;    // 0..3, as the status list names lines ("Line0")
    QString number;  // as the caller ID gave it; empty when withheld or none came
    QString name;    // the phonebook's name, else the caller ID's name (a blocked caller: the
                     // block list's label); may be empty
    bool blocked = false;
    QDateTime time;
};

// A message was kept (a recording entered the unread list).
struct MessageEvent
{
    QString id;      // what names the message to commands and to the web interface
    QString caller;  // the caller's number, empty when unknown
    QString name;    // the phonebook's name, may be empty
    int seconds = 0; // its length
    QDateTime time;
    QString link;    // the web interface's audio link, empty when the web interface is off
};

// The events Telvox tells the rest of the house about. The call flow's side (src/app) calls
// these on the event loop's thread; an implementation must return at once.
class HomeEvents
{
public:
    virtual ~HomeEvents() = default;
    virtual void lineState(int line, LineActivity activity) = 0; // line 0..3
    virtual void callerIdentified(const CallerEvent &event) = 0;
    virtual void messageKept(const MessageEvent &event) = 0;
    virtual void unreadCount(int count) = 0;
};

} // namespace telvox
