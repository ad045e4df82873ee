#include "view/MultiSelComboBox.h"

#include "platform/QtText.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListWidget>
#include <QScreen>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>

namespace {

constexpr int kTagRole = Qt::UserRole;

// The caret of the list shows although the keyboard focus stays on the face.
class CCaretDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem shown = option;
        auto* view = qobject_cast<const QAbstractItemView*>(parent());
        if (view && view->currentIndex() == index)
            shown.state |= QStyle::State_HasFocus;
        shown.state |= QStyle::State_Active;
        QStyledItemDelegate::paint(painter, shown, index);
    }

protected:
    // The check state is for screen readers only: the selection shows it on screen.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->features &= ~QStyleOptionViewItem::HasCheckIndicator;
    }
    bool editorEvent(QEvent*, QAbstractItemModel*, const QStyleOptionViewItem&,
                     const QModelIndex&) override
    {
        return false;
    }
};

// Screen readers meet the face as a combo box whose child is its list, named as the face
// is; the list's items are the entries, checked when selected.
class CMultiSelAccessible : public QAccessibleWidget
{
public:
    explicit CMultiSelAccessible(CMultiSelComboBox* face)
        : QAccessibleWidget(face, QAccessible::ComboBox)
    {}

    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        if (index != 0)
            return nullptr;
        QListWidget* list = Face()->List();
        list->setAccessibleName(text(QAccessible::Name));
        return QAccessible::queryAccessibleInterface(list);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == Face()->List() ? 0 : -1;
    }
    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Value ? Face()->DisplayedText() : QAccessibleWidget::text(kind);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = Face()->IsListOpen();
        state.collapsed = !state.expanded;
        return state;
    }

private:
    CMultiSelComboBox* Face() const { return static_cast<CMultiSelComboBox*>(widget()); }
};

QAccessibleInterface* MultiSelAccessibleFactory(const QString&, QObject* object)
{
    auto* face = qobject_cast<CMultiSelComboBox*>(object);
    return face && face->isWidgetType() ? new CMultiSelAccessible(face) : nullptr;
}

// The face's state for a screen reader: its list opened or closed.
void TellExpanded(CMultiSelComboBox* face)
{
    if (!QAccessible::isActive())
        return;
    QAccessible::State changed;
    changed.expanded = true;
    changed.collapsed = true;
    QAccessibleStateChangeEvent event(face, changed);
    QAccessible::updateAccessibility(&event);
}

// Entries sort without regard to letter case, as a list box sorts. An entry reads as
// checked while it is selected: read from the selection, never stored, so that a change of
// the selection writes nothing into the list (a write re-sorts it, even in the middle of
// taking an entry out).
class CEntryItem : public QListWidgetItem
{
public:
    explicit CEntryItem(const QString& text) : QListWidgetItem(text)
    {
        setFlags(flags() | Qt::ItemIsUserCheckable);
    }
    bool operator<(const QListWidgetItem& other) const override
    {
        return text().compare(other.text(), Qt::CaseInsensitive) < 0;
    }
    QVariant data(int role) const override
    {
        if (role == Qt::CheckStateRole)
            return isSelected() ? Qt::Checked : Qt::Unchecked;
        return QListWidgetItem::data(role);
    }
};

// A screen reader hears of the entries whose check changed, and of those alone.
void TellCheckChanges(QListWidget* list, const QItemSelection& changed)
{
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(list);
    if (!view)
        return;
    QAccessible::State checked;
    checked.checked = true;
    for (const QModelIndex& index : changed.indexes()) {
        if (QAccessibleInterface* entry = view->child(index.row())) {
            QAccessibleStateChangeEvent event(entry, checked);
            QAccessible::updateAccessibility(&event);
        }
    }
}

// The list open in the whole program, if any: one at a time.
CMultiSelComboBox* s_openFace = nullptr;

uint32_t ProcessTicks()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return static_cast<uint32_t>(timer.elapsed());
}

} // namespace

CMultiSelComboBox::CMultiSelComboBox(QWidget* parent)
    : QWidget(parent), m_list(new QListWidget), m_ticks(ProcessTicks)
{
    static const bool accessible = [] {
        QAccessible::installFactory(MultiSelAccessibleFactory);
        return true;
    }();
    (void)accessible;
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // A window of its own above everything, never taking the focus from the face.
    m_list->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus);
    m_list->setAttribute(Qt::WA_ShowWithoutActivating);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSortingEnabled(true);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_list->setUniformItemSizes(true);
    m_list->setItemDelegate(new CCaretDelegate(m_list));
    m_list->viewport()->installEventFilter(this);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                if (!QAccessible::isActive())
                    return;
                TellCheckChanges(m_list, selected);
                TellCheckChanges(m_list, deselected);
            });
    connect(m_list, &QListWidget::itemSelectionChanged, this, &CMultiSelComboBox::SelectionChanged);
}

