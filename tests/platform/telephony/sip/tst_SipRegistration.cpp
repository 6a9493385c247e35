// SIP lines registering with Debian's kamailio as the registrar on the loopback interface
// (tests/platform/telephony/sip/kamailio.cfg): the right password, a wrong one, and the
// registrar going away and coming back. What the user sees is the status text.
#include "core/QtEventLoop.h"
#include "core/Texts.h"
#include "platform/telephony/sip/SipTelephony.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

using namespace telvox;
using namespace telvox::sip;

namespace {

bool waitFor(const std::function<bool()> &predicate, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!predicate()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

QString kamailioModules()
{
    for (const QString &dir : {QStringLiteral("/usr/lib/x86_64-linux-gnu/kamailio/modules"),
                               QStringLiteral("/usr/lib/kamailio/modules")}) {
        if (QFile::exists(dir + QStringLiteral("/registrar.so")))
            return dir;
    }
    return {};
}

quint16 freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// kamailio on 127.0.0.1:port (UDP and TCP) with the test configuration, until stopped.
class Registrar
{
public:
    explicit Registrar(quint16 port)
        : m_port(port)
    {
        QFile source(qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/platform/telephony/sip/kamailio.cfg");
        source.open(QIODevice::ReadOnly);
        QString config = QString::fromUtf8(source.readAll());
        config.replace("@PORT@", QString::number(port)).replace("@MODULES@", kamailioModules() + '/');
        QFile out(m_dir.filePath("kamailio.cfg"));
        out.open(QIODevice::WriteOnly);
        out.write(config.toUtf8());
    }
    ~Registrar() { stop(); }
    bool start()
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStandardPaths::findExecutable("kamailio"),
                        {"-f", m_dir.filePath("kamailio.cfg"), "-DD", "-E", "-m", "16", "-M", "4", "-Y", m_dir.path(),
                         "-P", m_dir.filePath("kamailio.pid")});
        if (!m_process.waitForStarted(5000))
            return false;
        // Ready once it takes TCP connections.
        return waitFor([this] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            return probe.waitForConnected(100);
        }, 8000);
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
    QString log() { return QString::fromLocal8Bit(m_process.readAll()); }

private:
    quint16 m_port;
    QTemporaryDir m_dir;
    QProcess m_process;
};

struct Account
{
    Account(quint16 registrarPort, const QString &password, const QString &transport)
    {
        table.loadBuiltIn();
        SipLineConfig line;
        line.setup.listenAddress = QStringLiteral("127.0.0.1:0");
        line.setup.registrar = QStringLiteral("127.0.0.1:%1").arg(registrarPort);
        line.setup.user = QStringLiteral("telvox");
        line.setup.password = password;
        line.setup.transport = transport;
        line.setup.expiresSeconds = 10;
        line.setup.retrySeconds = 1;
        service = std::make_unique<SipTelephony>(loop, std::vector<SipLineConfig>{line});
        service->setStatusHandler([this](const SipNotice &n) { status << n.format(texts); });
        failure = service->start();
    }
    bool told(const QString &part) const { return status.join('|').contains(part); }

    QtEventLoop loop;
    StringTable table;
    Texts texts{table, 0};
    QStringList status;
    std::unique_ptr<SipTelephony> service;
    QString failure;
};

} // namespace

class tst_SipRegistration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable("kamailio").isEmpty(),
                 "kamailio is not installed: run scripts/setup (kamailio)");
        QVERIFY2(!kamailioModules().isEmpty(), "kamailio's modules (registrar.so) are missing");
    }

    void registersWithTheRightPassword()
    {
        const quint16 port = freePort();
        Registrar registrar(port);
        QVERIFY(registrar.start());
        Account a(port, QStringLiteral("secret"), QStringLiteral("udp"));
        QVERIFY2(a.failure.isEmpty(), qPrintable(a.failure));
        const QString where = QStringLiteral("127.0.0.1:%1").arg(port);
        QVERIFY2(waitFor([&] { return a.service->registered(0); }, 8000), qPrintable(a.status.join('|') + registrar.log()));
        QCOMPARE(a.status, QStringList{QStringLiteral("Line0: registered at %1").arg(where)});
        // In the other languages too.
        Texts simplified(a.table, 1000);
        QCOMPARE(SipNotice({notice::kRegistered, {"Line0", where}}).format(simplified),
                 QStringLiteral("Line0：已在 %1 注册").arg(where));
    }

    void aWrongPasswordIsReportedWithTheRegistrarsReason()
    {
        const quint16 port = freePort();
        Registrar registrar(port);
        QVERIFY(registrar.start());
        Account a(port, QStringLiteral("wrong"), QStringLiteral("udp"));
        QVERIFY2(waitFor([&] { return a.told(QStringLiteral("failed (")); }, 8000), qPrintable(a.status.join('|')));
        QVERIFY2(a.told(QStringLiteral("(401 ")) || a.told(QStringLiteral("(403 ")), qPrintable(a.status.join('|')));
        QVERIFY(!a.service->registered(0));
        // Retried every second, told once.
        QTest::qWait(2500);
        QCOMPARE(a.status.size(), 1);
    }

    void theRegistrarGoingAwayAndComingBack()
    {
        const quint16 port = freePort();
        auto registrar = std::make_unique<Registrar>(port);
        QVERIFY(registrar->start());
        Account a(port, QStringLiteral("secret"), QStringLiteral("tcp"));
        QVERIFY2(waitFor([&] { return a.service->registered(0); }, 8000), qPrintable(a.status.join('|')));
        registrar.reset();
        // The refresh (half of the 10 s) finds nobody.
        QVERIFY2(waitFor([&] { return a.told(QStringLiteral("network lost")); }, 15000), qPrintable(a.status.join('|')));
        QVERIFY(!a.service->registered(0));
        registrar = std::make_unique<Registrar>(port);
        QVERIFY(registrar->start());
        QVERIFY2(waitFor([&] { return a.service->registered(0); }, 8000), qPrintable(a.status.join('|')));
        QVERIFY2(a.status.last().endsWith(QStringLiteral("again")), qPrintable(a.status.join('|')));
    }
};

QTEST_GUILESS_MAIN(tst_SipRegistration)
#include "tst_SipRegistration.moc"
