#pragma once

#include <QString>
#include <QtGlobal>

class ToneDevice;
class UserDialogs;

// What a main window is made with. The program itself uses the defaults; tests and the
// test harness run windows on free ports with their own configuration folders and answers.
struct FormOptions {
    quint16 listenPort = 9950;   // the port Servidor listens on (0: any free port)
    quint16 connectPort = 9950;  // the port Cliente connects to
    // Holds Ruvo/Ruvo.ini (settings) and Ruvo/ruvo.INI (placement); empty for the user's
    // configuration folder (~/.config).
    QString configDir;
    UserDialogs* dialogs = nullptr;  // null: the real message boxes and file dialogs
    ToneDevice* tones = nullptr;     // null: the tone device found on this machine
    // The D-Bus bus for desktop notifications; empty for the session bus.
    QString notificationBus;
    // Announces this copy on the local network and lists the others (the program does; tests
    // opt in, so that their windows are not seen on the network).
    bool discovery = false;
    // Offers and takes the fast lane (the port after each port above) when "Via rapida" is
    // on. The program does; tests opt in, so that the classic protocol is what they test
    // unless they ask for the lane.
    bool lane = false;
};
