#pragma once

// A program a test runs against (vgetty, baresip, kamailio, mosquitto, aiosmtpd, chromium, the
// private sound server of scripts/test) that cannot be used here. On a developer's machine the
// test is skipped with the reason, and CTest reports it as skipped; in CI (CI=true), where
// scripts/setup installs every peer, the same reason fails the test, so that a broken set-up
// never passes as a green run.
#include <QTest>

namespace telvox::test {

inline bool peersRequired()
{
    const QByteArray ci = qgetenv("CI").trimmed().toLower();
    return !ci.isEmpty() && ci != "0" && ci != "false";
}

} // namespace telvox::test

#define TELVOX_SKIP_WITHOUT_PEER(reason)                                                                         \
    do {                                                                                                         \
        if (::telvox::test::peersRequired())                                                                     \
            QFAIL(qPrintable(QStringLiteral("CI requires this peer: ") + QString(reason)));                      \
        QSKIP(qPrintable(QString(reason)));                                                                      \
    } while (false)
