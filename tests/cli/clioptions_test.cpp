#include <gtest/gtest.h>

#include "cli/clioptions.h"
#include "cli/terminalprompt.h"

namespace {

using Command = CliOptions::Command;
using Answer = CliOptions::Answer;

CliOptions parse(const QString& line) {
    return parseCliOptions((QStringLiteral("ruvo-cli ") + line).split(u' ', Qt::SkipEmptyParts));
}

TEST(CliOptions, CommandLinesAreReadOrRefused) {
    struct Case {
        const char* line;
        Command command;
        bool refused;
    };
    const Case cases[] = {
        {"send f.bin 10.0.0.1", Command::Send, false},
        {"send f.bin", Command::None, true},
        {"send a b c", Command::Send, false},  // two files and an address
        {"send --text hola 10.0.0.1", Command::Send, false},
        {"send --text hola", Command::None, true},
        {"send --text hola f.bin 10.0.0.1", Command::None, true},
        {"send --text= 10.0.0.1", Command::None, true},
        {"receive", Command::Receive, false},
        {"receive extra", Command::None, true},
        {"list --json", Command::List, false},
        {"list --wait 0.5", Command::List, false},
        {"list --wait 0", Command::None, true},
        {"list --wait", Command::None, true},
        {"list --wait soon", Command::None, true},
        {"", Command::None, true},
        {"fly", Command::None, true},
        {"receive --accept --ask", Command::Receive, true},
        {"receive --continue maybe", Command::Receive, true},
        {"receive --port 0", Command::None, true},
        {"receive --port 65535", Command::None, true},  // the fast lane needs N + 1
        {"receive --port x", Command::None, true},
        {"receive --dir", Command::None, true},
        {"receive --bogus", Command::None, true},
        {"--help", Command::Help, false},
        {"send x --version", Command::Version, false},
        {"send --port=7000 f.bin 10.0.0.1", Command::Send, false},
        {"send --port= f.bin 10.0.0.1", Command::None, true},
        {"send --json=1 f.bin 10.0.0.1", Command::None, true},
        {"send -- -f.bin 10.0.0.1", Command::Send, false},
        {"send -x f.bin 10.0.0.1", Command::None, true},
        {"receive --dir=/x --continue=no", Command::Receive, false},
        {"list --wait=0.5", Command::List, false},
        {"receive --accept-trusted", Command::Receive, false},
        {"receive --accept --accept-trusted", Command::None, true},
        {"id --json", Command::Id, false},
        {"id extra", Command::None, true},
        {"trust AB12 --name portatil", Command::Trust, false},
        {"trust --list --json", Command::Trust, false},
        {"trust", Command::None, true},
        {"trust --name", Command::None, true},
        {"untrust AB12", Command::Untrust, false},
        {"untrust", Command::None, true},
        {"untrust a b", Command::None, true},
        {"receive --no-localsend --localsend-port 8000", Command::Receive, false},
        {"receive --localsend-port 0", Command::None, true},
        {"receive --localsend-port 65536", Command::None, true},
        {"receive --localsend-pin", Command::None, true},
        {"send a b localsend://telefono", Command::Send, false},
        {"send localsend://telefono", Command::None, true},
        {"send a b LocalSend://10.0.0.5:53318", Command::Send, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const CliOptions options = parse(QString::fromUtf8(c.line));
        EXPECT_EQ(options.error.isEmpty(), !c.refused) << options.error.toStdString();
        if (!c.refused) {
            EXPECT_EQ(options.command, c.command);
        }
    }
}

TEST(CliOptions, ValuesAndDefaults) {
    CliOptions o = parse(QStringLiteral("send /tmp/a b.example --port 7000 --json --classic"));
    EXPECT_EQ(o.file, QStringLiteral("/tmp/a"));
    EXPECT_EQ(o.address, QStringLiteral("b.example"));
    EXPECT_EQ(o.port, 7000);
    EXPECT_TRUE(o.json);
    EXPECT_TRUE(o.classic);

    o = parse(QStringLiteral("receive"));
    EXPECT_EQ(o.port, 9950);
    EXPECT_FALSE(o.acceptAll);
    EXPECT_EQ(o.continueExisting, Answer::Ask);  // asking by default, also about partials
    EXPECT_TRUE(o.announce);

    o = parse(QStringLiteral("receive --accept --once --dir /x --no-announce"));
    EXPECT_TRUE(o.acceptAll);
    EXPECT_EQ(o.continueExisting, Answer::Yes);  // unattended, partial files are continued
    EXPECT_TRUE(o.once);
    EXPECT_EQ(o.folder, QStringLiteral("/x"));
    EXPECT_FALSE(o.announce);

    EXPECT_EQ(parse(QStringLiteral("list")).waitMs, 3000);
    EXPECT_EQ(parse(QStringLiteral("list --wait 0.5")).waitMs, 500);
    o = parse(QStringLiteral("receive --accept --continue no"));
    EXPECT_EQ(o.continueExisting, Answer::No);
    EXPECT_TRUE(cliUsage().contains(QStringLiteral("Codigos de salida")));

    o = parse(QStringLiteral("send --port=7000 -- --raro.bin h.local:7100"));
    EXPECT_EQ(o.port, 7000);
    EXPECT_EQ(o.file, QStringLiteral("--raro.bin"));
    EXPECT_EQ(o.address, QStringLiteral("h.local:7100"));
    o = parse(QStringLiteral("receive --dir=/x --continue=no --accept"));
    EXPECT_EQ(o.folder, QStringLiteral("/x"));
    EXPECT_EQ(o.continueExisting, Answer::No);

    o = parse(QStringLiteral("receive"));
    EXPECT_TRUE(o.localSend);
    EXPECT_EQ(o.localSendPort, 53317);
    o = parse(QStringLiteral("receive --no-localsend --localsend-port=8000 --localsend-pin 42"));
    EXPECT_FALSE(o.localSend);
    EXPECT_EQ(o.localSendPort, 8000);
    EXPECT_EQ(o.localSendPin, QStringLiteral("42"));
    // To a LocalSend device several files and folders go at once.
    o = parse(QStringLiteral("send --localsend-pin 42 -- a.jpg -b Fotos localsend://10.0.0.5"));
    EXPECT_EQ(o.paths, (QStringList{QStringLiteral("a.jpg"), QStringLiteral("-b"),
                                    QStringLiteral("Fotos")}));
    EXPECT_EQ(o.address, QStringLiteral("localsend://10.0.0.5"));
    EXPECT_TRUE(o.toLocalSend());
    o = parse(QStringLiteral("send a.jpg LocalSend://10.0.0.5"));
    EXPECT_EQ(o.paths, QStringList{QStringLiteral("a.jpg")});
    EXPECT_TRUE(o.toLocalSend());
    o = parse(QStringLiteral("send a.jpg 10.0.0.5"));
    EXPECT_EQ(o.paths, QStringList{QStringLiteral("a.jpg")});
    EXPECT_FALSE(o.toLocalSend());
    // A text goes to a Ruvo copy only.
    o = parse(QStringLiteral("send --text hola localsend://10.0.0.5"));
    EXPECT_EQ(o.command, Command::None);
    EXPECT_TRUE(o.error.contains(QStringLiteral("localsend://")));
}

// A mistake is named in one line; each subcommand has its own help.
TEST(CliOptions, MistakesAreNamedAndHelpIsPerSubcommand) {
    EXPECT_EQ(parse(QStringLiteral("receive --bogus")).error,
              QStringLiteral("Opcion desconocida: --bogus"));
    EXPECT_EQ(parse(QStringLiteral("send f.bin")).error, QStringLiteral("Falta la direccion"));
    const CliOptions many = parse(QStringLiteral("send a.bin fotos b.bin h:7100"));
    EXPECT_EQ(many.paths, (QStringList{QStringLiteral("a.bin"), QStringLiteral("fotos"),
                                       QStringLiteral("b.bin")}));
    EXPECT_EQ(many.address, QStringLiteral("h:7100"));
    EXPECT_EQ(parse(QStringLiteral("send --text hola h")).text, QStringLiteral("hola"));
    EXPECT_EQ(parse(QStringLiteral("fly")).error, QStringLiteral("Orden no valida: fly"));
    EXPECT_EQ(parse(QStringLiteral("list --wait")).error,
              QStringLiteral("Falta el valor de --wait"));
    for (const auto& [line, command] :
         {std::pair{"send --help", Command::Send}, std::pair{"receive -h", Command::Receive},
          std::pair{"list --help", Command::List}, std::pair{"--help", Command::None}}) {
        SCOPED_TRACE(line);
        const CliOptions o = parse(QString::fromUtf8(line));
        EXPECT_EQ(o.command, Command::Help);
        EXPECT_EQ(o.helpFor, command);
    }
    const QString send = cliUsage(Command::Send);
    EXPECT_TRUE(send.contains(QStringLiteral("ruvo-cli send")));
    EXPECT_FALSE(send.contains(QStringLiteral("ruvo-cli receive")));
    EXPECT_FALSE(cliUsage(Command::List).contains(QStringLiteral("--accept")));
    EXPECT_TRUE(cliUsage(Command::Receive).contains(QStringLiteral("--accept")));
    EXPECT_TRUE(cliUsage().contains(QStringLiteral("64")));
}

TEST(TerminalPrompt, YesInSpanishOrEnglishAnyCaseElseNo) {
    for (const char* yes : {"sí", "SÍ", "Sí", "si", "SI", "s", "S", "yes", "YES", "y", " si \r"}) {
        EXPECT_TRUE(TerminalPrompt::isYes(QByteArray(yes))) << yes;
    }
    for (const char* no : {"", "n", "no", "N", "clear", "sii", "ye", "yes please", "oui"}) {
        EXPECT_FALSE(TerminalPrompt::isYes(QByteArray(no))) << no;
    }
}

}  // namespace
