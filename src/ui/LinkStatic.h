#pragma once
// A static text that acts as a hyperlink: pure blue on the dialog face, grey while the
// mouse button is held on it, the hand cursor over it. A click (or its mnemonic) emits
// linkClicked with the control's id; the parent acts.
#include <QAbstractButton>

class CLinkStatic : public QAbstractButton
{
    Q_OBJECT
public:
    CLinkStatic(int id, const QString& text, QWidget* parent = nullptr);
    int id() const { return m_id; }
    QSize sizeHint() const override;

    static QColor LinkColor() { return QColor(0, 0, 255); }
    static QColor PressedColor() { return QColor(128, 128, 128); }

signals:
    void linkClicked(CLinkStatic* link, int id);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_id;
};
