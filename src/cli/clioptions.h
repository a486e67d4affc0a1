#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// What the command line asked for. Parsing is a pure function of the arguments, so that a
// table of command lines tests it.
struct CliOptions {
    enum class Command { None, Send, Receive, List, Help, Version };
    enum class Answer { Yes, No, Ask };

    Command command = Command::None;
    QString file;            // send: the file to offer
    QString address;         // send: where to
    QString folder;          // receive: empty for the window's setting, else the desktop or home
    bool acceptAll = false;  // receive: accept every offer without asking
    Answer continueExisting = Answer::Yes;
    bool continueGiven = false;
    bool once = false;
    bool json = false;
    bool classic = false;
    bool announce = true;
    quint16 port = 9950;
    int waitMs = 3000;  // list: how long to look
    QString error;      // why the command line was refused; empty when it was not
};

CliOptions parseCliOptions(const QStringList& arguments);

// The text of --help, exit codes included.
QString cliUsage();
