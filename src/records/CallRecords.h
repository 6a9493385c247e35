#pragma once

#include "records/MessageStore.h"

#include <QString>
#include <QStringList>

namespace telvox {

// The last ten numbers dialled ("Made") and the last ten caller numbers received ("Received")
// in the message store, oldest first. A number goes to the end; with ten already there the
// oldest is lost. Duplicates stay.
inline constexpr int kCallRecordSlots = MessageStore::kCallRecordSlots;

// The one algorithm behind both lists.
inline void AddCallRecord(MessageStore &store, const QString &section, const QString &number)
{
    store.addCallRecord(section, number);
}
inline void AddMadeCall(MessageStore &store, const QString &number)
{
    AddCallRecord(store, QStringLiteral("Made"), number);
}
inline void AddReceivedCall(MessageStore &store, const QString &number)
{
    AddCallRecord(store, QStringLiteral("Received"), number);
}

// The numbers of one list, oldest first.
inline QStringList readCallRecords(const MessageStore &store, const QString &section)
{
    return store.callRecords(section);
}

} // namespace telvox
