#include "shell/launchrequest.h"

#include <QDir>
#include <QUrl>

namespace {

bool isHelp(const QString& arg) {
    return arg == QLatin1String("--help") || arg == QLatin1String("-h");
}

bool isVersion(const QString& arg) {
    return arg == QLatin1String("--version");
}

QString localPath(const QString& arg, const QString& workingDir) {
    const QString path = arg.startsWith(QLatin1String("file:")) ? QUrl(arg).toLocalFile() : arg;
    return path.isEmpty() ? path : QDir::cleanPath(QDir(workingDir).absoluteFilePath(path));
}

}  // namespace

LaunchRequest parseLaunchArguments(const QStringList& arguments, const QString& workingDir) {
    LaunchRequest request;
    const QStringList args = arguments.mid(1);
    for (const QString& arg : args) {
        if (arg == QLatin1String("--")) {
            break;
        }
        if (isHelp(arg)) {
            request.action = LaunchRequest::Action::Help;
            return request;
        }
        if (isVersion(arg)) {
            request.action = LaunchRequest::Action::Version;
            return request;
        }
    }
    QStringList files;
    bool optionsEnded = false;
    for (const QString& arg : args) {
        if (arg.isEmpty()) {
            continue;
        }
        if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg.startsWith(QLatin1Char('-'))) {
            request.action = LaunchRequest::Action::UsageError;
            request.error =
                QStringLiteral("ruvo: opcion desconocida: %1 (ruvo --help muestra la ayuda)")
                    .arg(arg);
            return request;
        } else {
            const QString path = localPath(arg, workingDir);
            if (path.isEmpty()) {
                request.action = LaunchRequest::Action::UsageError;
                request.error = QStringLiteral("ruvo: no es un archivo local: %1").arg(arg);
                return request;
            }
            files.append(path);
        }
    }
    if (!files.isEmpty()) {
        request.file = files.takeFirst();
        request.ignored = files;
    }
    return request;
}

QString launchHelpText() {
    return QStringLiteral(
        "Uso: ruvo [ARCHIVO]\n"
        "Abre la ventana de Ruvo, que envia un archivo a otro equipo y recibe los que le\n"
        "ofrecen. Con ARCHIVO, la ventana se abre con ese archivo elegido en \"Enviar\".\n"
        "\n"
        "  -h, --help     muestra esta ayuda y termina\n"
        "  --version      muestra la version y termina\n"
        "  --             lo que sigue son archivos, aunque empiecen por \"-\"\n"
        "\n"
        "Sin ventana (servidores, scripts): ruvo-cli --help\n");
}
