// The update check: which addresses may be asked, what a valid reply is, that nothing of the reply
// reaches the screen unescaped, and the whole exchange against a service on the loopback interface.

#include "app/updateCheck.h"
#include "base/appIdentity.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>

namespace {

using halvora::parseUpdateReply;
using halvora::updateReply;
using halvora::updateRequestUrl;

TEST(updateCheck, aValidReplyHasSixteenToAThousandAndTwentyFourCharactersAndFiveFields) {
    updateReply r;
    const QString shortest = "1#2#https://x#n#"; // 16 characters, 5 fields
    ASSERT_EQ(shortest.size(), 16);
    EXPECT_TRUE(parseUpdateReply(shortest, r));
    EXPECT_EQ(r.version, "1");
    EXPECT_FALSE(parseUpdateReply(shortest.left(15), r)) << "15 characters";
    const QString longest = "3.1#2027-01-01#https://a#" + QString(1024 - 26, 'n') + "#";
    ASSERT_EQ(longest.size(), 1024);
    EXPECT_TRUE(parseUpdateReply(longest, r));
    EXPECT_FALSE(parseUpdateReply(longest + "x", r)) << "1025 characters";
    EXPECT_FALSE(parseUpdateReply("3.1#2027-01-01#https://a#note", r)) << "4 fields";
    EXPECT_FALSE(parseUpdateReply("3.1#2027-01-01#https://a#note#h#x", r)) << "6 fields";
    EXPECT_TRUE(parseUpdateReply("3.1#2027-01-01#https://a/d#note#https://a/h", r));
    EXPECT_EQ(r.releaseDate, "2027-01-01");
    EXPECT_EQ(r.downloadUrl, "https://a/d");
    EXPECT_EQ(r.note, "note");
    EXPECT_EQ(r.historyUrl, "https://a/h");
}

TEST(updateCheck, onlyHttpsOrTheLoopbackIsAskedAndNothingPersonalIsSent) {
    EXPECT_TRUE(updateRequestUrl("").isEmpty()) << "no address: no check";
    EXPECT_TRUE(updateRequestUrl("http://updates.example.org").isEmpty()) << "plain HTTP leaves the machine";
    EXPECT_TRUE(updateRequestUrl("ftp://updates.example.org").isEmpty());
    EXPECT_TRUE(updateRequestUrl("not an address").isEmpty());
    const QUrl secure = updateRequestUrl("https://updates.example.org/halvora/");
    EXPECT_EQ(secure.toString(), "https://updates.example.org/halvora/vercheck/index3.php?email=");
    EXPECT_EQ(secure.query(), "email=") << "no e-mail address or other personal data";
    EXPECT_EQ(updateRequestUrl("http://127.0.0.1:8123").toString(),
              "http://127.0.0.1:8123/vercheck/index3.php?email=");
    EXPECT_FALSE(updateRequestUrl("http://localhost:9").isEmpty());
}

TEST(updateCheck, everyFieldOfTheReplyIsEscapedAndOnlyHttpsLinksAreOffered) {
    updateReply r;
    ASSERT_TRUE(parseUpdateReply(
        "<b>9</b>#<img src=x onerror=alert(1)>#javascript:alert(1)#<script>x</script>#h", r));
    const QString text = halvora::updateDialogText(r, halvora::kApplicationVersion);
    EXPECT_FALSE(text.contains("<script>"));
    EXPECT_FALSE(text.contains("<img"));
    EXPECT_FALSE(text.contains("<b>9</b>"));
    EXPECT_TRUE(text.contains("&lt;script&gt;x&lt;/script&gt;"));
    EXPECT_FALSE(text.contains("javascript:")) << "a link that is not https is not offered";
    EXPECT_TRUE(text.contains("There is a new version of Halvora available for download"));

    ASSERT_TRUE(
        parseUpdateReply(QString(halvora::kApplicationVersion) + "#2026-12-06#https://a#note#https://b", r));
    EXPECT_EQ(halvora::updateDialogText(r, halvora::kApplicationVersion),
              "Currently there are no updates available. You have the most recent version installed.");
}

// A one-reply web service on the loopback interface.
struct fakeService {
    QTcpServer server;
    QByteArray body;
    QByteArray request;
    explicit fakeService(QByteArray reply) : body(std::move(reply)) {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                request += socket->readAll();
                if (!request.contains("\r\n\r\n")) return;
                socket->write(
                    "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }
};

template <class Done> bool waitFor(Done done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 15000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return done();
}

TEST(updateCheck, theServiceIsAskedAndItsAnswerOrItsFailureReported) {
    fakeService service("9.9.9#2027-03-01#https://example.org/d#Faster merging#https://example.org/h");
    ASSERT_TRUE(service.server.isListening());
    checkUpdates check(service.base());
    QString text, failure;
    QObject::connect(&check, &checkUpdates::checked, [&](const QString& t, const updateReply&) { text = t; });
    QObject::connect(&check, &checkUpdates::failed, [&](const QString& f) { failure = f; });
    ASSERT_TRUE(check.doCheck(true));
    ASSERT_TRUE(waitFor([&] { return !text.isEmpty() || !failure.isEmpty(); }));
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
    EXPECT_TRUE(text.contains("<b>9.9.9</b>"));
    EXPECT_TRUE(text.contains("<i>Faster merging</i>"));
    EXPECT_TRUE(service.request.startsWith("GET /vercheck/index3.php?email= HTTP/1.1"))
        << service.request.toStdString();

    fakeService broken("only#three#fields-and-nothing-more");
    checkUpdates second(broken.base());
    text.clear();
    failure.clear();
    QObject::connect(&second, &checkUpdates::failed, [&](const QString& f) { failure = f; });
    ASSERT_TRUE(second.doCheck(false));
    ASSERT_TRUE(waitFor([&] { return !failure.isEmpty(); }));
    EXPECT_EQ(failure, "Unable to check for updates.") << "a malformed reply is always said";
}

TEST(updateCheck, networkFailuresAreSaidOnlyWhenTheUserAsked) {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close(); // nobody answers there now
    for (bool userStarted : {true, false}) {
        checkUpdates check(base);
        QString failure;
        bool answered = false, ended = false;
        QObject::connect(&check, &checkUpdates::failed, [&](const QString& f) { failure = f; });
        QObject::connect(&check, &checkUpdates::checked, [&] { answered = true; });
        QObject::connect(&check, &checkUpdates::done, [&] { ended = true; });
        ASSERT_TRUE(check.doCheck(userStarted));
        ASSERT_TRUE(waitFor([&] { return ended; }));
        EXPECT_FALSE(answered);
        if (userStarted)
            EXPECT_EQ(failure, "Cannot check for updates due to network connection or server problem.");
        else
            EXPECT_TRUE(failure.isEmpty()) << "an automatic check stays silent";
    }
    checkUpdates none{QString()};
    EXPECT_FALSE(none.doCheck(true)) << "no address, no check";
}

} // namespace
