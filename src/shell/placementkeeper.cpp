#include "shell/placementkeeper.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

#include "shell/inifile.h"
#include "shell/userdialogs.h"

namespace {

// Show states as the placement file numbers them.
constexpr int kShowNormal = 1;
constexpr int kShowMinimized = 2;
constexpr int kShowMaximized = 3;
constexpr int kRestoreToMaximized = 2;  // flag

// The words of a position text: split at commas and blanks, runs of them counting as one.
QStringList positionWords(const QString& text) {
    QStringList words;
    QString word;
    for (QChar c : text) {
        if (c == QLatin1Char(',') || c == QLatin1Char(' ')) {
            if (!word.isEmpty()) {
                words.append(word);
                word.clear();
            }
        } else {
            word.append(c);
        }
    }
    if (!word.isEmpty()) {
        words.append(word);
    }
    return words;
}

int wordOr(const QStringList& words, int index, int fallback) {
    if (index >= words.size()) {
        return fallback;
    }
    bool ok = false;
    const int value = words[index].toInt(&ok, 10);
    return ok ? value : fallback;
}

QString positionText(int a, int b, int c, int d) {
    return QStringLiteral("%1,%2,%3,%4").arg(a).arg(b).arg(c).arg(d);
}

}  // namespace

TPlacementKeeper::TPlacementKeeper(QWidget* owner, const QString& iniFileName, UserDialogs* dialogs)
    : QObject(owner), m_owner(owner), m_iniFileName(iniFileName), m_dialogs(dialogs) {
    owner->installEventFilter(this);
}

QString TPlacementKeeper::IniSection() const {
    return QString::fromLatin1(m_owner->metaObject()->className());
}

bool TPlacementKeeper::eventFilter(QObject* watched, QEvent* event) {
    // A spontaneous show is the window system un-minimizing the window, not a showing.
    if (watched == m_owner && event->type() == QEvent::Show && !event->spontaneous() && Active) {
        RestorePlacement();
    }
    return false;
}

void TPlacementKeeper::OwnerClosed() {
    if (Active && m_owner->windowHandle()) {
        SavePlacement();
    }
}

void TPlacementKeeper::OwnerDestroying() {
    if (Active && !m_saved) {
        m_destroying = true;
        SavePlacement();
        m_destroying = false;
    }
}

int TPlacementKeeper::pixelsPerInch() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? static_cast<int>(std::lround(screen->logicalDotsPerInchY())) : 96;
}

QString TPlacementKeeper::screenSuffix() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->size() : QSize();
    return QStringLiteral("(%1x%2)").arg(size.width()).arg(size.height());
}

QPoint TPlacementKeeper::workAreaOrigin() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().topLeft() : QPoint();
}

QRect TPlacementKeeper::normalFrameRect() const {
    const QRect frame = m_owner->frameGeometry();
    const QRect client = m_owner->geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(),
                           frame.right() - client.right(), frame.bottom() - client.bottom());
    QRect normal = m_owner->normalGeometry().marginsAdded(margins);
    // Until the window is first mapped, a position given with move() is where its frame
    // goes, and Qt reports it as the client area's position.
    if (m_owner->testAttribute(Qt::WA_Moved) && !m_owner->testAttribute(Qt::WA_Mapped)) {
        normal.moveTopLeft(m_owner->geometry().topLeft());
    }
    return normal.translated(-workAreaOrigin());
}

void TPlacementKeeper::RestorePlacement() {
    m_saved = false;
    const IniFile ini(m_iniFileName);
    if (ini.readInteger(IniSection(), QStringLiteral("FormVersion"), 0) >= Version) {
        readPlacement(ini);
    }
    m_restored = true;
    // The maximized position becomes minus the thin border (one pixel), as a window of
    // fixed size would have it.
    m_maxPos = QPoint(-1, -1);
}

