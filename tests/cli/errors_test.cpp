// What ruvo-cli says and how it ends when something is wrong before any transfer: the
// command line, the address, the file, the receive folder, the ports.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpServer>

#include <signal.h>

#include "cli/cliprocess.h"
#include "cli/exitcode.h"
#include "endtoend/copies.h"

namespace {

int count(const QByteArray& text, const QByteArray& part) {
    return static_cast<int>(text.count(part));
}

// Addresses that are no address end the send at once with one outcome, with and without
// the lane; none of them may reach a computer (the partial ones would be completed into
// 127.0.0.1 by the system's reader, where a receiver listens).
TEST(CliErrors, AWrongAddressEndsAtOnceWithOneOutcome) {
    Folders folders;
    writeFile(folders.sourceFile(QStringLiteral("f.bin")), "abc");
    const quint16 port = freePort();
    CliProcess receiver({QStringLiteral("receive"), QStringLiteral("--no-localsend"),
                         QStringLiteral("--dir"), folders.target.path(), QStringLiteral("--accept"),
                         QStringLiteral("--port"), arg(port)});
    ASSERT_TRUE(receiver.waitForOutput("Esperando ofertas"));
    for (const char* address :
         {"999.1.1.1", "256.0.0.1", "1.2.3.4.5", "", "127.1", "127.0.1", "2130706433"}) {
        for (const bool classic : {false, true}) {
            SCOPED_TRACE(std::string(address) + (classic ? " --classic" : ""));
            QStringList args{QStringLiteral("send"),
                             QStringLiteral("--json"),
                             QStringLiteral("--port"),
                             arg(port),
                             folders.sourceFile(QStringLiteral("f.bin")),
                             QString::fromUtf8(address)};
            if (classic) {
                args.append(QStringLiteral("--classic"));
            }
            CliProcess sender(args);
            if (!sender.waitForEnd(5000)) {
                ADD_FAILURE() << "did not end by itself";
                sender.signal(SIGTERM);  // a signal must end it all the same
            }
            const int code = sender.waitForExit(5000);
            EXPECT_EQ(code, kExitError) << sender.output().toStdString();
            const QByteArray out = sender.output();
            EXPECT_EQ(count(out, "\"event\":\"outcome\""), 1) << out.toStdString();
            EXPECT_TRUE(out.contains("\"text\":\"Direccion Erronea.\"")) << out.toStdString();
            EXPECT_TRUE(out.contains("\"kind\":\"bad-address\"")) << out.toStdString();
        }
    }
    EXPECT_FALSE(receiver.output().contains("Oferta de")) << receiver.output().toStdString();
}

// Mistakes in the command line: one line naming it and the help, and exit code 64.
TEST(CliErrors, UsageMistakesTakeOneLineAndExit64) {
    const QStringList lines[] = {
        {},
        {QStringLiteral("fly")},
        {QStringLiteral("send"), QStringLiteral("f.bin")},
        {QStringLiteral("receive"), QStringLiteral("--bogus")},
        {QStringLiteral("receive"), QStringLiteral("--port=x")},
        // No terminal to ask on, and no --accept: every offer would be declined unseen.
        {QStringLiteral("receive"), QStringLiteral("--port"), arg(freePort())},
    };
    for (const QStringList& line : lines) {
        SCOPED_TRACE(line.join(u' ').toStdString());
        CliProcess cli(line);
        EXPECT_EQ(cli.waitForExit(10000), kExitUsage);
        const QByteArray out = cli.output();
        EXPECT_EQ(count(out, "\n"), 1) << out.toStdString();
        EXPECT_TRUE(out.contains("ruvo-cli --help")) << out.toStdString();
    }
    CliProcess help({QStringLiteral("send"), QStringLiteral("--help")});
    EXPECT_EQ(help.waitForExit(10000), kExitDone);
    EXPECT_TRUE(help.output().contains("ruvo-cli send"));
    EXPECT_FALSE(help.output().contains("ruvo-cli receive"));
}

// A file that cannot be sent is named with the reason, at once (no retries for a file
// that is not there); a receive folder that cannot take files is reported at start.
TEST(CliErrors, FileAndFolderProblemsAreNamedAtOnce) {
    Folders folders;
    const QString present = folders.sourceFile(QStringLiteral("present.bin"));
    writeFile(present, "abc");
    const QString missing = folders.sourceFile(QStringLiteral("missing.bin"));
    struct Case {
        QStringList args;
        QByteArray says;
    };
    const Case cases[] = {
        {{QStringLiteral("send"), missing, QStringLiteral("127.0.0.1")},
         "No se puede abrir el archivo: " + missing.toUtf8() + ": no existe"},
        {{QStringLiteral("send"), QStringLiteral("--text"), QStringLiteral("a\x1b[2Jb"),
          QStringLiteral("127.0.0.1")},
         "No se puede enviar el texto"},
        {{QStringLiteral("send"), QStringLiteral("127.0.0.1"), present}, "al reves"},
        {{QStringLiteral("receive"), QStringLiteral("--accept"), QStringLiteral("--dir"),
          folders.sourceFile(QStringLiteral("nowhere"))},
         "no existe"},
        {{QStringLiteral("receive"), QStringLiteral("--accept"), QStringLiteral("--dir"), present},
         "no es una carpeta"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        QElapsedTimer clock;
        clock.start();
        CliProcess cli(c.args + QStringList{QStringLiteral("--port"), arg(freePort())});
        EXPECT_EQ(cli.waitForExit(10000), kExitError);
        EXPECT_LT(clock.elapsed(), 1200);
        EXPECT_TRUE(cli.output().contains(c.says)) << cli.output().toStdString();
    }
    CliProcess json(
        {QStringLiteral("send"), QStringLiteral("--json"), missing, QStringLiteral("127.0.0.1")});
    EXPECT_EQ(json.waitForExit(10000), kExitError);
    EXPECT_TRUE(json.output().contains("\"kind\":\"cannot-open\"")) << json.output().toStdString();
}

// A taken port is named in one line; a taken lane port is said, and the classic port
// serves alone.
TEST(CliErrors, TakenPortsAreNamed) {
    Folders folders;
    const quint16 port = freePort();
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::AnyIPv4, port));
    CliProcess refused({QStringLiteral("receive"), QStringLiteral("--no-localsend"),
                        QStringLiteral("--accept"), QStringLiteral("--dir"), folders.target.path(),
                        QStringLiteral("--port"), arg(port)});
    EXPECT_EQ(refused.waitForExit(10000), kExitError);
    EXPECT_EQ(refused.output(), "El puerto " + QByteArray::number(port) + " esta en uso.\n");

    const quint16 other = freePort();
    QTcpServer laneTaken;
    ASSERT_TRUE(laneTaken.listen(QHostAddress::AnyIPv4, static_cast<quint16>(other + 1)));
    CliProcess classicOnly({QStringLiteral("receive"), QStringLiteral("--no-localsend"),
                            QStringLiteral("--accept"), QStringLiteral("--dir"),
                            folders.target.path(), QStringLiteral("--port"), arg(other)});
    ASSERT_TRUE(classicOnly.waitForOutput("Esperando ofertas"));
    EXPECT_TRUE(classicOnly.output().contains("Sin via rapida: el puerto " +
                                              QByteArray::number(other + 1) + " esta en uso"))
        << classicOnly.output().toStdString();
    EXPECT_TRUE(classicOnly.waitForOutput("Direcciones de esta computadora:"));
    EXPECT_TRUE(classicOnly.waitForOutput("Visible en la red local como "));
    classicOnly.signal(SIGTERM);
    EXPECT_EQ(classicOnly.waitForExit(), kExitCancelled);
}

}  // namespace
