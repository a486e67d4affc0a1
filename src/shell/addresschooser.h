#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class PeerBrowser;
class QAction;
class QCompleter;
class QLineEdit;
class QMenu;
class QStringListModel;

// The drop-down of the address field: the copies found on the local network (by name) and
// the addresses recently sent to. A small arrow at the field's right end, or Alt+Down in the
// field, opens it; choosing an entry puts its address in the field. Typing completes from
// the recent addresses. The arrow shows only while there is something to choose, and
// nothing is chosen while the field is read-only (a send is under way). Below the list,
// "Emparejar" offers the copies found that have the fast lane, for pairing.
class AddressChooser : public QObject {
    Q_OBJECT

public:
    static constexpr int kRecentCount = 8;

    struct Entry {
        QString label;    // the copy's name or the address
        QString address;  // what choosing it puts in the field
        // A copy found whose announced fingerprint the user trusts (see setTrust).
        bool trusted = false;
    };
    // Tells whether the user trusts a fingerprint.
    using TrustCheck = std::function<bool(const QString& fingerprint)>;

    // `browser` may be null: then only recent addresses are offered.
    AddressChooser(QLineEdit* field, PeerBrowser* browser, QObject* parent = nullptr);

    // The recent addresses, newest first, as kept in the settings (separated by spaces;
    // neither addresses nor names hold one).
    void setRecent(const QString& setting);
    QString recentSetting() const;
    QStringList recent() const { return m_recent; }
    // Copies found that announce a fingerprint this says is trusted are marked in the list.
    // Unset, nobody is marked.
    void setTrust(TrustCheck trusts);
    // An address a send to ended well: it goes first, once, and the oldest beyond
    // kRecentCount go.
    void remember(const QString& address);

    // The copies found, then the recent addresses.
    QList<Entry> entries() const;
    // What the list shows for an entry, and what a screen reader reads of it: its label, and
    // for a trusted copy "(de confianza)" after it, beside the trust icon.
    static QString shownText(const Entry& entry);
    // Puts the entry's address in the field (when it may be changed). False for an unknown
    // label.
    bool choose(const QString& label);
    // The copies found that can be paired with (they have the fast lane).
    QList<Entry> pairable() const;
    // "Emparejar" > `label`: asks for pairing with that copy (pairRequested). False for an
    // unknown label, or while a send is under way.
    bool pair(const QString& label);
    void popup();

signals:
    void pairRequested(const QString& address, const QString& name);

private:
    // Puts `address` in the field, unless a send holds it.
    void fill(const QString& address);
    void update();

    QLineEdit* m_field;
    PeerBrowser* m_browser;
    QAction* m_arrow;
    QMenu* m_menu;
    QMenu* m_pairMenu;
    QStringListModel* m_completions;
    QStringList m_recent;
    TrustCheck m_trusts;
};
