// How the LocalSend server reads what a client sends before any rule of the API applies:
// request heads and chunked bodies, tables of byte strings.

#include <gtest/gtest.h>

#include "localsend/chunkeddecoder.h"
#include "localsend/httprequest.h"

namespace {

using localsend::ChunkedDecoder;
using localsend::HttpHead;
using localsend::parseHttpHead;
using Status = HttpHead::Status;

TEST(HttpHead, ReadsWhatSendersSendAndRefusesWhatIsAmbiguous) {
    struct Case {
        const char* bytes;
        Status status;
        int code;  // for Bad
    };
    const Case cases[] = {
        {"GET /api/localsend/v2/info HTTP/1.1\r\nHost: x\r\n\r\n", Status::Complete, 0},
        {"GET /api/localsend/v2/info HTTP/1.1\r\nHost: x\r\n", Status::Incomplete, 0},
        {"GET /api/loc", Status::Incomplete, 0},
        {"\r\nGET / HTTP/1.1\n\n", Status::Complete, 0},  // a stray line end, bare LFs
        {"GET / HTTP/1.0\r\n\r\n", Status::Complete, 0},
        {"GET / HTTP/2.0\r\n\r\n", Status::Bad, 505},
        {"GET / FTP/1.1\r\n\r\n", Status::Bad, 400},
        {"GET http://x/ HTTP/1.1\r\n\r\n", Status::Bad, 400},  // only origin form
        {"GET /a b HTTP/1.1\r\n\r\n", Status::Bad, 400},
        {"G@T / HTTP/1.1\r\n\r\n", Status::Bad, 400},
        {"GET / HTTP/1.1\r\nNo colon\r\n\r\n", Status::Bad, 400},
        {"GET / HTTP/1.1\r\nName : v\r\n\r\n", Status::Bad, 400},
        {"GET / HTTP/1.1\r\nA: b\r\n folded\r\n\r\n", Status::Bad, 400},
        {"GET / HTTP/1.1\r\nA: b\x01\r\n\r\n", Status::Bad, 400},
        {"POST / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", Status::Bad, 400},
        {"POST / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\n", Status::Complete, 0},
        {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", Status::Bad, 400},
        {"POST / HTTP/1.1\r\nContent-Length: 1e3\r\n\r\n", Status::Bad, 400},
        {"POST / HTTP/1.1\r\nContent-Length: 9999999999999999999\r\n\r\n", Status::Bad, 400},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n", Status::Bad,
         400},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", Status::Bad, 501},
        {"POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n", Status::Bad, 400},
        {"POST / HTTP/1.1\r\nExpect: 200-ok\r\n\r\n", Status::Bad, 417},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        const HttpHead head = parseHttpHead(c.bytes);
        EXPECT_EQ(head.status, c.status);
        if (c.status == Status::Bad) {
            EXPECT_EQ(head.errorCode, c.code);
        }
    }
}

TEST(HttpHead, GivesTheRequestItsQueryLengthAndConnection) {
    const QByteArray bytes =
        "POST /api/localsend/v2/upload?sessionId=a%20b&fileId=x+y&token=&flag HTTP/1.1\r\n"
        "Content-Length: 12\r\nConnection: close\r\nExpect: 100-continue\r\n\r\nbody";
    const HttpHead head = parseHttpHead(bytes);
    ASSERT_EQ(head.status, Status::Complete);
    EXPECT_EQ(head.consumed, bytes.size() - 4);
    const localsend::HttpRequest& r = head.request;
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.path, "/api/localsend/v2/upload");
    EXPECT_EQ(r.queryValue("sessionId"), QByteArray("a b"));
    EXPECT_EQ(r.queryValue("fileId"), QByteArray("x y"));
    EXPECT_EQ(r.queryValue("token"), QByteArray());
    EXPECT_EQ(r.queryValue("flag"), QByteArray());
    EXPECT_FALSE(r.queryValue("pin").has_value());
    EXPECT_EQ(r.contentLength, 12);
    EXPECT_FALSE(r.keepAlive);
    EXPECT_TRUE(r.expectContinue);
    EXPECT_FALSE(parseHttpHead("GET / HTTP/1.0\r\n\r\n").request.keepAlive);
    EXPECT_TRUE(
        parseHttpHead("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n").request.keepAlive);
    EXPECT_TRUE(parseHttpHead("GET / HTTP/1.1\r\n\r\n").request.keepAlive);
}

TEST(HttpHead, BoundsHoldWhetherTheEndHasComeOrNot) {
    const localsend::HttpLimits limits;
    const QByteArray longLine = "GET /" + QByteArray(limits.maxRequestLine, 'a');
    EXPECT_EQ(parseHttpHead(longLine).errorCode, 414);
    EXPECT_EQ(parseHttpHead(longLine + " HTTP/1.1\r\n\r\n").errorCode, 414);
    QByteArray many = "GET / HTTP/1.1\r\n";
    for (int i = 0; i <= limits.maxHeaders; ++i) {
        many += "X-" + QByteArray::number(i) + ": y\r\n";
    }
    EXPECT_EQ(parseHttpHead(many + "\r\n").errorCode, 431);
    const QByteArray big = "GET / HTTP/1.1\r\nX: " + QByteArray(limits.maxHead, 'v');
    EXPECT_EQ(parseHttpHead(big).errorCode, 431);
    EXPECT_EQ(parseHttpHead(big + "\r\n\r\n").errorCode, 431);
}

// The decoder gives the same data and stops at the same byte however the body is cut.
TEST(ChunkedBody, DecodesInPiecesOfEverySize) {
    struct Case {
        QByteArray body;
        QByteArray data;  // what it decodes to; empty with `bad`
        bool bad;
        qsizetype used;  // bytes of the body that are its own
    };
    const QByteArray after = "POST /next";
    const Case cases[] = {
        {"5\r\nhello\r\n6;ext=1\r\n world\r\n0\r\n\r\n" + after, "hello world", false, 32},
        {"A\n0123456789\n0\nTrailer: x\n\n" + after, "0123456789", false, 27},
        {"0\r\n\r\n", "", false, 5},
        {"g\r\n", "", true, 0},
        {"5\r\nhelloXX", "", true, 0},
        {"1000000000000000\r\n", "", true, 0},
        {QByteArray(ChunkedDecoder::kMaxLine + 1, '1'), "", true, 0},
        {"0\r\n" + QByteArray(ChunkedDecoder::kMaxTrailer + 10, 'x'), "", true, 0},
    };
    for (const Case& c : cases) {
        for (qsizetype piece = 1; piece <= c.body.size(); piece = piece * 2 + 1) {
            SCOPED_TRACE(c.body.left(40).toStdString() + " in pieces of " + std::to_string(piece));
            ChunkedDecoder decoder;
            QByteArray data;
            qsizetype used = 0;
            for (qsizetype at = 0; at < c.body.size() && !decoder.done() && !decoder.bad();
                 at += piece) {
                used += decoder.feed(
                    QByteArrayView(c.body).sliced(at).first(qMin(piece, c.body.size() - at)), data);
            }
            EXPECT_EQ(decoder.bad(), c.bad);
            if (!c.bad) {
                EXPECT_TRUE(decoder.done());
                EXPECT_EQ(data, c.data);
                EXPECT_EQ(used, c.used);
            }
        }
    }
}

}  // namespace
