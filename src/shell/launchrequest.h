#pragma once

#include <QString>
#include <QStringList>

// What the command line of `ruvo` asks for: open the window (with a file chosen to send),
// print the help or the version, or nothing because of a usage mistake. A file manager
// passes files by path or as file: URLs.
struct LaunchRequest {
    enum class Action { Open, Help, Version, UsageError };

    // Exit status of a usage mistake (as sysexits' EX_USAGE).
    static constexpr int kUsageExitCode = 64;

    Action action = Action::Open;
    QString file;         // Open: the file to choose, absolute; empty for none
    QStringList ignored;  // Open: further files (one file is sent at a time)
    QString error;        // UsageError: one line that names the mistake
};

// `arguments` holds the program's name first, as QCoreApplication::arguments() does.
// --help and --version win over anything else before "--"; "--" makes the rest files.
// Relative paths are taken from `workingDir`.
LaunchRequest parseLaunchArguments(const QStringList& arguments, const QString& workingDir);

// The text `ruvo --help` prints.
QString launchHelpText();
