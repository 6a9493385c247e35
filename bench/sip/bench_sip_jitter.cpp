// Four calls' receive paths at once on a loaded machine: for each call a sender thread sends
// 20 ms RTP-sized packets over a loopback UDP socket, a receiver thread puts them into the
// call's JitterBuffer (as the SIP stack's thread does), and a reader thread takes 20 ms every
// 20 ms (as the wave devices do: all that is due by the clock in one read). Busy threads, two per
// core, load the machine. Reports per call the frames lost for good (late packets, and received
// ones skipped to bound the delay), the samples concealed while the stream ran, the
// silence heard inside the stream (a gap nobody concealed), and the delay the buffer grew to.
//   bench_sip_jitter [seconds=20] [busy threads per core=2] [jitter ms=60]
#include "platform/telephony/sip/JitterBuffer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

using telvox::sip::JitterBuffer;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCalls = 4;
constexpr int kFrame = 160;

struct Call
{
    explicit Call(std::uint32_t jitter)
        : buffer(jitter, jitter + 1600)
    {
    }
    JitterBuffer buffer;
    int rx = -1;
    sockaddr_in address{};
    std::uint32_t firstTs = 0;
    std::atomic<std::uint64_t> packets{0};
    std::uint64_t tailConcealed = 0; // after the sender stopped: the end, not a loss
    std::uint64_t silent = 0;        // samples of silence heard once the stream began (gaps)
};

// Paced on the steady clock from `start`: the n-th tick at start + n * 20 ms.
void sleepUntilTick(Clock::time_point start, std::uint64_t n)
{
    std::this_thread::sleep_until(start + std::chrono::milliseconds(20 * n));
}

} // namespace

