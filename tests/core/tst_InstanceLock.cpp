#include "core/InstanceLock.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace telvox;

class tst_InstanceLock : public QObject
{
    Q_OBJECT

private slots:
    // One holder at a time; letting go or ending in any way frees the lock, and the file that
    // holds it stays in place.
    void oneHolderUntilItEnds()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("telvox.lock"));
        InstanceLock first;
        QCOMPARE(first.tryLock(path), InstanceLock::Result::Taken);
        InstanceLock second;
        QCOMPARE(second.tryLock(path), InstanceLock::Result::HeldElsewhere);
        QVERIFY(!second.isLocked());
        first.unlock();
        QVERIFY(QFile::exists(path));
        QCOMPARE(second.tryLock(path), InstanceLock::Result::Taken);
        second.unlock();

        // A holder killed outright leaves no stale lock behind.
        int ready[2];
        QCOMPARE(::pipe(ready), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            InstanceLock held;
            const char taken = held.tryLock(path) == InstanceLock::Result::Taken ? 'y' : 'n';
            (void)!::write(ready[1], &taken, 1);
            ::pause();
            ::_exit(0);
        }
        char taken = 0;
        QCOMPARE(::read(ready[0], &taken, 1), ssize_t(1));
        QCOMPARE(taken, 'y');
        QCOMPARE(first.tryLock(path), InstanceLock::Result::HeldElsewhere);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        QCOMPARE(first.tryLock(path), InstanceLock::Result::Taken);
        ::close(ready[0]);
        ::close(ready[1]);
    }

    void aFolderThatIsNotThereFailsWithItsReason()
    {
        QTemporaryDir dir;
        InstanceLock lock;
        QString reason;
        QCOMPARE(lock.tryLock(dir.filePath(QStringLiteral("gone/telvox.lock")), &reason), InstanceLock::Result::Failed);
        QVERIFY2(reason.contains(QStringLiteral("No such file")), qPrintable(reason));
    }
};

QTEST_GUILESS_MAIN(tst_InstanceLock)
#include "tst_InstanceLock.moc"
