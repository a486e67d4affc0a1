#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// What the command line asked for. Parsing is a pure function of the arguments, so that a
// table of command lines tests it.
struct CliOptions {
    enum class Command { None, Send, Receive, List, Id, Trust, Untrust, Pair, Help, Version };
    enum class Answer { Yes, No, Ask };

    Command command = Command::None;
    Command helpFor = Command::None;  // Help: the subcommand whose help was asked for
    QString file;                     // send: the first file or folder to offer
    QStringList paths;                // send: every file and folder to offer, in order
    QString text;                     // send --text: a short text instead of files
    bool textGiven = false;
    QString address;         // send, pair: where to (HOST, HOST:PORT or localsend://HOST)
    QString folder;          // receive: empty for the window's setting, else the desktop or home
    bool acceptAll = false;  // receive: accept every offer without asking
    bool acceptTrusted = false;  // receive: accept trusted senders, decline or ask the others
    bool askGiven = false;       // receive: --ask was given (answers may come from a pipe)
    Answer continueExisting = Answer::Yes;
    bool continueGiven = false;
    bool once = false;
    bool json = false;
    bool classic = false;
    bool acceptNewIdentity = false;  // send: another identity at a remembered address is taken
    bool announce = true;
    bool localSend = true;          // receive: serve LocalSend senders too
    quint16 localSendPort = 53317;  // receive: LocalSend's port
    QString localSendPin;           // receive: the PIN LocalSend senders must give
    quint16 port = 9950;
    int waitMs = 3000;         // list: how long to look
    QString fingerprint;       // trust, untrust: the computer's
    QString name;              // trust: --name
    bool listTrusted = false;  // trust --list
    QString error;             // the mistake in the command line, in one line; empty when none

    // send: the address is a LocalSend device's (localsend://HOST[:PORT]).
    bool toLocalSend() const;
};

CliOptions parseCliOptions(const QStringList& arguments);

// The text of --help, exit codes included; for one subcommand, its own part.
QString cliUsage(CliOptions::Command command = CliOptions::Command::None);