int main(int argc, char *argv[])
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int perCore = argc > 2 ? std::atoi(argv[2]) : 2;
    const std::uint32_t jitter = static_cast<std::uint32_t>(argc > 3 ? std::atoi(argv[3]) : 60) * 8;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::uint64_t frames = static_cast<std::uint64_t>(seconds) * 50;

    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (unsigned i = 0; i < cores * static_cast<unsigned>(perCore); ++i)
        busy.emplace_back([&stop] {
            volatile std::uint64_t x = 0;
            while (!stop.load(std::memory_order_relaxed))
                x = x + 1;
        });

    std::vector<std::unique_ptr<Call>> calls;
    for (int c = 0; c < kCalls; ++c) {
        auto call = std::make_unique<Call>(jitter);
        call->rx = ::socket(AF_INET, SOCK_DGRAM, 0);
        call->address.sin_family = AF_INET;
        call->address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof call->address;
        if (::bind(call->rx, reinterpret_cast<sockaddr *>(&call->address), size) != 0
            || ::getsockname(call->rx, reinterpret_cast<sockaddr *>(&call->address), &size) != 0) {
            std::perror("socket");
            return 1;
        }
        timeval timeout{0, 200000};
        ::setsockopt(call->rx, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        call->firstTs = 1000u + 7919u * static_cast<std::uint32_t>(c);
        calls.push_back(std::move(call));
    }

    const Clock::time_point start = Clock::now() + std::chrono::milliseconds(100);
    std::vector<std::thread> threads;
    std::atomic<bool> sending{true};
    for (auto &owned : calls) {
        Call *call = owned.get();
        threads.emplace_back([call, start, frames] { // the far end
            const int tx = ::socket(AF_INET, SOCK_DGRAM, 0);
            std::uint8_t packet[4 + 2 * kFrame] = {};
            for (std::uint64_t n = 0; n < frames; ++n) {
                sleepUntilTick(start, n);
                const std::uint32_t ts = call->firstTs + static_cast<std::uint32_t>(n * kFrame);
                std::memcpy(packet, &ts, 4);
                for (int i = 0; i < kFrame; ++i) {
                    const auto v = static_cast<std::int16_t>(1 + (n * kFrame + static_cast<std::uint64_t>(i)) % 20000);
                    std::memcpy(packet + 4 + 2 * i, &v, 2);
                }
                ::sendto(tx, packet, sizeof packet, 0, reinterpret_cast<const sockaddr *>(&call->address),
                         sizeof call->address);
            }
            ::close(tx);
        });
        threads.emplace_back([call, &sending] { // the stack's receiving thread
            std::uint8_t packet[4 + 2 * kFrame];
            while (sending.load()) {
                if (::recv(call->rx, packet, sizeof packet, 0) != static_cast<ssize_t>(sizeof packet))
                    continue;
                std::uint32_t ts = 0;
                std::int16_t samples[kFrame];
                std::memcpy(&ts, packet, 4);
                std::memcpy(samples, packet + 4, sizeof samples);
                call->buffer.put(ts, samples);
                ++call->packets;
            }
        });
        threads.emplace_back([call, start, frames] { // the line's reader (the wave device)
            std::vector<std::int16_t> out;
            bool began = false;
            std::uint64_t delivered = 0;
            // Reads on past the last packet by the delay, so that the stream's end is heard.
            const std::uint64_t reads = frames + 30;
            for (std::uint64_t n = 0; n < reads; ++n) {
                sleepUntilTick(start, n);
                // As the paced wave device does: everything the clock says is due, in one read
                // (after a stall of this thread, more than a frame).
                const auto due = static_cast<std::uint64_t>(
                    std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count() * 8 / 1000);
                if (due <= delivered)
                    continue;
                out.resize(due - delivered);
                delivered = due;
                const std::uint64_t before = call->buffer.stats().concealed;
                call->buffer.read(out);
                if (n >= frames)
                    call->tailConcealed += call->buffer.stats().concealed - before;
                // The far end never sends silence: a zero sample inside the stream is a gap.
                for (const std::int16_t v : out) {
                    if (v != 0)
                        began = true;
                    else if (began && n < frames)
                        ++call->silent;
                }
            }
        });
    }
    for (std::size_t i = 0; i < threads.size(); ++i) {
        if (i % 3 == 0)
            threads[i].join(); // the senders first
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    sending = false;
    for (std::size_t i = 0; i < threads.size(); ++i) {
        if (i % 3 != 0)
            threads[i].join();
    }
    stop = true;
    for (auto &t : busy)
        t.join();

    std::printf("%d calls, %d s each, %u cores, %u busy threads, jitter buffer %u ms\n", kCalls, seconds, cores,
                cores * static_cast<unsigned>(perCore), jitter / 8);
    std::printf("call  packets  lost frames (late)  skipped frames  concealed ms  silent gaps ms  grown to ms  mean delay ms\n");
    std::uint64_t lostAll = 0;
    for (int c = 0; c < kCalls; ++c) {
        const JitterBuffer::Stats s = calls[static_cast<std::size_t>(c)]->buffer.stats();
        const std::uint64_t concealed = s.concealed - calls[static_cast<std::size_t>(c)]->tailConcealed;
        // Skipped: received but thrown away to bound the delay.
        lostAll += (s.late + s.skipped) / kFrame;
        std::printf("%4d  %7llu  %18.1f  %14.1f  %12.1f  %14.1f  %11.1f  %13.1f\n", c,
                    static_cast<unsigned long long>(calls[static_cast<std::size_t>(c)]->packets.load()),
                    double(s.late) / kFrame, double(s.skipped) / kFrame, double(concealed) / 8.0,
                    double(calls[static_cast<std::size_t>(c)]->silent) / 8.0, double(s.delay) / 8.0,
                    s.reads ? double(s.delaySum) / double(s.reads) / 8.0 : 0.0);
        ::close(calls[static_cast<std::size_t>(c)]->rx);
    }
    std::printf("frames lost for good: %llu of %llu\n", static_cast<unsigned long long>(lostAll),
                static_cast<unsigned long long>(frames * kCalls));
    return 0;
}
