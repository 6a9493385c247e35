#pragma once

#include "mqtt/HomeEvents.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>

namespace telvox {

class CallSystem;
class HomePublisher;
class SettingsStore;
class Timer;

// The name that stands for a listed recording in MQTT payloads, commands and web links: its
// file name today. Everything that names a message to the outside goes through here.
QString homeMessageId(const QString &listedName);

// The web interface's link to a message's audio, when the web interface is on ("[Web]
// Enabled"), at its "[Web] Listen" address (127.0.0.1:8780 unless set); empty when it is off.
QString webAudioLink(const SettingsStore &settings, const QString &messageId);

// The smart-home links wired to the call system, in the desktop program and the service
// alike: what the lines do, callers' IDs, messages kept and the unread count go to `events`
// (a HomePublisher made from the "MQTT" and "Webhook" options when none is given, or nothing
// when neither is set), and the publisher's commands are carried out on the lists.
class HomeLink final : public QObject
{
public:
    explicit HomeLink(CallSystem &system, HomeEvents *events = nullptr);
    ~HomeLink() override;

    HomePublisher *publisher() const { return m_publisher.get(); }
    // How often the recording state of the lines is looked at.
    static constexpr int kWatchMs = 250;

private:
    void callState(int line, std::uint32_t state);
    void updateLines();
    void recordingListed(const QString &folder, const QString &name, int line);
    void publishUnread();
    void markRead(const QString &id);
    void block(const QString &number, const QString &label);
    void say(const QString &text);

    CallSystem &m_system;
    std::unique_ptr<HomePublisher> m_publisher;
    HomeEvents *m_events = nullptr;
    std::array<LineActivity, 4> m_callActivity{}; // from the call states: idle, ringing, answered
    std::unique_ptr<Timer> m_watch;
};

} // namespace telvox
