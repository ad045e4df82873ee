#include "ui/TuringDlg.h"

#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "settings/Options.h"
#include "ui/Accessible.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr char kMessageCaption[] = "Zib Tam";

// Dialog units to pixels for the list's tab stops: four units to an average character.
int DialogUnitsToPixels(const QWidget* widget, int units)
{
    return units * widget->fontMetrics().averageCharWidth() / 4;
}

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
    // Modal to its own window only: the tray icon and its menu (with Exit) stay usable.
    if (dialog.parentWidget())
        dialog.setWindowModality(Qt::WindowModal);
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
    // The message box holds what the stored message can: a line break is stored as two
    // characters, so it counts two here too. What comes in past the limit is cut from what
    // came in, so typing into a full box never pushes the end of the text out.
    connect(m_message->document(), &QTextDocument::contentsChange, this,
            [this](int position, int, int added) {
                QTextDocument* document = m_message->document();
                int excess = static_cast<int>(FromEditText(m_message->toPlainText()).size()) -
                             kMaxResponseLength;
                if (excess <= 0)
                    return;
                // The document's last character is its closing block end, not text.
                int end = std::min(position + added, document->characterCount() - 1);
                int start = end;
                for (; start > position && excess > 0; --start) {
                    QChar c = document->characterAt(start - 1);
                    excess -= c == QChar::ParagraphSeparator || c == QChar::LineSeparator ||
                                      c == QLatin1Char('\n')
                                  ? 2
                                  : 1;
                }
                QTextCursor cut(document);
                cut.setPosition(start);
                cut.setPosition(end, QTextCursor::KeepAnchor);
                cut.removeSelectedText();
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
    // "to" labels the maximum, which keeps the fuller name "Delay to".
    auto* to = new QLabel(QStringLiteral("to"), this);
    to->setBuddy(m_maxDelay);
    grid->addWidget(to, 0, 2);
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
      m_condition(new QPlainTextEdit(this)), m_responseList(new QTreeWidget(this)),
      m_newResponse(Button(QStringLiteral("Ne&w..."), this)),
      m_editResponse(Button(QStringLiteral("&Edit..."), this)),
      m_deleteResponse(Button(QStringLiteral("De&lete..."), this))
{
    setWindowTitle(QString::fromLatin1(kTuringCaption));
    // A window of its own rather than a dialog over the options: window managers and
    // panels give it a task-bar button and keep it from hiding behind the chat window.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    // The columns of 40 dialog units, widened when a column head would not fit in one.
    const int column =
        std::max(DialogUnitsToPixels(this, 40),
                 fontMetrics().horizontalAdvance(QStringLiteral("Probability")) + 16);
    // The column heads are the list's own header, so a screen reader reads each entry's
    // parts with their heads.
    m_responseList->setHeaderLabels(
        {QStringLiteral("Probability"), QStringLiteral("Delay"), QStringLiteral("Message")});
    m_responseList->setRootIsDecorated(false);
    m_responseList->setUniformRowHeights(true);
    m_responseList->setAllColumnsShowFocus(true);
    m_responseList->setTextElideMode(Qt::ElideRight);
    m_responseList->header()->setSectionsMovable(false);
    m_responseList->header()->setSectionsClickable(false);
    m_responseList->header()->setStretchLastSection(true);
    m_responseList->setColumnWidth(0, column);
    m_responseList->setColumnWidth(1, column);
    m_responseList->installEventFilter(this);
    m_condition->setTabStopDistance(DialogUnitsToPixels(this, 6));
    m_condition->setTabChangesFocus(true);

    // Each list under the label that names it (its buddy): a screen reader reads the name,
    // the mnemonic reaches the list.
    auto* left = new QVBoxLayout;
    left->addWidget(BuddyLabel(QStringLiteral("&Rules"), m_ruleList, this));
    left->addWidget(m_ruleList, 1);
    auto* ruleButtons = new QHBoxLayout;
    ruleButtons->addWidget(m_newRule);
    ruleButtons->addWidget(m_deleteRule);
    left->addLayout(ruleButtons);

    auto* right = new QVBoxLayout;
    right->addWidget(BuddyLabel(QStringLiteral("&Condition:"), m_condition, this));
    right->addWidget(m_condition, 1);
    right->addSpacing(6);
    right->addWidget(BuddyLabel(QStringLiteral("&Responses"), m_responseList, this));
    right->addWidget(m_responseList, 2);
    auto* responseButtons = new QHBoxLayout;
    responseButtons->addWidget(m_newResponse);
    responseButtons->addWidget(m_editResponse);
    responseButtons->addWidget(m_deleteResponse);
    responseButtons->addStretch(1);
    right->addLayout(responseButtons);

    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 2);
    columns->addSpacing(6);
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
    connect(m_responseList, &QTreeWidget::itemDoubleClicked, this, &CTuringDlg::OnEditResponse);
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
    QTreeWidgetItem* item = m_responseList->currentItem();
    if (rule < 0 || !item || !item->isSelected())
        return -1;
    int index = item->data(0, Qt::UserRole).toInt();
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
        // Probability, delay, message: the message takes what follows the second tab.
        const QString& text = texts[static_cast<size_t>(index)];
        int first = text.indexOf(QLatin1Char('\t'));
        int second = text.indexOf(QLatin1Char('\t'), first + 1);
        QString message = text.mid(second + 1);
        message.replace(QLatin1Char('\n'), QLatin1Char(' ')).remove(QLatin1Char('\r'));
        auto* item = new QTreeWidgetItem(
            m_responseList, {text.left(first), text.mid(first + 1, second - first - 1), message});
        item->setData(0, Qt::UserRole, index);
        item->setToolTip(2, ToEditText(responses[static_cast<size_t>(index)].Message));
    }
    m_responseList->setCurrentItem(nullptr);
    SelectResponse(selectIndex);
}

void CTuringDlg::SelectResponse(int index)
{
    for (int row = 0; row < m_responseList->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = m_responseList->topLevelItem(row);
        if (item->data(0, Qt::UserRole).toInt() == index)
            m_responseList->setCurrentItem(item);
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
    if (m_responseList->topLevelItemCount() == 1) {
        m_prompt.MessageBox(kNoResponse, kMessageCaption, PromptButtons::Ok, PromptIcon::Warning);
        return;
    }
    if (m_prompt.MessageBox(kConfirmDeleteResponse, kMessageCaption, PromptButtons::YesNoCancel,
                            PromptIcon::Question) != PromptAnswer::Yes)
        return;
    int position = m_responseList->indexOfTopLevelItem(m_responseList->currentItem());
    responses.erase(responses.begin() + index);
    FillResponseList(-1);
    int next = PositionAfterDelete(position, m_responseList->topLevelItemCount());
    if (next >= 0)
        m_responseList->setCurrentItem(m_responseList->topLevelItem(next));
}

void CTuringDlg::accept()
{
    RuleCheckResult result;
    if (!ValidateRules(m_rules, result)) {
        FillRuleList(result.RuleIndex);
        if (result.Field == 2) {
            m_responseList->setFocus();
            SelectResponse(result.ResponseIndex);
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
