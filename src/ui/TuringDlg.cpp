#include "ui/TuringDlg.h"

#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "settings/Options.h"
#include "ui/Accessible.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr char kMessageCaption[] = "Zib Tam";

// Dialog units to pixels for the list's tab stops: four units to an average character.
int DialogUnitsToPixels(const QWidget* widget, int units)
{
    return units * widget->fontMetrics().averageCharWidth() / 4;
}

// Draws a response entry's tab-separated parts at the list's tab stops.
class CTabStopDelegate : public QStyledItemDelegate
{
public:
    CTabStopDelegate(int tabStop, QObject* parent) : QStyledItemDelegate(parent), m_tab(tabStop) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        QString text = item.text;
        item.text.clear();
        item.widget->style()->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);
        painter->save();
        painter->setPen(item.palette.color(
            item.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
        QRect rect = item.rect.adjusted(3, 0, -3, 0);
        const QStringList parts = text.split(QLatin1Char('\t'));
        int x = rect.left();
        for (int i = 0; i < parts.size(); ++i) {
            bool last = i + 1 == parts.size();
            int width = last ? rect.right() - x : m_tab - 4;
            QString shown = QString(parts[i]).replace(QLatin1Char('\n'), QLatin1Char(' '));
            shown.remove(QLatin1Char('\r'));
            shown = painter->fontMetrics().elidedText(shown, Qt::ElideRight, std::max(width, 0));
            painter->drawText(QRect(x, rect.top(), std::max(width, 0), rect.height()),
                              Qt::AlignVCenter | Qt::AlignLeft, shown);
            x += m_tab;
        }
        painter->restore();
    }

private:
    int m_tab;
};

// Line breaks in the core are carriage return plus line feed; the edits use line feeds.
QString ToEditText(const std::string& text)
{
    QString shown = FromCp1252(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

std::string FromEditText(const QString& text)
{
    QString stored = text;
    stored.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    stored.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return ToCp1252(stored);
}

QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    SetAccessibleLabel(buddy, text);
    return label;
}

QPushButton* Button(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    SetAccessibleLabel(button, text);
    button->setAutoDefault(false);
    return button;
}

} // namespace

int RunModal(QDialog& dialog)
{
    return dialog.exec();
}

std::vector<int> SortedOrder(const std::vector<QString>& texts)
{
    std::vector<int> order(texts.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return texts[static_cast<size_t>(a)].compare(texts[static_cast<size_t>(b)],
                                                     Qt::CaseInsensitive) < 0;
    });
    return order;
}

CNumberSpin::CNumberSpin(int minimum, int maximum, QWidget* parent)
    : QAbstractSpinBox(parent), m_minimum(minimum), m_maximum(maximum)
{
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setKeyboardTracking(true);
}

void CNumberSpin::SetValue(int value)
{
    lineEdit()->setText(QString::number(value));
}

void CNumberSpin::SetText(const QString& text)
{
    lineEdit()->setText(text);
}

int CNumberSpin::Value(int fallback) const
{
    bool ok = false;
    int value = text().trimmed().toInt(&ok);
    return ok ? value : fallback;
}

void CNumberSpin::stepBy(int steps)
{
    int value = std::clamp(Value(m_minimum) + steps, m_minimum, m_maximum);
    SetValue(value);
    emit stepped(value);
}

QAbstractSpinBox::StepEnabled CNumberSpin::stepEnabled() const
{
    int value = Value(m_minimum);
    StepEnabled enabled = StepNone;
    if (value < m_maximum)
        enabled |= StepUpEnabled;
    if (value > m_minimum)
        enabled |= StepDownEnabled;
    return enabled;
}