CMultiSelComboBox::~CMultiSelComboBox()
{
    WatchOutside(false);
    if (s_openFace == this)
        s_openFace = nullptr;
    delete m_list;
}

int CMultiSelComboBox::AddEntry(const QString& text, uint32_t tag)
{
    auto* item = new CEntryItem(text);
    item->setData(kTagRole, tag);
    m_list->addItem(item); // sorted in
    return m_list->row(item);
}

void CMultiSelComboBox::RemoveEntry(int index)
{
    if (index >= 0 && index < Count())
        delete m_list->takeItem(index);
}

int CMultiSelComboBox::FindEntry(const QString& text) const
{
    for (int i = 0; i < Count(); ++i)
        if (m_list->item(i)->text() == text)
            return i;
    return -1;
}

void CMultiSelComboBox::SetSelected(int index, bool selected)
{
    if (QListWidgetItem* item = m_list->item(index))
        item->setSelected(selected);
}

void CMultiSelComboBox::ClearSelection()
{
    m_list->clearSelection();
}

bool CMultiSelComboBox::IsSelected(int index) const
{
    const QListWidgetItem* item = m_list->item(index);
    return item && item->isSelected();
}

int CMultiSelComboBox::Count() const
{
    return m_list->count();
}

int CMultiSelComboBox::SelectedCount() const
{
    return static_cast<int>(SelectedIndexes().size());
}

std::vector<int> CMultiSelComboBox::SelectedIndexes() const
{
    // From the selection, not from every entry: a long list with a few chosen stays cheap.
    std::vector<int> selected;
    for (const QModelIndex& index : m_list->selectionModel()->selectedIndexes())
        selected.push_back(index.row());
    std::sort(selected.begin(), selected.end());
    return selected;
}

QString CMultiSelComboBox::EntryText(int index) const
{
    const QListWidgetItem* item = m_list->item(index);
    return item ? item->text() : QString();
}

uint32_t CMultiSelComboBox::EntryTag(int index) const
{
    const QListWidgetItem* item = m_list->item(index);
    return item ? item->data(kTagRole).toUInt() : 0;
}

bool CMultiSelComboBox::IsListOpen() const
{
    return m_list->isVisible();
}

void CMultiSelComboBox::OpenList()
{
    if (IsListOpen())
        return;
    m_listOpened = true;
    if (s_openFace && s_openFace != this)
        s_openFace->CloseList();
    s_openFace = this;
    const int entryHeight = Count() > 0 ? m_list->sizeHintForRow(0) : 0;
    const int height = DropListHeight(Count(), entryHeight);
    const QPoint below = mapToGlobal(QPoint(0, this->height()));
    const QRect screen =
        (this->screen() ? this->screen() : QGuiApplication::primaryScreen())->geometry();
    QPoint at = below;
    if (DropListOpensAbove(below.y(), height, screen.y() + screen.height()))
        at = mapToGlobal(QPoint(0, -height));
    m_list->setFont(font());
    m_list->setGeometry(QRect(at, QSize(width(), height)));
    // The open list is a window of its own: it carries the face's name.
    if (QAccessibleInterface* face = QAccessible::queryAccessibleInterface(this))
        m_list->setAccessibleName(face->text(QAccessible::Name));
    m_list->show();
    if (QListWidgetItem* current = m_list->currentItem())
        m_list->scrollToItem(current);
    setFocus(Qt::PopupFocusReason);
    m_parentPosAtOpen = window()->pos();
    WatchOutside(true);
    update();
    TellExpanded(this);
}

void CMultiSelComboBox::CloseList()
{
    if (!IsListOpen())
        return;
    WatchOutside(false);
    if (s_openFace == this)
        s_openFace = nullptr;
    m_list->hide();
    UpdateText();
    update();
    TellExpanded(this);
}

void CMultiSelComboBox::WatchOutside(bool watch)
{
    if (watch)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
}

void CMultiSelComboBox::UpdateText()
{
    std::vector<std::string> selected;
    for (int index : SelectedIndexes())
        selected.push_back(ToCp1252(EntryText(index)));
    SetDisplayedText(FromCp1252(MultiSelText(selected)));
}

void CMultiSelComboBox::SetDisplayedText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleDescription(text);
    update();
}

