#include "cli/clioptions.h"

namespace {

using Command = CliOptions::Command;

// The options that take a value, as "--opt VALUE" or "--opt=VALUE".
bool takesValue(const QString& name) {
    return name == QLatin1String("--port") || name == QLatin1String("--wait") ||
           name == QLatin1String("--dir") || name == QLatin1String("--continue") ||
           name == QLatin1String("--name") || name == QLatin1String("--localsend-port") ||
           name == QLatin1String("--localsend-pin") || name == QLatin1String("--text");
}

Command commandNamed(const QString& word) {
    if (word == QLatin1String("send")) {
        return Command::Send;
    }
    if (word == QLatin1String("receive")) {
        return Command::Receive;
    }
    if (word == QLatin1String("list")) {
        return Command::List;
    }
    if (word == QLatin1String("id")) {
        return Command::Id;
    }
    if (word == QLatin1String("trust")) {
        return Command::Trust;
    }
    if (word == QLatin1String("untrust")) {
        return Command::Untrust;
    }
    if (word == QLatin1String("pair")) {
        return Command::Pair;
    }
    return Command::None;
}

// Takes one option (its value already split off); false with `options.error` set when it
// is refused.
bool takeOption(const QString& name, const QString& value, CliOptions& options) {
    if (name == QLatin1String("--port")) {
        bool ok = false;
        const uint port = value.toUInt(&ok);
        if (!ok || port == 0 || port > 65534) {
            options.error = QStringLiteral("Puerto no valido: %1").arg(value);
            return false;
        }
        options.port = static_cast<quint16>(port);
    } else if (name == QLatin1String("--localsend-port")) {
        bool ok = false;
        const uint port = value.toUInt(&ok);
        if (!ok || port == 0 || port > 65535) {
            options.error = QStringLiteral("Puerto de LocalSend no valido: %1").arg(value);
            return false;
        }
        options.localSendPort = static_cast<quint16>(port);
    } else if (name == QLatin1String("--localsend-pin")) {
        if (value.isEmpty() || value.size() > 64) {
            options.error = QStringLiteral("PIN de LocalSend no valido");
            return false;
        }
        options.localSendPin = value;
    } else if (name == QLatin1String("--wait")) {
        bool ok = false;
        const double seconds = value.toDouble(&ok);
        if (!ok || seconds <= 0 || seconds > 600) {
            options.error = QStringLiteral("Espera no valida: %1").arg(value);
            return false;
        }
        options.waitMs = static_cast<int>(seconds * 1000);
    } else if (name == QLatin1String("--dir")) {
        if (value.isEmpty()) {
            options.error = QStringLiteral("Falta la carpeta de --dir");
            return false;
        }
        options.folder = value;
    } else if (name == QLatin1String("--continue")) {
        if (value == QLatin1String("yes")) {
            options.continueExisting = CliOptions::Answer::Yes;
        } else if (value == QLatin1String("no")) {
            options.continueExisting = CliOptions::Answer::No;
        } else if (value == QLatin1String("ask")) {
            options.continueExisting = CliOptions::Answer::Ask;
        } else {
            options.error = QStringLiteral("--continue espera yes, no o ask");
            return false;
        }
        options.continueGiven = true;
    } else if (name == QLatin1String("--accept")) {
        options.acceptAll = true;
    } else if (name == QLatin1String("--accept-trusted")) {
        options.acceptTrusted = true;
    } else if (name == QLatin1String("--name")) {
        options.name = value;
    } else if (name == QLatin1String("--text")) {
        if (value.isEmpty()) {
            options.error = QStringLiteral("Falta el texto de --text");
            return false;
        }
        options.text = value;
        options.textGiven = true;
    } else if (name == QLatin1String("--list")) {
        options.listTrusted = true;
    } else if (name == QLatin1String("--ask")) {
        options.askGiven = true;
    } else if (name == QLatin1String("--once")) {
        options.once = true;
    } else if (name == QLatin1String("--json")) {
        options.json = true;
    } else if (name == QLatin1String("--classic")) {
        options.classic = true;
    } else if (name == QLatin1String("--accept-new-identity")) {
        options.acceptNewIdentity = true;
    } else if (name == QLatin1String("--no-announce")) {
        options.announce = false;
    } else if (name == QLatin1String("--no-localsend")) {
        options.localSend = false;
    } else {
        options.error = QStringLiteral("Opcion desconocida: %1").arg(name);
        return false;
    }
    return true;
}

}  // namespace

