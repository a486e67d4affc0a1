#pragma once

#include <QKeySequence>
#include <QLineEdit>

class TInnerButton;

// A one-line text field with a small button inside its right end. The button fills the
// right end of the field's inside (ButtonWidth wide, as high as the inside) and the text
// area ends 2 pixels before it. A click on the button, or ClickKey pressed in the field,
// runs ButtonClick().
//
// The keyboard read-only state of the underlying QLineEdit is managed here: it is read-only
// while DirectInput is false or ReadOnly is true. Set those two, not QLineEdit::setReadOnly.
class TButtonEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit TButtonEdit(QWidget* parent = nullptr);

    int ButtonWidth() const { return m_buttonWidth; }
    // 0 hides the button and switches ClickKey off.
    void SetButtonWidth(int width);

    QKeySequence ClickKey() const { return m_clickKey; }
    void SetClickKey(const QKeySequence& key);

    // False: the keyboard cannot change the text (typing, Delete, Backspace, cut, paste,
    // undo and dropped text do nothing); selecting and copying still work, and Enter and
    // Escape are left to the window.
    bool DirectInput() const { return m_directInput; }
    void SetDirectInput(bool direct);

    // True: the keyboard cannot change the text, and neither the button nor ClickKey works.
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool readOnly);

    TInnerButton* Button() const { return m_button; }

protected:
    // What the button does. Runs only while ReadOnly is false.
    virtual void ButtonClick() {}

    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buttonClicked();
    void layoutButton();
    void applyReadOnly();
    bool matchesClickKey(const QKeyEvent& event) const;

    TInnerButton* m_button = nullptr;
    int m_buttonWidth = 20;
    QKeySequence m_clickKey{Qt::ALT | Qt::Key_Down};
    bool m_directInput = true;
    bool m_readOnly = false;
};