CResponseDlg::CResponseDlg(TuringResponse& response, bool isNew, IPrompt& prompt, QWidget* parent)
    : QDialog(parent), m_response(response), m_prompt(prompt),
      m_minDelay(new CNumberSpin(0, kMaxResponseDelay, this)),
      m_maxDelay(new CNumberSpin(0, kMaxResponseDelay, this)),
      m_probability(new CNumberSpin(0, 100, this)), m_message(new QPlainTextEdit(this))
{
    setWindowTitle(QString::fromLatin1(isNew ? kNewResponseCaption : kEditResponseCaption));
    m_minDelay->SetValue(response.MinDelay);
    m_maxDelay->SetValue(response.MaxDelay);
    m_probability->SetValue(response.Probability);
    m_message->setPlainText(ToEditText(response.Message));
    m_message->setTabChangesFocus(true);
    // The message box holds at most 3,000 characters, as the stored limit says.
    connect(m_message, &QPlainTextEdit::textChanged, this, [this] {
        QString text = m_message->toPlainText();
        if (text.size() > kMaxResponseLength) {
            QTextCursor cursor = m_message->textCursor();
            int position = std::min(cursor.position(), kMaxResponseLength);
            m_message->setPlainText(text.left(kMaxResponseLength));
            cursor = m_message->textCursor();
            cursor.setPosition(position);
            m_message->setTextCursor(cursor);
        }
    });
    connect(m_minDelay, &CNumberSpin::stepped, this, [this](int low) {
        int high = m_maxDelay->Value(0);
        CoupleMinDelay(low, high);
        m_maxDelay->SetValue(high);
    });
    connect(m_maxDelay, &CNumberSpin::stepped, this, [this](int high) {
        int low = m_minDelay->Value(0);
        CoupleMaxDelay(high, low);
        m_minDelay->SetValue(low);
    });

    auto* grid = new QGridLayout;
    grid->addWidget(BuddyLabel(QStringLiteral("&Delay (in seconds):"), m_minDelay, this), 0, 0);
    grid->addWidget(m_minDelay, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("to"), this), 0, 2);
    grid->addWidget(m_maxDelay, 0, 3);
    m_maxDelay->setAccessibleName(QStringLiteral("Delay to"));
    grid->addWidget(BuddyLabel(QStringLiteral("Percent &Probability:"), m_probability, this), 1, 0);
    grid->addWidget(m_probability, 1, 1);
    grid->setColumnStretch(4, 1);
    for (auto* spin : {m_minDelay, m_maxDelay, m_probability})
        spin->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 40);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(BuddyLabel(QStringLiteral("&Message:"), m_message, this));
    layout->addWidget(m_message, 1);
    layout->addWidget(buttons);
    resize(420, 300);
}

void CResponseDlg::accept()
{
    ResponseEntry entry =
        CheckResponseEntry(ToCp1252(m_minDelay->text()), ToCp1252(m_maxDelay->text()),
                           ToCp1252(m_probability->text()), FromEditText(m_message->toPlainText()));
    QWidget* field = nullptr;
    switch (entry.Failed) {
    case ResponseField::None:
        m_response = entry.Response;
        QDialog::accept();
        return;
    case ResponseField::MinDelay:
        field = m_minDelay;
        break;
    case ResponseField::MaxDelay:
        field = m_maxDelay;
        break;
    case ResponseField::Probability:
        field = m_probability;
        break;
    case ResponseField::Message:
        field = m_message;
        break;
    }
    field->setFocus();
    if (auto* spin = qobject_cast<CNumberSpin*>(field))
        spin->selectAll();
    m_prompt.MessageBox(entry.Text, kMessageCaption, PromptButtons::Ok, PromptIcon::Warning);
}

