#include "identity/lanetls.h"
#include "identity/securelaneserver.h"
#include "identity/tlspeerguard.h"
#include "tlsfixture.h"

#include <QSslCipher>
#include <QSslSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class LaneTlsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Identity receiver = makeIdentity(dir.filePath(QStringLiteral("receiver")));
    Identity sender = makeIdentity(dir.filePath(QStringLiteral("sender")));
};

TEST_F(LaneTlsTest, BothEndsKnowEachOtherByFingerprint) {
    SecureLaneServer server(receiver, lanetls::expect(sender.fingerprint()));
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QSslSocket* accepted = nullptr;
    QByteArray greeting;
    QObject::connect(&server, &QTcpServer::pendingConnectionAvailable, [&] {
        accepted = static_cast<QSslSocket*>(server.nextPendingConnection());
        QObject::connect(accepted, &QTcpSocket::readyRead,
                         [&] { greeting += accepted->readAll(); });
    });
    QSslSocket* client = lanetls::clientSocket(sender, lanetls::expect(receiver.fingerprint()));
    // The greeting goes out the moment the client's side is done, as the lane's sender does.
    QObject::connect(client, &QSslSocket::encrypted,
                     [client] { client->write("RUVOLANE\0\1", 10); });
    client->connectToHostEncrypted(QStringLiteral("127.0.0.1"), server.serverPort());

    ASSERT_TRUE(waitUntil([&] { return greeting.size() == 10; }));
    EXPECT_EQ(greeting, QByteArray("RUVOLANE\0\1", 10));
    EXPECT_EQ(lanetls::peerFingerprint(*accepted), sender.fingerprint());
    EXPECT_EQ(lanetls::peerFingerprint(*client), receiver.fingerprint());
    EXPECT_EQ(accepted->sessionProtocol(), QSsl::TlsV1_3);
    EXPECT_EQ(client->sessionCipher().name(), QStringLiteral("TLS_AES_128_GCM_SHA256"));
    delete client;
}

}  // namespace
