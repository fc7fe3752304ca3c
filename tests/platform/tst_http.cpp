#include "SampleCardServer.h"
#include "SampleCollection.h"
#include "TestSupport.h"
#include "platform/Http.h"

#include <QTimer>
#include <QtTest>

#include <set>

using Answer = SampleCardServer::Answer;
using Fault = Answer::Fault;

class tst_Http : public QObject
{
    Q_OBJECT

private slots:
    void goodFetchReturnsExactBytes();
    void failedFetchesReturnNoBody_data();
    void failedFetchesReturnNoBody();
    void refusedConnectionFails();
    void fetchesShareOneKeptAliveConnection();
    void urlIsSentAsBuiltWithUnsafeCharactersEncoded();
    void abortEndsTheFetchUnderWay();

private:
    static QString url(const SampleCardServer& server, const std::string& path)
    {
        return QString::fromStdString(server.origin() + path);
    }
};

void tst_Http::goodFetchReturnsExactBytes()
{
    SampleCardServer server;
    Fetcher fetcher;
    const Result<QByteArray> body =
        fetcher.fetch(url(server, "/free/sets/a0001/illustrations/a0001c.jpg"));
    QVERIFY2(body.ok(), qPrintable(body.error()));
    QCOMPARE(body.value(), toBytes(sample::assetBody("a0001", "c.jpg")));

    server.setAnswer("/empty", Answer{200, "", Fault::None, 0, {}, {}});
    const Result<QByteArray> empty = fetcher.fetch(url(server, "/empty"));
    QVERIFY(empty.ok());
    QVERIFY(empty.value().isEmpty());
}

void tst_Http::failedFetchesReturnNoBody_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("reasonPart");

    QTest::newRow("404") << 404 << int(Fault::None) << QString() << "404";
    QTest::newRow("500") << 500 << int(Fault::None) << QString() << "500";
    QTest::newRow("truncated body") << 200 << int(Fault::Truncate) << QString() << "";
    QTest::newRow("dropped connection") << 200 << int(Fault::Drop) << QString() << "";
    QTest::newRow("stall past time-out") << 200 << int(Fault::Stall) << QString() << "no data";
    QTest::newRow("body past cap") << 200 << int(Fault::None) << QString() << "larger than";
    QTest::newRow("redirect loop") << 302 << int(Fault::RedirectLoop) << QString() << "redirect";
    QTest::newRow("redirect to file") << 302 << int(Fault::None) << "file:///etc/hostname"
                                      << "refused a redirect";
}

void tst_Http::failedFetchesReturnNoBody()
{
    QFETCH(int, status);
    QFETCH(int, fault);
    QFETCH(QString, location);
    QFETCH(QString, reasonPart);

    SampleCardServer server;
    Answer answer;
    answer.status = status;
    answer.fault = Fault(fault);
    answer.body =
        std::string(QTest::currentDataTag() == QByteArray("body past cap") ? 5000 : 3000, 'b');
    answer.truncateAt = 1000;
    answer.stall = std::chrono::milliseconds(1500);
    answer.location = location.toStdString();
    server.setAnswer("/asset", answer);

    Fetcher fetcher;
    fetcher.setTransferTimeout(std::chrono::milliseconds(300));
    fetcher.setMaxBodySize(4096);
    const Result<QByteArray> body = fetcher.fetch(url(server, "/asset"));
    QVERIFY(!body.ok());
    QVERIFY2(body.error().contains(reasonPart, Qt::CaseInsensitive), qPrintable(body.error()));

    // The fetcher is usable again right after a failure.
    const Result<QByteArray> next =
        fetcher.fetch(url(server, "/free/sets/b0001/illustrations/b0001d.bmp"));
    QVERIFY2(next.ok(), qPrintable(next.error()));
}

void tst_Http::refusedConnectionFails()
{
    int closedPort = 0;
    {
        SampleCardServer server;
        closedPort = server.port();
    }
    Fetcher fetcher;
    const Result<QByteArray> body =
        fetcher.fetch(QStringLiteral("http://127.0.0.1:%1/free/sets/a0001/illustrations/a0001c.jpg")
                          .arg(closedPort));
    QVERIFY(!body.ok());
    QVERIFY(!body.error().isEmpty());
}

void tst_Http::fetchesShareOneKeptAliveConnection()
{
    SampleCardServer server;
    Fetcher fetcher;
    for (const std::string& suffix : sample::kServedSuffixes)
        QVERIFY(fetcher.fetch(url(server, "/free/sets/c0002/illustrations/c0002" + suffix)).ok());
    std::set<int> connections;
    for (const SampleCardServer::Request& request : server.requests())
        connections.insert(request.remotePort);
    QCOMPARE(server.requests().size(), sample::kServedSuffixes.size());
    QCOMPARE(connections.size(), std::size_t(1));
}

void tst_Http::urlIsSentAsBuiltWithUnsafeCharactersEncoded()
{
    SampleCardServer server;
    Fetcher fetcher;
    const QString built = QString::fromStdString(server.origin()) +
                          "/bof/bof.php?cmd=cardinfo&zumikey=K&=1 2&zumiusername=J\u00f6 D"
                          "&cardids=a0001&xmlonly=1";
    QVERIFY(fetcher.fetch(built).ok());
    QCOMPARE(server.targets(),
             std::vector<std::string>({"/bof/bof.php?cmd=cardinfo&zumikey=K&=1%202&zumiusername="
                                       "J%C3%B6%20D&cardids=a0001&xmlonly=1"}));
}

void tst_Http::abortEndsTheFetchUnderWay()
{
    SampleCardServer server;
    Answer slow;
    slow.fault = Fault::Stall;
    slow.stall = std::chrono::milliseconds(3000);
    slow.body = "late";
    server.setAnswer("/slow", slow);

    Fetcher fetcher;
    QTimer::singleShot(100, &fetcher, [&fetcher] { fetcher.abort(); });
    QElapsedTimer clock;
    clock.start();
    const Result<QByteArray> body = fetcher.fetch(url(server, "/slow"));
    QVERIFY(!body.ok());
    QVERIFY(clock.elapsed() < 2500);
}

QTEST_GUILESS_MAIN(tst_Http)
#include "tst_http.moc"