CTuringDlg::CTuringDlg(COptions& options, IPrompt& prompt, DialogRunner runDialog, QWidget* parent)
    : QDialog(parent), m_options(options), m_prompt(prompt), m_runDialog(std::move(runDialog)),
      m_ruleList(new QListWidget(this)), m_newRule(Button(QStringLiteral("&New..."), this)),
      m_deleteRule(Button(QStringLiteral("&Delete..."), this)),
      m_condition(new QPlainTextEdit(this)), m_responseList(new QListWidget(this)),
      m_newResponse(Button(QStringLiteral("Ne&w..."), this)),
      m_editResponse(Button(QStringLiteral("&Edit..."), this)),
      m_deleteResponse(Button(QStringLiteral("De&lete..."), this))
{
    setWindowTitle(QString::fromLatin1(kTuringCaption));
    // Its own task-bar button, and a fixed size.
    setWindowFlag(Qt::Window);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);

    // The tab stop of 40 dialog units, widened when a column head would not fit in it.
    const int tab = std::max(DialogUnitsToPixels(this, 40),
                             fontMetrics().horizontalAdvance(QStringLiteral("Probability")) + 12);
    m_responseList->setItemDelegate(new CTabStopDelegate(tab, m_responseList));
    m_responseList->installEventFilter(this);
    m_condition->setTabStopDistance(DialogUnitsToPixels(this, 6));
    m_condition->setTabChangesFocus(true);

    auto* rulesBox = new QGroupBox(QStringLiteral("&Rules"), this);
    auto* rulesLayout = new QVBoxLayout(rulesBox);
    rulesLayout->addWidget(m_ruleList, 1);
    auto* ruleButtons = new QHBoxLayout;
    ruleButtons->addWidget(m_newRule);
    ruleButtons->addWidget(m_deleteRule);
    rulesLayout->addLayout(ruleButtons);
    SetAccessibleLabel(m_ruleList, QStringLiteral("&Rules"));
    // The group's mnemonic reaches the list, as a label's would.
    rulesBox->setFocusProxy(m_ruleList);

    auto* right = new QVBoxLayout;
    right->addWidget(BuddyLabel(QStringLiteral("&Condition:"), m_condition, this));
    right->addWidget(m_condition, 1);
    auto* responsesBox = new QGroupBox(QStringLiteral("&Responses"), this);
    responsesBox->setFocusProxy(m_responseList);
    SetAccessibleLabel(m_responseList, QStringLiteral("&Responses"));
    auto* responsesLayout = new QVBoxLayout(responsesBox);
    auto* heads = new QHBoxLayout;
    heads->setSpacing(0);
    heads->setContentsMargins(4, 0, 0, 0);
    for (const char* head : {"Probability", "Delay"}) {
        auto* label = new QLabel(QString::fromLatin1(head), responsesBox);
        label->setFixedWidth(tab);
        heads->addWidget(label);
    }
    heads->addWidget(new QLabel(QStringLiteral("Message"), responsesBox), 1);
    responsesLayout->addLayout(heads);
    responsesLayout->addWidget(m_responseList, 1);
    auto* responseButtons = new QHBoxLayout;
    responseButtons->addWidget(m_newResponse);
    responseButtons->addWidget(m_editResponse);
    responseButtons->addWidget(m_deleteResponse);
    responseButtons->addStretch(1);
    responsesLayout->addLayout(responseButtons);
    right->addWidget(responsesBox, 2);

    auto* columns = new QHBoxLayout;
    columns->addWidget(rulesBox, 2);
    columns->addLayout(right, 5);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addWidget(buttons);
    resize(640, 400);
    setFixedSize(sizeHint().expandedTo(QSize(640, 400)));

    connect(m_newRule, &QPushButton::clicked, this, &CTuringDlg::OnNewRule);
    connect(m_deleteRule, &QPushButton::clicked, this, &CTuringDlg::OnDeleteRule);
    connect(m_newResponse, &QPushButton::clicked, this, &CTuringDlg::OnNewResponse);
    connect(m_editResponse, &QPushButton::clicked, this, &CTuringDlg::OnEditResponse);
    connect(m_deleteResponse, &QPushButton::clicked, this, &CTuringDlg::OnDeleteResponse);
    connect(m_responseList, &QListWidget::itemDoubleClicked, this, &CTuringDlg::OnEditResponse);
    connect(m_condition, &QPlainTextEdit::textChanged, this, &CTuringDlg::OnConditionChanged);
    connect(m_ruleList, &QListWidget::currentRowChanged, this, [this] {
        if (!m_filling)
            ShowSelectedRule();
    });

    LoadTuringRules(m_options, m_rules);
    FillRuleList(m_rules.empty() ? -1 : -2);
    if (m_rules.empty()) {
        EnableRuleControls(false);
        m_condition->setEnabled(false);
        m_responseList->setEnabled(false);
    }
}

int CTuringDlg::SelectedRule() const
{
    QListWidgetItem* item = m_ruleList->currentItem();
    if (!item || !item->isSelected())
        return -1;
    int index = item->data(Qt::UserRole).toInt();
    return index >= 0 && index < static_cast<int>(m_rules.size()) ? index : -1;
}

int CTuringDlg::SelectedResponse() const
{
    int rule = SelectedRule();
    QListWidgetItem* item = m_responseList->currentItem();
    if (rule < 0 || !item || !item->isSelected())
        return -1;
    int index = item->data(Qt::UserRole).toInt();
    return index >= 0 &&
                   index < static_cast<int>(m_rules[static_cast<size_t>(rule)].Responses.size())
               ? index
               : -1;
}

// `selectIndex`: the rule to select, -2 for the first entry in display order, -1 none.
void CTuringDlg::FillRuleList(int selectIndex)
{
    m_filling = true;
    m_ruleList->clear();
    std::vector<QString> names;
    for (const TuringRule& rule : m_rules)
        names.push_back(FromCp1252(rule.Name));
    for (int index : SortedOrder(names)) {
        auto* item = new QListWidgetItem(names[static_cast<size_t>(index)], m_ruleList);
        item->setData(Qt::UserRole, index);
        if (index == selectIndex)
            m_ruleList->setCurrentItem(item);
    }
    if (selectIndex == -2 && m_ruleList->count() > 0)
        m_ruleList->setCurrentRow(0);
    m_filling = false;
    ShowSelectedRule();
}

void CTuringDlg::EnableRuleControls(bool enable)
{
    for (QWidget* control : std::initializer_list<QWidget*>{
             m_condition, m_responseList, m_newResponse, m_editResponse, m_deleteResponse})
        control->setEnabled(enable);
}

void CTuringDlg::ShowSelectedRule()
{
    int rule = SelectedRule();
    if (rule < 0)
        return;
    EnableRuleControls(true);
    m_filling = true;
    m_condition->setPlainText(ToEditText(m_rules[static_cast<size_t>(rule)].Condition));
    m_filling = false;
    FillResponseList(-1);
}

