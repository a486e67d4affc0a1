#include "shell/accessibility.h"

#include <QAccessibleWidget>
#include <QPointer>

#include <array>

#include "shell/tstatusbar.h"
#include "widgets/percentgauge.h"

namespace {

// One text panel of the status bar: not a widget of its own, so its interface is made here
// and lives as long as the bar's.
class StatusPanelAccessible : public QAccessibleInterface {
public:
    StatusPanelAccessible(TStatusBar* bar, int index) : m_bar(bar), m_index(index) {}

    bool isValid() const override { return !m_bar.isNull(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_bar ? m_bar->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_bar.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        if (!m_bar || (t != QAccessible::Name && t != QAccessible::Value)) {
            return {};
        }
        return m_bar->PanelText(m_index);
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!m_bar) {
            return {};
        }
        const QRect r = m_bar->PanelRect(m_index);
        return QRect(m_bar->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::StaticText; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.readOnly = true;
        s.invisible = !m_bar || !m_bar->isVisible();
        return s;
    }

private:
    QPointer<TStatusBar> m_bar;
    int m_index;
};

class StatusBarAccessible : public QAccessibleWidget {
public:
    explicit StatusBarAccessible(TStatusBar* bar) : QAccessibleWidget(bar, QAccessible::StatusBar) {
        for (int i = 0; i < TStatusBar::kPanelCount; ++i) {
            auto* panel = new StatusPanelAccessible(bar, i);
            m_panels[static_cast<size_t>(i)] = QAccessible::registerAccessibleInterface(panel);
        }
    }
    ~StatusBarAccessible() override {
        for (const QAccessible::Id id : m_panels) {
            QAccessible::deleteAccessibleInterface(id);
        }
    }
    int childCount() const override { return TStatusBar::kPanelCount; }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= TStatusBar::kPanelCount) {
            return nullptr;
        }
        return QAccessible::accessibleInterface(m_panels[static_cast<size_t>(index)]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (int i = 0; i < TStatusBar::kPanelCount; ++i) {
            if (QAccessible::accessibleInterface(m_panels[static_cast<size_t>(i)]) == child) {
                return i;
            }
        }
        return -1;
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            return QStringLiteral("Barra de estado");
        }
        return QAccessibleWidget::text(t);
    }

private:
    std::array<QAccessible::Id, TStatusBar::kPanelCount> m_panels{};
};

class GaugeAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit GaugeAccessible(TPercentGauge* gauge)
        : QAccessibleWidget(gauge, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) {
            return QStringLiteral("%1%").arg(gauge()->Percent());
        }
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return gauge()->Percent(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    TPercentGauge* gauge() const { return static_cast<TPercentGauge*>(widget()); }
};

QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (className == QLatin1String("TStatusBar")) {
        return new StatusBarAccessible(static_cast<TStatusBar*>(object));
    }
    if (className == QLatin1String("TPercentGauge")) {
        return new GaugeAccessible(static_cast<TPercentGauge*>(object));
    }
    return nullptr;
}

}  // namespace

void installAccessibility() {
    static bool installed = false;
    if (!installed) {
        installed = true;
        QAccessible::installFactory(factory);
    }
}
