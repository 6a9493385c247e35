// BlockList.txt / AllowList.txt as any text (they also arrive over MQTT and the web): entries
// parsed, each matched against callers, and a line written back for each entry parses again.
#include "records/CallBlockList.h"

#include <QRegularExpression>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace telvox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    LineProblems problems;
    const std::vector<BlockEntry> entries = parseBlockList(text, &problems);
    const QString number = comparableNumber(text.left(40));
    for (const BlockEntry &e : entries) {
        (void)e.matches(CallerKind::Number, number);
        (void)e.matches(CallerKind::Withheld, QString());
        (void)e.matches(CallerKind::Unavailable, QString());
        // A prefix entry always keeps a digit: "*" alone would block every caller.
        if (e.kind == BlockEntry::Kind::Prefix && !e.digits.contains(QRegularExpression(QStringLiteral("[0-9]"))))
            std::abort();
        const std::vector<BlockEntry> again = parseBlockList(blockListLine(e.text, e.label));
        if (again.size() != 1 || again.front().kind != e.kind || again.front().digits != e.digits)
            std::abort();
    }
    return 0;
}