void TPlacementKeeper::readPlacement(const IniFile& ini) {
    const QString section = IniSection();
    const QString suffix = screenSuffix();
    auto positionKey = [&](const QString& name) {
        QString text = ini.readString(section, name + suffix);
        if (text.isEmpty()) {
            text = ini.readString(section, name);
        }
        return text;
    };

    // Position.
    bool found = false;
    QPoint minPos = m_minPos;
    const QString minMaxText = positionKey(QStringLiteral("MinMaxPos"));
    if (!minMaxText.isEmpty()) {
        found = true;
        const QStringList words = positionWords(minMaxText);
        minPos = QPoint(wordOr(words, 0, 0), wordOr(words, 1, 0));
    }
    const QRect current = normalFrameRect();
    int left = current.left();
    int top = current.top();
    int right = current.left() + current.width();
    int bottom = current.top() + current.height();
    const QString normText = positionKey(QStringLiteral("NormPos"));
    if (!normText.isEmpty()) {
        found = true;
        const QStringList words = positionWords(normText);
        left = wordOr(words, 0, left);
        top = wordOr(words, 1, top);
        right = wordOr(words, 2, right);
        bottom = wordOr(words, 3, bottom);
    }
    const int currentPpi = pixelsPerInch();
    if (found &&
        ini.readInteger(section, QStringLiteral("PixelsPerInch"), currentPpi) == currentPpi) {
        if (m_owner->minimumSize() == m_owner->maximumSize()) {
            right = left + current.width();
            bottom = top + current.height();
        }
        if (right > left) {
            m_minPos = minPos;
            m_owner->move(QPoint(left, top) + workAreaOrigin());
            if (m_owner->minimumSize() != m_owner->maximumSize()) {
                m_owner->resize(m_owner->size() + QSize(right - left, bottom - top) -
                                current.size());
            }
        }
    }

    // State. There is no application-wide minimize here: the window itself is minimized.
    Qt::WindowStates state = Qt::WindowNoState;
    switch (ini.readInteger(section, QStringLiteral("ShowCmd"), 0)) {
        case 1:
        case 5:
        case 9:
            state = Qt::WindowNoState;
            break;
        case 2:
        case 6:
        case 7:
            state = Qt::WindowMinimized;
            break;
        case 3:
            state = Qt::WindowMaximized;
            break;
        default:
            break;
    }
    m_owner->setWindowState(state);
    m_owner->update();
}

void TPlacementKeeper::SavePlacement() {
    if (!m_restored && Active) {
        return;
    }
    IniFile ini(m_iniFileName);
    const QString section = IniSection();
    const QString suffix = screenSuffix();
    const Qt::WindowStates state = m_owner->windowState();
    int showCmd = kShowNormal;
    if (state & Qt::WindowMinimized) {
        showCmd = kShowMinimized;
    } else if (state & Qt::WindowMaximized) {
        showCmd = kShowMaximized;
    }
    const int flags =
        (state & Qt::WindowMinimized) && (state & Qt::WindowMaximized) ? kRestoreToMaximized : 0;
    const QRect normal = normalFrameRect();
    const QString minMax = positionText(m_minPos.x(), m_minPos.y(), m_maxPos.x(), m_maxPos.y());
    const QString norm = positionText(normal.left(), normal.top(), normal.left() + normal.width(),
                                      normal.top() + normal.height());

    ini.writeInteger(section, QStringLiteral("FormVersion"), Version);
    ini.writeInteger(section, QStringLiteral("Flags"), flags);
    ini.writeInteger(section, QStringLiteral("ShowCmd"), showCmd);
    ini.writeInteger(section, QStringLiteral("PixelsPerInch"), pixelsPerInch());
    ini.writeString(section, QStringLiteral("MinMaxPos") + suffix, minMax);
    ini.writeString(section, QStringLiteral("MinMaxPos"), minMax);
    ini.writeString(section, QStringLiteral("NormPos") + suffix, norm);
    ini.writeString(section, QStringLiteral("NormPos"), norm);
    ini.writeString(section, QStringLiteral("Visible"),
                    m_destroying ? QStringLiteral("1") : QStringLiteral("0"));
    if (!ini.save()) {
        const QString message = QStringLiteral("Unable to write to %1").arg(m_iniFileName);
        if (m_dialogs) {
            m_dialogs->showError(m_owner, message);
        } else {
            qWarning("%s", qUtf8Printable(message));
        }
        return;
    }
    m_saved = true;
}
