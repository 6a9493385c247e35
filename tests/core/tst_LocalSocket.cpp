// The program's local control links: a listener and a client on a plain AF_UNIX socket, as
// the second start and the service's control socket use them.
#include "core/LocalSocket.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace telvox;

class tst_LocalSocket : public QObject
{
    Q_OBJECT

private slots:
    // A request line in, an answer out, the connection closed by the listener's side: what
    // askService and the service's control socket do.
    void requestAndAnswer()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("c.sock"));
        LocalListener listener;
        QVERIFY(listener.listen(path));
        QStringList heard;
        connect(&listener, &LocalListener::newConnection, this, [&heard](LocalConnection *c) {
            connect(c, &LocalConnection::readyRead, c, [&heard, c] {
                if (!c->canReadLine())
                    return; // the line is not complete yet
                heard << QString::fromUtf8(c->readLine());
                c->write(QByteArray(1000000, 'a') + "\nend\n"); // more than the socket buffers hold
                c->close();
            });
        });
        // The client blocks, so it runs on a thread of its own while the listener answers here.
        std::atomic<bool> done = false;
        bool connected = false;
        bool sent = false;
        QByteArray answer;
        std::thread client([&] {
            LocalClient socket;
            connected = socket.connectTo(path, 2000);
            sent = connected && socket.send("first part ", 1000) && socket.send("and the rest\nignored", 1000);
            answer = socket.receiveUntilClosed(5000);
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 8000);
        client.join();
        QVERIFY(connected);
        QVERIFY(sent);
        QCOMPARE(answer.size(), 1000000 + 5);
        QVERIFY(answer.endsWith("\nend\n"));
        QCOMPARE(heard, QStringList{QStringLiteral("first part and the rest\n")});
    }

    // The socket file: a leftover of an ended run is replaced, the new one has no rights for
    // group or others, and it goes when the listener does.
    void socketFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("raise.sock"));
        {
            // A socket file nobody listens on any more, as a killed run leaves it.
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
            QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
            ::close(fd);
        }
        LocalClient refused;
        QVERIFY(!refused.connectTo(path, 200)); // nothing listens: no wait for the whole time
        {
            const mode_t mask = ::umask(0);
            LocalListener listener;
            QString error;
            const bool listening = listener.listen(path, &error);
            ::umask(mask);
            QVERIFY2(listening, qPrintable(error));
            struct stat st{};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
            QCOMPARE(st.st_mode & 0077, mode_t(0));
            LocalClient client;
            QVERIFY(client.connectTo(path, 1000));
        }
        QVERIFY(!QFile::exists(path));

        LocalListener tooLong;
        QString error;
        QVERIFY(!tooLong.listen(dir.filePath(QString(120, QLatin1Char('x'))), &error));
        QVERIFY(error.contains(QLatin1String("too long")));

        // The address holds 108 bytes with its terminating zero: 107 fit, 108 do not.
        const sockaddr_un address{};
        const qsizetype room = qsizetype(sizeof address.sun_path) - dir.path().size() - 2;
        QVERIFY(room > 0);
        LocalListener longest;
        QVERIFY2(longest.listen(dir.filePath(QString(room, QLatin1Char('y'))), &error), qPrintable(error));
        LocalListener oneOver;
        QVERIFY(!oneOver.listen(dir.filePath(QString(room + 1, QLatin1Char('z'))), &error));
    }

    // A peer that goes away is reported once, after what it sent.
    void peerClosing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("p.sock"));
        LocalListener listener;
        QVERIFY(listener.listen(path));
        QSignalSpy connections(&listener, &LocalListener::newConnection);
        LocalClient client;
        QVERIFY(client.connectTo(path, 1000));
        QVERIFY(client.send("raise\n", 1000));
        client.close();
        QVERIFY(connections.wait(2000));
        auto *connection = connections.first().first().value<LocalConnection *>();
        QSignalSpy read(connection, &LocalConnection::readyRead);
        QSignalSpy gone(connection, &LocalConnection::disconnected);
        QVERIFY(gone.wait(2000));
        QCOMPARE(read.count(), 1);
        QCOMPARE(connection->readAll(), QByteArray("raise\n"));
        QTest::qWait(50);
        QCOMPARE(gone.count(), 1);
        QVERIFY(!connection->write("late", 200)); // to a peer that is gone
    }
};

QTEST_GUILESS_MAIN(tst_LocalSocket)
#include "tst_LocalSocket.moc"
