// A receiving copy started under a file size limit (ulimit -f) gets a file larger than the
// limit: the write past it fails instead of killing the copy, the transfer ends with the
// write failure's text, and the partial file stays.

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "harnessprocess.h"
#include "hostilesupport.h"

namespace {

constexpr qint64 kLimitBlocks = 2048;  // of 512 bytes, as sh counts them: 1 MiB
constexpr qint64 kFileSize = 3 << 20;

void endsWithTheWriteFailure(const QStringList& lane) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("recv")));
    const QString folder = root.filePath(QStringLiteral("recv"));
    const QString source = root.filePath(QStringLiteral("big.bin"));
    ASSERT_TRUE(writePatternFile(source, kFileSize, 7));

    HarnessProcess receiver(QStringLiteral("receiver"));
    ASSERT_TRUE(receiver.start(
        lane + QStringList{QStringLiteral("--listen-port"), QStringLiteral("0"),
                           QStringLiteral("--folder"), folder + u'/', QStringLiteral("--accept"),
                           QStringLiteral("--answers"), QStringLiteral("yes")},
        {QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral("ulimit -f %1 && exec \"$@\"").arg(kLimitBlocks), QStringLiteral("sh")}))
        << receiver.transcript().toStdString();
    HarnessProcess sender(QStringLiteral("sender"));
    ASSERT_TRUE(sender.start(
        lane + QStringList{QStringLiteral("--listen-port"), QStringLiteral("0"),
                           QStringLiteral("--connect-port"), QString::number(receiver.port()),
                           QStringLiteral("--folder"), root.path() + u'/', QStringLiteral("--send"),
                           source}))
        << sender.transcript().toStdString();

    EXPECT_GE(receiver.waitForLine(
                  [](const QString& line) {
                      return line.contains(QStringLiteral("No se puede escribir el archivo"));
                  },
                  60000),
              0)
        << receiver.transcript().toStdString();
    EXPECT_TRUE(receiver.isRunning()) << receiver.transcript().toStdString();
    const qint64 kept = fileSize(folder + QStringLiteral("/big.bin"));
    EXPECT_GT(kept, 0);
    EXPECT_LE(kept, kLimitBlocks * 512);
    EXPECT_TRUE(receiver.stop()) << receiver.transcript().toStdString();
}

TEST(FileSizeLimit, AWritePastItEndsTheTransferWithItsText) {
    endsWithTheWriteFailure({});
}

TEST(FileSizeLimit, OnTheLaneAlso) {
    endsWithTheWriteFailure({QStringLiteral("--lane")});
}

}  // namespace
