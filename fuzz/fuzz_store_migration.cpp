// An options file of an earlier version, as any bytes, moved into the message index: the
// migration takes what it can, and a second run finds nothing left to move.
#include "core/Settings.h"
#include "records/MessageStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace telvox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("telvox.ini"));
    {
        QFile file(ini);
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    SettingsStore settings(ini, dir.filePath(QStringLiteral("settings.txt")));
    MessageStore store(QStringLiteral(":memory:")); // the database on disk would only add syncs
    const int moved = store.migrateFromSettings(settings, dir.filePath(QStringLiteral("rec")));
    if (moved < 0)
        std::abort(); // a working database never refuses
    if (store.migrateFromSettings(settings, dir.filePath(QStringLiteral("rec"))) != 0)
        std::abort();
    return 0;
}
