#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "shell/formoptions.h"
#include "shell/scripteduserdialogs.h"
#include "sound/recordingtonedevice.h"

class TFormruvo;

// Runs the event loop until `done` holds or `timeoutMs` passes; true when it held.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// Bytes that differ from call to call, so that a misplaced block shows.
QByteArray patternBytes(qint64 size, quint32 seed);
QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);

// One running copy of the program: a real window listening on a free port, with its own
// configuration folder, receive folder, scripted answers and a recording tone device.
class Copy {
public:
    // `connectPort` is where this copy's sends go (the receiving copy's port); `lane` lets it
    // offer and take the fast lane.
    explicit Copy(quint16 connectPort = 0, bool lane = false);
    ~Copy();

    TFormruvo& w() const { return *m_window; }
    quint16 port() const;
    QString receiveFolder() const { return m_folder.path() + QLatin1Char('/'); }
    QString panel(int index) const;

    // What a user does on the "Enviar" page: choose the file, type the address, click.
    void send(const QString& path, const QString& address = QStringLiteral("127.0.0.1"));
    // Waits for an offer and clicks "Recibir".
    bool acceptOffer();

    ScriptedUserDialogs dialogs;
    RecordingToneDevice tones;

private:
    QTemporaryDir m_config;
    QTemporaryDir m_folder;
    std::unique_ptr<TFormruvo> m_window;
};

// A peer that speaks raw bytes to a copy, as other programs on the network may.
class RawPeer {
public:
    explicit RawPeer(quint16 port);
    ~RawPeer();

    bool connected() const { return m_fd >= 0; }
    void send(const QByteArray& bytes);
    // Reads what arrives until `count` bytes are there, the peer closes, or time runs out.
    QByteArray receive(qsizetype count, int timeoutMs = 5000);
    // Waits for the copy to close the connection; true when it did (orderly or by reset).
    bool waitClosed(int timeoutMs = 10000);
    void close();

private:
    int m_fd = -1;
    bool m_closed = false;
};
