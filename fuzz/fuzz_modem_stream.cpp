// What a voice modem sends, as any bytes: result codes, caller ID, <DLE> events and audio, in
// pieces of any size, to a line that is idle or in the middle of a call being recorded. The
// line's parser and state machine take it without crashing or reading past a buffer. The first
// byte chooses the state and the size of the pieces.
#include "platform/telephony/modem/ScriptedModem.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace telvox;
using namespace telvox::test;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const int mode = data[0];
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));

    // The <DLE> decoder gives back exactly what shielding put in, whatever the bytes.
    {
        modem::DleDecoder decoder;
        QByteArray plain;
        int events = 0;
        decoder.setHandlers([&](const char *d, qsizetype n) { plain.append(d, n); }, [&](char) { ++events; });
        const QByteArray shielded = modem::shielded(stream);
        for (qsizetype at = 0; at < shielded.size(); at += 1 + (mode & 7))
            decoder.feed(shielded.mid(at, 1 + (mode & 7)));
        if (plain != stream || events != 0 || decoder.pendingDle())
            std::abort();
    }

    Rig rig(mode & 0x40 ? usrChip() : conexantChip());
    if (!rig.modemLine().ready())
        std::abort();
    if (mode & 0x80) {
        const HCall call = rig.answeredCall();
        if (call == 0)
            std::abort();
        rig.record(2, 1600);
    }
    const qsizetype piece = 1 + ((mode >> 3) & 7) * 9;
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        rig.modem->push(stream.mid(at, piece));
        rig.settle(20);
    }
    rig.settle(4000); // the line's timers (command timeouts, resets) run out
    return 0;
}