CliOptions parseCliOptions(const QStringList& arguments) {
    CliOptions options;
    QStringList positional;
    bool help = false;
    bool optionsEnded = false;                  // after "--" everything is a file or an address
    const QStringList args = arguments.mid(1);  // the program's own name first
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (optionsEnded || !arg.startsWith(u'-') || arg.size() == 1) {
            positional.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            help = true;
            continue;
        }
        if (arg == QLatin1String("--version")) {
            options.command = Command::Version;
            return options;
        }
        const qsizetype equals = arg.indexOf(u'=');
        const QString name = equals < 0 ? arg : arg.left(equals);
        QString value;
        if (takesValue(name)) {
            if (equals >= 0) {
                value = arg.mid(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args.at(++i);
            } else {
                options.error = QStringLiteral("Falta el valor de %1").arg(name);
                return options;
            }
        } else if (equals >= 0) {
            options.error = QStringLiteral("%1 no lleva valor").arg(name);
            return options;
        }
        if (!takeOption(name, value, options)) {
            return options;
        }
    }
    const QString word = positional.value(0);
    const Command command = commandNamed(word);
    if (help) {
        options.command = Command::Help;
        options.helpFor = command;
        return options;
    }
    if (options.acceptAll && options.askGiven) {
        options.error = QStringLiteral("--accept y --ask no van juntos");
        return options;
    }
    if (options.acceptAll && options.acceptTrusted) {
        options.error = QStringLiteral("--accept y --accept-trusted no van juntos");
        return options;
    }
    if (!options.continueGiven) {
        // Asking about each offer and then accepting its partial file silently would be odd.
        options.continueExisting =
            options.acceptAll ? CliOptions::Answer::Yes : CliOptions::Answer::Ask;
    }
    if (options.acceptNewIdentity && options.classic) {
        // The classic port has no identity to accept.
        options.error = QStringLiteral("--accept-new-identity y --classic no van juntos");
        return options;
    }
    const bool takesFingerprint =
        command == Command::Untrust || (command == Command::Trust && !options.listTrusted);
    const qsizetype wanted = command == Command::Send                       ? 3
                             : takesFingerprint || command == Command::Pair ? 2
                                                                            : 1;
    if (command == Command::Send && options.textGiven) {
        // A text instead of files: only the address follows.
        if (positional.size() < 2) {
            options.error = QStringLiteral("Falta la direccion");
        } else if (positional.size() > 2) {
            options.error = QStringLiteral("Con --text no se envian archivos: %1")
                                .arg(positional.mid(1, positional.size() - 2).join(u' '));
        } else {
            options.address = positional.at(1);
            if (options.toLocalSend()) {
                options.error =
                    QStringLiteral("--text solo va a una copia de Ruvo, no a localsend://");
            } else {
                options.command = command;
            }
        }
        return options;
    }
    if (command == Command::Send && positional.size() > wanted) {
        // Several files and folders, the address last (a Ruvo copy or a LocalSend device).
        options.command = command;
        options.paths = positional.mid(1, positional.size() - 2);
        options.file = options.paths.front();
        options.address = positional.last();
        return options;
    }
    if (word.isEmpty()) {
        options.error =
            QStringLiteral("Falta la orden: send, receive, list, pair, id, trust o untrust");
    } else if (command == Command::None) {
        options.error = QStringLiteral("Orden no valida: %1").arg(word);
    } else if (positional.size() < wanted && command == Command::Pair) {
        options.error = QStringLiteral("Falta la direccion");
    } else if (positional.size() < wanted && wanted == 2) {
        options.error = QStringLiteral("Falta la huella del equipo");
    } else if (positional.size() < wanted) {
        options.error = positional.size() == 1 ? QStringLiteral("Faltan el archivo y la direccion")
                                               : QStringLiteral("Falta la direccion");
    } else if (positional.size() > wanted) {
        options.error = QStringLiteral("Sobra: %1").arg(positional.mid(wanted).join(u' '));
    } else {
        options.command = command;
        if (command == Command::Send) {
            options.file = positional.at(1);
            options.paths = QStringList{options.file};
            options.address = positional.at(2);
        } else if (command == Command::Pair) {
            options.address = positional.at(1);
        } else if (wanted == 2) {
            options.fingerprint = positional.at(1);
        }
    }
    return options;
}

