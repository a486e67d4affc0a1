// A receiving copy whose receive folder is a small file system that runs full in the
// middle of a transfer: "Sin espacio en disco.", the pause, then space is freed, the user
// resumes, and the file ends byte-identical. The file system is a tmpfs mounted in a mount
// namespace of the copy's own (unshare -m), so nothing stays mounted if the test dies; it
// needs root and is skipped otherwise.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

#include "harnessprocess.h"
#include "hostilesupport.h"

namespace {

constexpr qint64 kFileSystemSize = 4 << 20;
constexpr qint64 kFillerSize = 2 << 20;
constexpr qint64 kFileSize = 3 << 20;  // more than the space the filler leaves

// Why the test cannot run here, or empty when it can.
QString whyNotHere() {
    if (::geteuid() != 0) {
        return QStringLiteral("needs root to mount a tmpfs (run the suite as root to include it)");
    }
    for (const char* tool : {"unshare", "mount", "sh", "head"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
            return QStringLiteral("needs %1 on the PATH").arg(QLatin1String(tool));
        }
    }
    QTemporaryDir probe;
    const int code = QProcess::execute(
        QStringLiteral("unshare"),
        {QStringLiteral("-m"), QStringLiteral("--propagation"), QStringLiteral("private"),
         QStringLiteral("mount"), QStringLiteral("-t"), QStringLiteral("tmpfs"),
         QStringLiteral("-o"), QStringLiteral("size=64k"), QStringLiteral("tmpfs"), probe.path()});
    if (code != 0) {
        return QStringLiteral(
            "cannot mount a tmpfs in a new mount namespace here "
            "(unshare -m ... mount -t tmpfs failed)");
    }
    return QString();
}

// `lane`: both copies offer and take the fast lane.
void pausesAndResumesIntact(const QStringList& lane) {
    const QString why = whyNotHere();
    if (!why.isEmpty()) {
        GTEST_SKIP() << why.toStdString();
    }
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString folder = root.filePath(QStringLiteral("recv"));
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("recv")));
    const QString source = root.filePath(QStringLiteral("full.bin"));
    ASSERT_TRUE(writePatternFile(source, kFileSize, 5));

    // The mount and its filler exist only for the copy; "$@" is the harness and its options.
    const QString script = QStringLiteral(
                               "mount -t tmpfs -o size=%1 tmpfs \"$0\" && "
                               "head -c %2 /dev/zero > \"$0/filler\" && exec \"$@\"")
                               .arg(kFileSystemSize)
                               .arg(kFillerSize);
    HarnessProcess receiver(QStringLiteral("receiver"));
    ASSERT_TRUE(receiver.start(
        lane + QStringList{QStringLiteral("--listen-port"), QStringLiteral("0"),
                           QStringLiteral("--folder"), folder + u'/', QStringLiteral("--accept"),
                           QStringLiteral("--answers"), QStringLiteral("yes")},
        {QStringLiteral("unshare"), QStringLiteral("-m"), QStringLiteral("--propagation"),
         QStringLiteral("private"), QStringLiteral("sh"), QStringLiteral("-c"), script, folder}))
        << receiver.transcript().toStdString();
    const QString inside = receiver.pathInside(folder);
    ASSERT_EQ(fileSize(inside + QStringLiteral("/filler")), kFillerSize);

    HarnessProcess sender(QStringLiteral("sender"));
    ASSERT_TRUE(sender.start(
        lane + QStringList{QStringLiteral("--listen-port"), QStringLiteral("0"),
                           QStringLiteral("--connect-port"), QString::number(receiver.port()),
                           QStringLiteral("--folder"), root.path() + u'/', QStringLiteral("--send"),
                           source}))
        << sender.transcript().toStdString();

    // Less space than the offer: the user is asked and goes on ("yes"); then the disk runs
    // full.
    EXPECT_GE(receiver.waitForLine(QStringLiteral("box question El espacio libre es menor que el "
                                                  "de archivo, ¿Continuar?"),
                                   30000),
              0)
        << receiver.transcript().toStdString();
    ASSERT_GE(receiver.waitForLine(QStringLiteral("box message Sin espacio en disco."), 60000), 0)
        << receiver.transcript().toStdString() << sender.transcript().toStdString();

    // The receiver holds the pause; the sender follows it and cannot resume it.
    EXPECT_TRUE(receiver.waitForStatus(
        [](const HarnessProcess::Status& s) {
            return s.at(QStringLiteral("pausarRecepcion")) == QStringLiteral("Reanudar") &&
                   s.at(QStringLiteral("panel0")) == QStringLiteral("Conectado.");
        },
        10000))
        << receiver.transcript().toStdString();
    EXPECT_TRUE(sender.waitForStatus(
        [](const HarnessProcess::Status& s) {
            return s.at(QStringLiteral("pausarEnvioEnabled")) == QStringLiteral("0") &&
                   s.at(QStringLiteral("enviar")) == QStringLiteral("Cancelar");
        },
        10000))
        << sender.transcript().toStdString() << receiver.transcript().toStdString();
    const QString partial = inside + QStringLiteral("/full.bin");
    const qint64 sizeWhenFull = fileSize(partial);
    EXPECT_GT(sizeWhenFull, 0);
    EXPECT_LE(sizeWhenFull, kFileSystemSize - kFillerSize);
    // Paused means paused: nothing more arrives.
    EXPECT_FALSE(waitUntil([&] { return fileSize(partial) != sizeWhenFull; }, 500));

    // Space comes back; the user resumes.
    ASSERT_TRUE(QFile::remove(inside + QStringLiteral("/filler")));
    const int from = static_cast<int>(receiver.lines().size());
    receiver.command(QStringLiteral("click PausarRecepcion"));
    EXPECT_GE(receiver.waitForLine(QStringLiteral("panel1 Recibido!"), 60000, from), 0)
        << receiver.transcript().toStdString() << sender.transcript().toStdString();
    EXPECT_GE(sender.waitForLine(QStringLiteral("panel1 Enviado!"), 30000), 0)
        << sender.transcript().toStdString();
    EXPECT_EQ(fileSize(partial), kFileSize);
    EXPECT_EQ(sha256OfFile(partial), sha256OfFile(source));

    EXPECT_TRUE(sender.stop()) << sender.transcript().toStdString();
    EXPECT_TRUE(receiver.stop()) << receiver.transcript().toStdString();
    // The file system went with the copy; nothing reached the real folder.
    EXPECT_TRUE(QDir(folder).isEmpty());
}

TEST(DiskFull, PausesWithAMessageAndResumesIntactOnceThereIsSpace) {
    pausesAndResumesIntact({});
}

TEST(DiskFull, OnTheLaneAlsoPausesAndResumesIntact) {
    pausesAndResumesIntact({QStringLiteral("--lane")});
}

}  // namespace