QSize CMultiSelComboBox::sizeHint() const
{
    QStyleOptionComboBox option;
    option.initFrom(this);
    const QSize text(fontMetrics().horizontalAdvance(QStringLiteral("(All Users), Owen")),
                     fontMetrics().height());
    return style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, this);
}

QSize CMultiSelComboBox::minimumSizeHint() const
{
    QStyleOptionComboBox option;
    option.initFrom(this);
    const QSize text(fontMetrics().horizontalAdvance(QStringLiteral("Owen...")),
                     fontMetrics().height());
    return style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, this);
}

void CMultiSelComboBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    option.initFrom(this);
    option.editable = false;
    option.frame = true;
    if (IsListOpen())
        option.state |= QStyle::State_On;
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    option.currentText = fontMetrics().elidedText(m_text, Qt::ElideRight, field.width());
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void CMultiSelComboBox::SelectOnly(int index)
{
    if (index < 0 || index >= Count())
        return;
    m_list->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    m_list->scrollToItem(m_list->item(index));
    UpdateText();
}

void CMultiSelComboBox::MoveCaret(int delta)
{
    const int row = std::clamp(m_list->currentRow() + delta, 0, std::max(0, Count() - 1));
    if (Count() > 0)
        m_list->setCurrentRow(row, QItemSelectionModel::NoUpdate);
}

void CMultiSelComboBox::TypeLetter(char letter)
{
    std::vector<std::string> entries;
    entries.reserve(static_cast<size_t>(Count()));
    for (int i = 0; i < Count(); ++i)
        entries.push_back(ToCp1252(EntryText(i)));
    const int caret = m_list->currentRow();
    SelectOnly(m_typeAhead.Type(letter, m_ticks(), caret, IsSelected(caret), entries));
}

void CMultiSelComboBox::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool alt = mods & Qt::AltModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    const bool shift = mods & Qt::ShiftModifier;
    const int key = event->key();
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        if (IsListOpen()) {
            CloseList();
            return;
        }
        event->ignore();
        return;
    case Qt::Key_Space:
        if (IsListOpen() && m_typeAhead.SpaceToggles(m_ticks())) {
            const int caret = m_list->currentRow();
            SetSelected(caret, !IsSelected(caret));
            UpdateText();
        }
        return;
    case Qt::Key_F4:
        if (!alt) {
            IsListOpen() ? CloseList() : OpenList();
            return;
        }
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (alt) {
            IsListOpen() ? CloseList() : OpenList();
            return;
        }
        if ((ctrl || shift) && !IsListOpen()) {
            OpenList();
            return;
        }
        if (ctrl) {
            MoveCaret(key == Qt::Key_Down ? 1 : -1);
            return;
        }
        break;
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (ctrl && IsListOpen()) {
            MoveCaret(key == Qt::Key_Right ? 1 : -1);
            return;
        }
        break;
    default:
        if (key >= Qt::Key_A && key <= Qt::Key_Z && !ctrl && !alt && Count() > 0) {
            TypeLetter(static_cast<char>('A' + (key - Qt::Key_A)));
            return;
        }
        break;
    }
    QApplication::sendEvent(m_list, event);
    UpdateText();
}

void CMultiSelComboBox::keyReleaseEvent(QKeyEvent* event)
{
    QApplication::sendEvent(m_list, event);
}

void CMultiSelComboBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    IsListOpen() ? CloseList() : OpenList();
}

void CMultiSelComboBox::wheelEvent(QWheelEvent* event)
{
    // Until the list was first opened, a wheel turned over the box passes by: scrolling past
    // it must not change the recipients.
    if (!m_listOpened) {
        event->ignore();
        return;
    }
    const int caret = m_list->currentRow();
    const int target =
        WheelTarget(caret < 0 ? 0 : caret, IsSelected(caret), event->angleDelta().y() < 0, Count());
    SelectOnly(target);
    event->accept();
}

void CMultiSelComboBox::hideEvent(QHideEvent* event)
{
    CloseList();
    QWidget::hideEvent(event);
}

bool CMultiSelComboBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            QTimer::singleShot(1, this, &CMultiSelComboBox::UpdateText);
        } else if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton &&
                !(mouse->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)))
                QTimer::singleShot(1, this, &CMultiSelComboBox::CloseList);
        }
        return false;
    }
    if (!IsListOpen())
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::NonClientAreaMouseButtonPress: {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget != this && widget != m_list && !m_list->isAncestorOf(widget))
            CloseList();
        break;
    }
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowDeactivate:
        if (watched == window() && window()->pos() != m_parentPosAtOpen)
            CloseList();
        else if (watched == window() && event->type() != QEvent::Move)
            CloseList();
        break;
    default:
        break;
    }
    return false;
}