bool CliOptions::toLocalSend() const {
    return address.startsWith(QLatin1String("localsend://"), Qt::CaseInsensitive);
}

namespace {

const char* const kSendHelp =
    "send      Ofrece ARCHIVO a DIRECCION y termina con el resultado. DIRECCION es una\n"
    "          IPv4 de cuatro numeros (192.168.1.20) o un nombre, con :PUERTO si el\n"
    "          receptor no usa el de --port (portatil.local:7000). Se recuerda la\n"
    "          identidad que responde en cada direccion: si cambia, no se envia nada.\n"
    "            --accept-new-identity  envia igual y recuerda la identidad nueva\n"
    "          A un equipo conocido que no responde por la via rapida no se le envia sin\n"
    "          cifrar salvo con --classic.\n"
    "          Varios archivos y carpetas van en una oferta, en su orden (los enlaces\n"
    "          dentro de una carpeta se omiten); a un receptor clasico, un archivo por\n"
    "          oferta. Sale con 0 solo si llego todo.\n"
    "            --text TEXTO  ofrece un texto corto en lugar de archivos (no a\n"
    "                          localsend://)\n"
    "          A localsend://EQUIPO[:PUERTO] (un telefono con LocalSend; puerto 53317 por\n"
    "          omision) van uno o mas archivos y carpetas; --localsend-pin da su PIN.\n";
const char* const kPairHelp =
    "pair      Empareja con el equipo de DIRECCION (que escucha con receive o con la\n"
    "          ventana): los dos muestran un codigo de 6 cifras; si es el mismo y se\n"
    "          confirma en los dos, cada uno confia en el otro.\n";
const char* const kReceiveHelp =
    "receive   Escucha ofertas y las recibe en CARPETA (por omision la de la ventana,\n"
    "          si no el escritorio, si no la carpeta personal).\n"
    "            --accept    acepta cada oferta sin preguntar\n"
    "            --ask       pregunta en la terminal (por omision; sin terminal, las\n"
    "                        respuestas se leen de la entrada, una por linea)\n"
    "            --continue  con un archivo parcial: continuarlo (yes), rechazar la\n"
    "                        oferta (no) o preguntar (ask; por omision con --ask)\n"
    "            --once      termina tras una transferencia\n"
    "            --no-announce  no se anuncia en la red local\n"
    "            --localsend-port N  puerto para LocalSend (por omision 53317)\n"
    "            --localsend-pin PIN  los envios de LocalSend deben dar este PIN\n"
    "            --no-localsend  no recibe de LocalSend (telefonos y otros equipos)\n"
    "          Con una terminal responde tambien a pair: muestra el codigo y pregunta.\n";
const char* const kListHelp =
    "list      Busca durante --wait segundos (por omision 3) las copias de Ruvo que se\n"
    "          anuncian en la red local y las muestra: nombre, direccion, puerto, via,\n"
    "          huella anunciada (forma corta) y si es de confianza (solo una pista:\n"
    "          quien responde lo dice el TLS de la via rapida).\n";
const char* const kIdentityHelp =
    "id        Muestra la huella de esta copia (la que otros equipos ven y confian).\n"
    "trust     Confia en el equipo de HUELLA (--name NOMBRE para reconocerlo);\n"
    "          --list muestra los equipos de confianza.\n"
    "untrust   Deja de confiar en el equipo de HUELLA.\n";
const char* const kCommonHelp =
    "--port N  Puerto del protocolo (por omision 9950); la via rapida usa N+1.\n"
    "--classic Solo el protocolo clasico, sin la via rapida.\n"
    "--json    Un objeto JSON por evento (start, offer, progress, info, outcome), uno\n"
    "          por linea.\n"
    "Las opciones valen como --opcion VALOR o --opcion=VALOR; tras -- todo es archivo o\n"
    "direccion.\n";
const char* const kExitHelp =
    "Codigos de salida:\n"
    "  0   hecho (Enviado! / Recibido!)\n"
    "  1   error (direccion, archivo, carpeta, conexion, puerto ocupado)\n"
    "  2   destino ocupado, oferta o emparejamiento rechazados\n"
    "  3   cancelado (Ctrl+C o SIGTERM; el archivo parcial se conserva)\n"
    "  64  uso incorrecto (la linea de ordenes)\n";

}  // namespace

