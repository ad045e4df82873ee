#pragma once
// A drop-down list in which several entries can be selected; its face shows the selected
// entries as one sentence ("Owen, R.T., and Ann"). The list opens below the face (above
// when it would leave the screen), keeps the keyboard focus on the face, and closes on
// Enter, Escape, a plain click in it or a click elsewhere.
//
//   CMultiSelComboBox to(parent);
//   to.AddEntry("Owen", 1);  to.AddEntry("R.T.", 1);
//   to.SetSelected(to.FindEntry("Owen"), true);  to.UpdateText();
//   for (int i : to.SelectedIndexes()) ... to.EntryText(i) ...
//   connect(&to, &CMultiSelComboBox::SelectionChanged, ...);
#include "view/MultiSelRules.h"

#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

class QListWidget;

class CMultiSelComboBox : public QWidget
{
    Q_OBJECT
public:
    explicit CMultiSelComboBox(QWidget* parent = nullptr);
    ~CMultiSelComboBox() override;

    // Entries are kept sorted; indexes are positions in that order.
    int AddEntry(const QString& text, uint32_t tag);
    void RemoveEntry(int index);
    int FindEntry(const QString& text) const; // exact text, or -1
    void SetSelected(int index, bool selected);
    void ClearSelection();
    bool IsSelected(int index) const;
    int Count() const;
    int SelectedCount() const;
    std::vector<int> SelectedIndexes() const; // in list order
    QString EntryText(int index) const;
    uint32_t EntryTag(int index) const;

    void OpenList();
    void CloseList();
    bool IsListOpen() const;
    // Sets the face's text from the selection; CUsersList shows "(All Users)" instead.
    virtual void UpdateText();
    QString DisplayedText() const { return m_text; }

    QListWidget* List() const { return m_list; }
    // Milliseconds for type-ahead; tests make their own.
    void SetTickSource(std::function<uint32_t()> ticks) { m_ticks = std::move(ticks); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void SelectionChanged();

protected:
    void SetDisplayedText(const QString& text);
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void TypeLetter(char letter);
    void SelectOnly(int index);
    void MoveCaret(int delta);
    void WatchOutside(bool watch);

    QListWidget* m_list;
    QString m_text;
    CTypeAhead m_typeAhead;
    std::function<uint32_t()> m_ticks;
    QPoint m_parentPosAtOpen;
    bool m_listOpened = false; // the list has been opened at least once
};
