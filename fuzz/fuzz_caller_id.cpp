// What a modem reports as caller ID, as any bytes: formatted tags, +VCID=2 hexadecimal packets
// (SDMF, MDMF) and the text of <DLE>X packets, line by line, merged as the line merges them.
#include "platform/telephony/modem/CallerIdParser.h"

#include <QList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace telvox::modem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    CallerIdCollector collector;
    CallerIdData merged;
    for (const QByteArray &line : bytes.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        (void)collector.feedLine(trimmed);
        if (const std::optional<CallerIdData> packet = decodeRawPacket(trimmed)) {
            CallerIdData copy = *packet;
            copy.finish();
            mergeCallerId(merged, copy);
        }
    }
    CallerIdData taken = collector.take();
    // A number that was delivered is never replaced by a reason for its absence.
    const QByteArray number = merged.number;
    mergeCallerId(merged, taken);
    if (!number.isEmpty() && taken.number.isEmpty() && merged.number != number)
        std::abort();
    if (collector.hasData())
        std::abort(); // take() starts afresh
    return 0;
}
