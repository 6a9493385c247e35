#pragma once

#include "platform/codec/AudioCompressionManager.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace telvox {

class UserPrompts;

// Conversion of captured one-second PCM buffers to TrueSpeech through the compression
// manager: the driver is found once at start-up, each line slot opens a stream when its
// capture starts (only when recordings are TrueSpeech), converts buffer by buffer and closes
// the stream when the recording is written. Open and close errors are shown in a critical
// message box as a fixed prefix and the result code in upper-case hexadecimal.
//
// Two threads may use it at once (the user-interface thread opening and closing one slot's
// stream while the conversion worker converts another's): the calls into the compression
// manager, which keeps every open stream in one table, take a lock. One slot is used by one
// thread at a time; ConversionQueue sees to that.
class CodecConversion
{
public:
    static constexpr std::uint32_t kOutputBlockBytes = 1600; // 16000 / 10

    CodecConversion(codec::AudioCompressionManager &manager, UserPrompts &prompts);
    ~CodecConversion();

    // Finds the first driver (disabled ones too) whose short name holds "TrueSpeech" in its
    // first sixteen characters, in any case.
    void EnumerateCodecs();
    codec::HAcmDriverId trueSpeechDriverId() const { return m_driverId; }

    // Opens the slot's driver and stream. Any conversion the slot still holds is closed first,
    // without messages.
    void OpenConversion(int slot);
    // Converts one captured buffer; true (conversionOk) when its output waits in
    // convertedOutput() for the working file. An empty buffer is never converted.
    bool ConvertBuffer(int slot, std::span<const std::uint8_t> recorded);
    bool conversionOk() const { return m_conversionOk.load(); }
    std::span<const std::uint8_t> convertedOutput(int slot) const;
    // Releases the output of the slot's last conversion (after every buffer).
    void releaseOutput(int slot);
    // Closes the slot's stream and driver; a handle that never opened is left alone silently.
    void CloseConversion(int slot);
    bool isOpen(int slot) const;

private:
    struct Slot
    {
        codec::HAcmDriver driver{};
        codec::HAcmStream stream{};
        codec::AcmStreamHeader header{};
        std::vector<std::uint8_t> output;
        bool prepared = false;
    };
    Slot &slot(int index) { return m_slots.at(static_cast<std::size_t>(index)); }
    void showError(const char *prefix, std::uint32_t code);
    // Unprepares, closes the stream and the driver; `report` shows the errors of the closes.
    void closeSlot(Slot &s, bool report);

    codec::AudioCompressionManager &m_manager;
    UserPrompts &m_prompts;
    codec::HAcmDriverId m_driverId{};
    std::array<Slot, 4> m_slots;
    std::atomic<bool> m_conversionOk{false};
    std::mutex m_managerLock;
};

} // namespace telvox
