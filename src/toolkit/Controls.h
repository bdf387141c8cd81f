#pragma once
// The toolkit controls the windows are built from, where Qt's own behave differently from what the
// windows expect:
//   TStaticText - a text (plain text only, never rich text) with an optional sunken border,
//                 background colour and a click event.
//   TUpDown     - the up-down spinner: two arrow buttons bound to a static text. OnChanging runs
//                 before a click moves it and may refuse; OnClick runs after. SetPosition from code
//                 runs neither; the bound text always shows the position.
//   TRadioGroup - a captioned group of radio buttons with ItemIndex; OnClick runs only when the user
//                 clicks an item, never for SetItemIndex.
//   TEdit       - an edit field whose OnKeyPress sees every typed character, Enter as 13 and Escape
//                 as 27, and may consume it by setting the key to 0; OnExit runs when the focus moves
//                 from it to another control of the same window (not when the window loses the
//                 focus, nor when its context menu opens).
//   TBevel      - a lowered frame; TLineShape - a one-pixel line with a pen colour.
// Threads: main thread only.

#include <QButtonGroup>
#include <QColor>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <vector>

class TStaticText : public QLabel {
public:
    explicit TStaticText(QWidget* parent = nullptr);
    void SetSunken(bool sunken);
    // Background colour; an invalid colour lets the parent's show through.
    void SetColor(const QColor& color);
    QColor Color() const { return FColor; }
    void SetFontColor(const QColor& color);
    // A text wider than the field is drawn in a smaller size (down to 8 px) instead of being clipped:
    // for fields that show device texts of any length.
    void SetShrinkToFit(bool shrink);
    std::function<void()> OnClick;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void ApplyPalette();
    QColor FColor;
    QColor FFontColor;
    bool FShrink = false;
};

enum TUDBtnType { btNext, btPrev }; // up arrow, down arrow

class TUpDown : public QWidget {
public:
    explicit TUpDown(QWidget* parent = nullptr);
    void SetRange(int minimum, int maximum);
    int Min() const { return FMin; }
    int Max() const { return FMax; }
    int Position() const { return FPosition; }
    // Clamped to the range; updates the bound text; runs no event.
    void SetPosition(int value);
    void SetWrap(bool wrap) { FWrap = wrap; }
    void SetAssociate(TStaticText* text);
    TStaticText* Associate() const { return FAssociate; }
    // What a click on an arrow does: OnChanging (refusable), then move, then OnClick. A click that
    // cannot move (at the end, no wrap) runs neither.
    void Click(TUDBtnType button);

    std::function<void(bool& allowChange)> OnChanging;
    std::function<void(TUDBtnType button)> OnClick;

    QToolButton* UpButton() const { return Up; }
    QToolButton* DownButton() const { return Down; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowPosition();
    QToolButton* Up;
    QToolButton* Down;
    TStaticText* FAssociate = nullptr;
    int FMin = 0;
    int FMax = 100;
    int FPosition = 0;
    bool FWrap = false;
};

class TRadioGroup : public QGroupBox {
public:
    explicit TRadioGroup(QWidget* parent = nullptr);
    // Replaces the items; laid out in one column filling the group below its caption.
    void SetItems(const QStringList& items);
    int Count() const { return static_cast<int>(Buttons.size()); }
    // -1 when nothing is selected.
    int ItemIndex() const;
    // Selects item index (-1 clears); runs no event.
    void SetItemIndex(int index);
    QAbstractButton* Button(int index) const { return Buttons.at(static_cast<size_t>(index)); }
    // After the user clicked an item (ItemIndex is already the new one).
    std::function<void()> OnClick;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void LayOut();
    QButtonGroup* Group;
    std::vector<QAbstractButton*> Buttons;
};

class TEdit : public QLineEdit {
public:
    explicit TEdit(QWidget* parent = nullptr);
    // key: the typed character, 13 Enter, 27 Escape, 8 Backspace; set to 0 to consume it.
    std::function<void(char& key)> OnKeyPress;
    std::function<void()> OnExit;
    // Delivers a key press as if typed (what "send it an Escape key press" means).
    void PressKey(char key);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

class TBevel : public QFrame {
public:
    explicit TBevel(QWidget* parent = nullptr, bool raised = false);
};

class TLineShape : public QWidget {
public:
    explicit TLineShape(QWidget* parent = nullptr);
    void SetPenColor(const QColor& color);
    QColor PenColor() const { return FPen; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor FPen = Qt::black;
};
