#include "widgets/buttonedit.h"

#include "widgets/innerbutton.h"

#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace {

// The field's sunken border; the button sits inside it.
constexpr int kBorder = 2;
// Gap between the end of the text area and the button.
constexpr int kTextGap = 2;

}  // namespace

TButtonEdit::TButtonEdit(QWidget* parent) : QLineEdit(parent), m_button(new TInnerButton(this)) {
    connect(m_button, &TInnerButton::clicked, this, &TButtonEdit::buttonClicked);
    layoutButton();
}

void TButtonEdit::SetButtonWidth(int width) {
    width = std::max(0, width);
    if (width != m_buttonWidth) {
        m_buttonWidth = width;
        layoutButton();
    }
}

void TButtonEdit::SetClickKey(const QKeySequence& key) {
    m_clickKey = key;
}

void TButtonEdit::SetDirectInput(bool direct) {
    m_directInput = direct;
    applyReadOnly();
}

void TButtonEdit::SetReadOnly(bool readOnly) {
    m_readOnly = readOnly;
    applyReadOnly();
}

void TButtonEdit::applyReadOnly() {
    QLineEdit::setReadOnly(m_readOnly || !m_directInput);
    m_button->setEnabled(!m_readOnly);
}

void TButtonEdit::buttonClicked() {
    if (!m_readOnly) {
        ButtonClick();
    }
}

bool TButtonEdit::matchesClickKey(const QKeyEvent& event) const {
    if (m_clickKey.isEmpty()) {
        return false;
    }
    // The arrow keys of the numeric keypad count as the arrow keys.
    const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
    return QKeySequence(QKeyCombination(modifiers, Qt::Key(event.key()))) == m_clickKey;
}

void TButtonEdit::keyPressEvent(QKeyEvent* event) {
    if (m_buttonWidth > 0 && !m_readOnly && matchesClickKey(*event)) {
        event->accept();
        ButtonClick();
        return;
    }
    if (isReadOnly()) {
        switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Escape:
                // Left to the window, as in any dialog.
                event->ignore();
                return;
            default:
                break;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TButtonEdit::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    layoutButton();
}

void TButtonEdit::changeEvent(QEvent* event) {
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange) {
        layoutButton();
    }
}

void TButtonEdit::layoutButton() {
    if (m_buttonWidth <= 0) {
        m_button->hide();
        setTextMargins(0, 0, 0, 0);
        return;
    }
    const int buttonLeft = width() - kBorder - m_buttonWidth;
    m_button->setGeometry(buttonLeft, kBorder, m_buttonWidth, std::max(0, height() - 2 * kBorder));
    m_button->show();

    // The style's own frame may be narrower or wider than kBorder; measure where its text
    // area would end and pull that back to kTextGap before the button.
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    const int contentsEnd = contents.x() + contents.width();
    setTextMargins(0, 0, std::max(0, contentsEnd - (buttonLeft - kTextGap)), 0);
}