QString cliUsage(CliOptions::Command command) {
    const QString send = QStringLiteral(
        "  ruvo-cli send [--port N] [--classic | --accept-new-identity] [--json]\n"
        "                [--] ARCHIVO... DIRECCION[:PUERTO]\n"
        "  ruvo-cli send [--port N] [--accept-new-identity] [--json] --text TEXTO\n"
        "                DIRECCION[:PUERTO]\n"
        "  ruvo-cli send [--localsend-pin PIN] [--json] [--] RUTA... "
        "localsend://EQUIPO[:PUERTO]\n");
    const QString receive = QStringLiteral(
        "  ruvo-cli receive [--dir CARPETA] [--accept | --accept-trusted | --ask]\n"
        "                   [--continue yes|no|ask]\n"
        "                   [--once] [--no-announce] [--port N] [--classic] [--json]\n"
        "                   [--localsend-port N] [--localsend-pin PIN] [--no-localsend]\n");
    const QString list = QStringLiteral("  ruvo-cli list [--wait SEGUNDOS] [--json]\n");
    const QString pair = QStringLiteral("  ruvo-cli pair [--port N] [--json] DIRECCION[:PUERTO]\n");
    const QString identity = QStringLiteral(
        "  ruvo-cli id [--json]\n"
        "  ruvo-cli trust HUELLA [--name NOMBRE]\n"
        "  ruvo-cli trust --list [--json]\n"
        "  ruvo-cli untrust HUELLA\n");
    switch (command) {
        case Command::Send:
            return QStringLiteral("Uso:\n") + send + u'\n' + QString::fromUtf8(kSendHelp) +
                   QString::fromUtf8(kCommonHelp) + u'\n' + QString::fromUtf8(kExitHelp);
        case Command::Receive:
            return QStringLiteral("Uso:\n") + receive + u'\n' + QString::fromUtf8(kReceiveHelp) +
                   QString::fromUtf8(kCommonHelp) + u'\n' + QString::fromUtf8(kExitHelp);
        case Command::Pair:
            return QStringLiteral("Uso:\n") + pair + u'\n' + QString::fromUtf8(kPairHelp) +
                   QString::fromUtf8(kCommonHelp) + u'\n' + QString::fromUtf8(kExitHelp);
        case Command::List:
            return QStringLiteral("Uso:\n") + list + u'\n' + QString::fromUtf8(kListHelp) +
                   QStringLiteral("--json    Un arreglo JSON con las copias encontradas.\n") +
                   u'\n' + QString::fromUtf8(kExitHelp);
        default:
            break;
    }
    return QStringLiteral("Uso:\n") + send + receive + list + pair + identity +
           QStringLiteral("  ruvo-cli [ORDEN] --help | --version\n\n") +
           QString::fromUtf8(kSendHelp) + QString::fromUtf8(kReceiveHelp) +
           QString::fromUtf8(kListHelp) + QString::fromUtf8(kPairHelp) +
           QString::fromUtf8(kIdentityHelp) + QString::fromUtf8(kCommonHelp) + u'\n' +
           QString::fromUtf8(kExitHelp);
}
