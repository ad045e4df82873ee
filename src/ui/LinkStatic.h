#pragma once
// A static text that acts as a hyperlink: pure blue on the dialog face, grey while the
// mouse button is held on it, the hand cursor over it; on a dark face both are lightened
// until they read well. A click, Enter or Space while it has
// the focus (one Tab stop), its mnemonic, or a screen reader's press emits linkClicked with
// the control's id; the parent acts. Screen readers see it as a link.
#include <QAbstractButton>
#include <QColor>

class CLinkStatic : public QAbstractButton
{
    Q_OBJECT
public:
    CLinkStatic(int id, const QString& text, QWidget* parent = nullptr);
    int id() const { return m_id; }
    QSize sizeHint() const override;
    // A link drawn in another colour than the pure blue (the options' purple link).
    void SetColor(const QColor& color);
    QColor Color() const { return m_color; }
    // The colour the text is drawn in now, readable on the face it is drawn on.
    QColor ShownColor() const;

    static QColor LinkColor() { return QColor(0, 0, 255); }
    static QColor PressedColor() { return QColor(128, 128, 128); }

signals:
    void linkClicked(CLinkStatic* link, int id);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int m_id;
    QColor m_color = LinkColor();
};
