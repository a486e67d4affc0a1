#include "shell/addresschooser.h"

#include <QAction>
#include <QCompleter>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QStringListModel>

#include <utility>

#include "discovery/peerbrowser.h"
#include "shell/tabicons.h"

namespace {

// A small downward arrow, drawn in the field's text colour.
QIcon arrowIcon(const QColor& colour) {
    QPixmap pixmap(9, 9);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    const QPointF points[] = {{1, 3}, {8, 3}, {4.5, 7}};
    painter.drawPolygon(points, 3);
    return QIcon(pixmap);
}

}  // namespace

AddressChooser::AddressChooser(QLineEdit* field, PeerBrowser* browser, QObject* parent)
    : QObject(parent),
      m_field(field),
      m_browser(browser),
      m_arrow(new QAction(arrowIcon(field->palette().color(QPalette::Text)),
                          QStringLiteral("Direcciones"), field)),
      m_menu(new QMenu(field)),
      m_pairMenu(new QMenu(QStringLiteral("Emparejar"), m_menu)),
      m_completions(new QStringListModel(this)) {
    m_field->addAction(m_arrow, QLineEdit::TrailingPosition);
    connect(m_arrow, &QAction::triggered, this, &AddressChooser::popup);
    auto* completer = new QCompleter(m_completions, m_field);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    m_field->setCompleter(completer);
    if (m_browser != nullptr) {
        connect(m_browser, &PeerBrowser::peersChanged, this, &AddressChooser::update);
    }
    update();
}

void AddressChooser::setRecent(const QString& setting) {
    m_recent = setting.split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(0, kRecentCount);
    update();
}

void AddressChooser::setTrust(TrustCheck trusts) {
    m_trusts = std::move(trusts);
    update();
}

QString AddressChooser::recentSetting() const {
    return m_recent.join(QLatin1Char(' '));
}

void AddressChooser::remember(const QString& address) {
    const QString text = address.trimmed();
    if (text.isEmpty() || text.contains(QLatin1Char(' '))) {
        return;
    }
    m_recent.removeAll(text);
    m_recent.prepend(text);
    m_recent = m_recent.mid(0, kRecentCount);
    update();
}

QList<AddressChooser::Entry> AddressChooser::entries() const {
    QList<Entry> list;
    if (m_browser != nullptr) {
        for (const PeerBrowser::Peer& peer : m_browser->peers()) {
            // What the copy announces only marks it: sending to it, the lane's handshake
            // shows who answers.
            const bool trusted =
                m_trusts && !peer.fingerprint.isEmpty() && m_trusts(peer.fingerprint);
            list.append({peer.name, peer.address, trusted});
        }
    }
    for (const QString& address : m_recent) {
        list.append({address, address});
    }
    return list;
}

QString AddressChooser::shownText(const Entry& entry) {
    return entry.trusted ? entry.label + QStringLiteral(" (de confianza)") : entry.label;
}

bool AddressChooser::choose(const QString& label) {
    for (const Entry& entry : entries()) {
        if (entry.label == label) {
            fill(entry.address);
            return true;
        }
    }
    return false;
}

QList<AddressChooser::Entry> AddressChooser::pairable() const {
    QList<Entry> list;
    if (m_browser != nullptr) {
        for (const PeerBrowser::Peer& peer : m_browser->peers()) {
            if (peer.lane) {
                list.append({peer.name, peer.address});
            }
        }
    }
    return list;
}

bool AddressChooser::pair(const QString& label) {
    if (m_field->isReadOnly()) {
        return false;
    }
    for (const Entry& entry : pairable()) {
        if (entry.label == label) {
            emit pairRequested(entry.address, entry.label);
            return true;
        }
    }
    return false;
}

void AddressChooser::popup() {
    if (m_field->isReadOnly()) {
        return;
    }
    m_menu->clear();
    const qsizetype found = m_browser != nullptr ? m_browser->peers().size() : 0;
    const QList<Entry> list = entries();
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i == 0 && found > 0) {
            m_menu->addSection(QStringLiteral("En la red"));
        }
        if (i == found && !m_recent.isEmpty()) {
            m_menu->addSection(QStringLiteral("Recientes"));
        }
        const Entry entry = list.at(i);
        QAction* action = m_menu->addAction(shownText(entry));
        if (entry.trusted) {
            action->setIcon(trustedIcon());
        }
        if (entry.label != entry.address) {
            action->setToolTip(entry.address);
        }
        connect(action, &QAction::triggered, this, [this, entry] { fill(entry.address); });
    }
    m_pairMenu->clear();
    for (const Entry& entry : pairable()) {
        QAction* action = m_pairMenu->addAction(entry.label);
        action->setToolTip(entry.address);
        connect(action, &QAction::triggered, this, [this, entry] { pair(entry.label); });
    }
    if (!m_pairMenu->isEmpty()) {
        m_menu->addSeparator();
        m_menu->addMenu(m_pairMenu);
    }
    if (!m_menu->isEmpty()) {
        m_menu->popup(m_field->mapToGlobal(QPoint(0, m_field->height())));
    }
}

void AddressChooser::fill(const QString& address) {
    if (!m_field->isReadOnly()) {
        m_field->setText(address);
    }
}

void AddressChooser::update() {
    QStringList completions = m_recent;
    if (m_browser != nullptr) {
        for (const PeerBrowser::Peer& peer : m_browser->peers()) {
            completions.append(peer.address);
        }
    }
    completions.removeDuplicates();
    m_completions->setStringList(completions);
    m_arrow->setVisible(!entries().isEmpty());
}
