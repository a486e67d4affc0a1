#include "cli/clioptions.h"

namespace {

bool takeValue(const QStringList& args, qsizetype& i, QString& value) {
    if (i + 1 >= args.size()) {
        return false;
    }
    value = args.at(++i);
    return true;
}

}  // namespace

CliOptions parseCliOptions(const QStringList& arguments) {
    CliOptions options;
    QStringList positional;
    bool askGiven = false;
    const QStringList args = arguments.mid(1);  // the program's own name first
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        QString value;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.command = CliOptions::Command::Help;
            return options;
        }
        if (arg == QLatin1String("--version")) {
            options.command = CliOptions::Command::Version;
            return options;
        }
        if (arg == QLatin1String("--port")) {
            bool ok = false;
            const uint port = takeValue(args, i, value) ? value.toUInt(&ok) : 0;
            if (!ok || port == 0 || port > 65534) {
                options.error = QStringLiteral("Puerto no valido: %1").arg(value);
                return options;
            }
            options.port = static_cast<quint16>(port);
        } else if (arg == QLatin1String("--wait")) {
            bool ok = false;
            const double seconds = takeValue(args, i, value) ? value.toDouble(&ok) : 0;
            if (!ok || seconds <= 0 || seconds > 600) {
                options.error = QStringLiteral("Espera no valida: %1").arg(value);
                return options;
            }
            options.waitMs = static_cast<int>(seconds * 1000);
        } else if (arg == QLatin1String("--dir")) {
            if (!takeValue(args, i, options.folder) || options.folder.isEmpty()) {
                options.error = QStringLiteral("Falta la carpeta de --dir");
                return options;
            }
        } else if (arg == QLatin1String("--continue")) {
            takeValue(args, i, value);
            if (value == QLatin1String("yes")) {
                options.continueExisting = CliOptions::Answer::Yes;
            } else if (value == QLatin1String("no")) {
                options.continueExisting = CliOptions::Answer::No;
            } else if (value == QLatin1String("ask")) {
                options.continueExisting = CliOptions::Answer::Ask;
            } else {
                options.error = QStringLiteral("--continue espera yes, no o ask");
                return options;
            }
            options.continueGiven = true;
        } else if (arg == QLatin1String("--accept")) {
            options.acceptAll = true;
        } else if (arg == QLatin1String("--ask")) {
            askGiven = true;
        } else if (arg == QLatin1String("--once")) {
            options.once = true;
        } else if (arg == QLatin1String("--json")) {
            options.json = true;
        } else if (arg == QLatin1String("--classic")) {
            options.classic = true;
        } else if (arg == QLatin1String("--no-announce")) {
            options.announce = false;
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            options.error = QStringLiteral("Opcion desconocida: %1").arg(arg);
            return options;
        } else {
            positional.append(arg);
        }
    }
    if (options.acceptAll && askGiven) {
        options.error = QStringLiteral("--accept y --ask no van juntos");
        return options;
    }
    if (!options.continueGiven) {
        // Asking about each offer and then accepting its partial file silently would be odd.
        options.continueExisting =
            options.acceptAll ? CliOptions::Answer::Yes : CliOptions::Answer::Ask;
    }
    const QString command = positional.value(0);
    if (command == QLatin1String("send") && positional.size() == 3) {
        options.command = CliOptions::Command::Send;
        options.file = positional.at(1);
        options.address = positional.at(2);
    } else if (command == QLatin1String("receive") && positional.size() == 1) {
        options.command = CliOptions::Command::Receive;
    } else if (command == QLatin1String("list") && positional.size() == 1) {
        options.command = CliOptions::Command::List;
    } else if (command.isEmpty()) {
        options.error = QStringLiteral("Falta la orden: send, receive o list");
    } else {
        options.error = QStringLiteral("Orden no valida: %1").arg(positional.join(u' '));
    }
    return options;
}

QString cliUsage() {
    return QStringLiteral(
        "Uso:\n"
        "  ruvo-cli send ARCHIVO DIRECCION [--port N] [--classic] [--json]\n"
        "  ruvo-cli receive [--dir CARPETA] [--accept | --ask] [--continue yes|no|ask]\n"
        "                   [--once] [--no-announce] [--port N] [--classic] [--json]\n"
        "  ruvo-cli list [--wait SEGUNDOS] [--json]\n"
        "  ruvo-cli --help | --version\n"
        "\n"
        "send      Ofrece ARCHIVO a DIRECCION (IPv4 con puntos o un nombre), sirve los\n"
        "          bloques y termina con el resultado.\n"
        "receive   Escucha ofertas y las recibe en CARPETA (por omision la de la ventana,\n"
        "          si no el escritorio, si no la carpeta personal).\n"
        "            --accept    acepta cada oferta sin preguntar\n"
        "            --ask       pregunta en la terminal (por omision)\n"
        "            --continue  con un archivo parcial: continuarlo (yes), rechazar la\n"
        "                        oferta (no) o preguntar (ask; por omision con --ask)\n"
        "            --once      termina tras una transferencia\n"
        "            --no-announce  no se anuncia en la red local\n"
        "list      Busca durante --wait segundos (por omision 3) las copias de Ruvo que se\n"
        "          anuncian en la red local y las muestra: nombre, direccion, puerto, via.\n"
        "--port N  Puerto del protocolo (por omision 9950); la via rapida usa N+1.\n"
        "--classic Solo el protocolo clasico, sin la via rapida.\n"
        "--json    Un objeto JSON por evento (offer, progress, outcome), uno por linea.\n"
        "\n"
        "Codigos de salida:\n"
        "  0  hecho (Enviado! / Recibido!)\n"
        "  1  error (direccion, archivo, conexion, puerto ocupado)\n"
        "  2  destino ocupado, conexion rechazada u oferta rechazada\n"
        "  3  cancelado (Ctrl+C o SIGTERM; el archivo parcial se conserva)\n");
}