void CTuringDlg::FillResponseList(int selectIndex)
{
    m_responseList->clear();
    int rule = SelectedRule();
    if (rule < 0)
        return;
    const auto& responses = m_rules[static_cast<size_t>(rule)].Responses;
    std::vector<QString> texts;
    for (const TuringResponse& response : responses)
        texts.push_back(FromCp1252(ResponseDisplayText(response)));
    for (int index : SortedOrder(texts)) {
        auto* item = new QListWidgetItem(texts[static_cast<size_t>(index)], m_responseList);
        item->setData(Qt::UserRole, index);
        item->setToolTip(FromCp1252(responses[static_cast<size_t>(index)].Message));
    }
    m_responseList->setCurrentRow(-1);
    for (int row = 0; row < m_responseList->count(); ++row) {
        if (m_responseList->item(row)->data(Qt::UserRole).toInt() == selectIndex)
            m_responseList->setCurrentRow(row);
    }
}

void CTuringDlg::OnConditionChanged()
{
    int rule = SelectedRule();
    if (m_filling || rule < 0)
        return;
    m_rules[static_cast<size_t>(rule)].Condition = FromEditText(m_condition->toPlainText());
}

void CTuringDlg::OnNewRule()
{
    std::string name;
    if (!m_prompt.InputBox(kNewRuleCaption, kNewRuleLabel, name, kRuleNameLimit, false))
        return;
    TuringRule rule;
    rule.Name = name;
    m_rules.push_back(rule);
    FillRuleList(static_cast<int>(m_rules.size()) - 1);
    m_condition->setFocus();
}

void CTuringDlg::OnDeleteRule()
{
    int rule = SelectedRule();
    if (rule < 0)
        return;
    if (m_prompt.MessageBox(kConfirmDeleteRule, kMessageCaption, PromptButtons::YesNoCancel,
                            PromptIcon::Question) != PromptAnswer::Yes)
        return;
    int position = m_ruleList->currentRow();
    m_rules.erase(m_rules.begin() + rule);
    FillRuleList(-1);
    int next = PositionAfterDelete(position, m_ruleList->count());
    if (next >= 0) {
        m_ruleList->setCurrentRow(next);
        ShowSelectedRule();
    } else {
        m_filling = true;
        m_condition->clear();
        m_filling = false;
        m_responseList->clear();
        EnableRuleControls(false);
    }
    m_ruleList->setFocus();
}

void CTuringDlg::OnNewResponse()
{
    TuringResponse response;
    CResponseDlg dialog(response, true, m_prompt, this);
    if (m_runDialog(dialog) != QDialog::Accepted)
        return;
    int rule = SelectedRule();
    if (rule < 0)
        return;
    m_rules[static_cast<size_t>(rule)].Responses.push_back(response);
    FillResponseList(-1);
}

void CTuringDlg::OnEditResponse()
{
    int rule = SelectedRule();
    int index = SelectedResponse();
    if (rule < 0 || index < 0)
        return;
    TuringResponse& response =
        m_rules[static_cast<size_t>(rule)].Responses[static_cast<size_t>(index)];
    CResponseDlg dialog(response, false, m_prompt, this);
    if (m_runDialog(dialog) != QDialog::Accepted)
        return;
    FillResponseList(index);
}

void CTuringDlg::OnDeleteResponse()
{
    int rule = SelectedRule();
    int index = SelectedResponse();
    if (index < 0)
        return;
    auto& responses = m_rules[static_cast<size_t>(rule)].Responses;
    if (m_responseList->count() == 1) {
        m_prompt.MessageBox(kNoResponse, kMessageCaption, PromptButtons::Ok, PromptIcon::Warning);
        return;
    }
    if (m_prompt.MessageBox(kConfirmDeleteResponse, kMessageCaption, PromptButtons::YesNoCancel,
                            PromptIcon::Question) != PromptAnswer::Yes)
        return;
    int position = m_responseList->currentRow();
    responses.erase(responses.begin() + index);
    FillResponseList(-1);
    m_responseList->setCurrentRow(PositionAfterDelete(position, m_responseList->count()));
}

void CTuringDlg::accept()
{
    RuleCheckResult result;
    if (!ValidateRules(m_rules, result)) {
        FillRuleList(result.RuleIndex);
        if (result.Field == 2) {
            m_responseList->setFocus();
            for (int row = 0; row < m_responseList->count(); ++row) {
                if (m_responseList->item(row)->data(Qt::UserRole).toInt() == result.ResponseIndex)
                    m_responseList->setCurrentRow(row);
            }
        } else if (result.Field == 1) {
            m_condition->setFocus();
        }
        m_prompt.MessageBox(result.Text, kMessageCaption, PromptButtons::Ok, PromptIcon::Warning);
        return;
    }
    SaveTuringRules(m_options, m_rules);
    QDialog::accept();
}

bool CTuringDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_responseList && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        OnDeleteResponse();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
