#include "ui/SendLaterDlg.h"

#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "sendlater/SendLaterMoment.h"
#include "settings/Options.h"
#include "ui/OptionsHost.h"

#include <QButtonGroup>
#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr char kCaption[] = "Send Message Later";

// A number edit whose arrows stop at its limit but whose typing may go past it, so that
// OK can refuse an out-of-range entry with a message instead of the keys being swallowed.
class CNumberSpin : public QSpinBox
{
public:
    CNumberSpin(int limit, QWidget* parent) : QSpinBox(parent), m_limit(limit)
    {
        setRange(0, 999);
        setAlignment(Qt::AlignRight);
    }
    void stepBy(int steps) override { setValue(std::clamp(value() + steps, 0, m_limit)); }

protected:
    StepEnabled stepEnabled() const override
    {
        StepEnabled enabled = StepNone;
        if (value() > 0)
            enabled |= StepDownEnabled;
        if (value() < m_limit)
            enabled |= StepUpEnabled;
        return enabled;
    }

private:
    int m_limit;
};

QLabel* Label(const char* text, QWidget* parent)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    return label;
}

} // namespace

CSendLaterDlg::CSendLaterDlg(COptions& options, IPrompt& prompt, const IClock& clock,
                             QWidget* parent)
    : QDialog(parent), m_options(options), m_prompt(prompt), m_clock(clock)
{
    setWindowTitle(QString::fromLatin1(kCaption));
    setObjectName(QStringLiteral("sendLaterDlg"));

    auto* group = new QGroupBox(QString::fromLatin1(kCaption), this);
    m_delayOption = new QRadioButton(QStringLiteral("I want to send the message in"), group);
    m_dateOption = new QRadioButton(QStringLiteral("I want to send this message on"), group);
    m_hours = new CNumberSpin(kSendLaterMaxHours, group);
    m_minutes = new CNumberSpin(kSendLaterMaxMinutes, group);
    m_date = new QDateEdit(group);
    m_time = new QTimeEdit(group);

    // Neither option is chosen when the dialog opens; once one is, one stays chosen.
    auto* options_ = new QButtonGroup(this);
    options_->addButton(m_delayOption);
    options_->addButton(m_dateOption);

    m_hours->setValue(std::clamp(options.Get(Opt::SendLaterHours), 0, kSendLaterMaxHours));
    m_minutes->setValue(std::clamp(options.Get(Opt::SendLaterMinutes), 0, kSendLaterMaxMinutes));
    m_hours->setAccessibleName(QStringLiteral("hours"));
    m_minutes->setAccessibleName(QStringLiteral("minutes."));

    // A minute ahead, so that taking the pickers as they come is not refused as past by the
    // time OK is pressed.
    QDateTime start = QDateTime::fromSecsSinceEpoch(clock.Now() + kPickerLeadSeconds);
    m_date->setDisplayFormat(QStringLiteral("dddd, MMMM d, yyyy"));
    m_date->setCalendarPopup(true);
    m_date->setDate(start.date());
    m_date->setAccessibleName(QStringLiteral("Date"));
    m_time->setDisplayFormat(QStringLiteral("h:mm:ss AP"));
    m_time->setTime(start.time());
    m_time->setAccessibleName(QStringLiteral("at"));

    auto* grid = new QGridLayout(group);
    grid->addWidget(m_delayOption, 0, 0, 1, 5);
    auto* delayRow = new QHBoxLayout;
    delayRow->addSpacing(20);
    delayRow->addWidget(m_hours);
    QLabel* hoursLabel = Label("hours", group);
    hoursLabel->setBuddy(m_hours);
    delayRow->addWidget(hoursLabel);
    delayRow->addWidget(m_minutes);
    QLabel* minutesLabel = Label("minutes.", group);
    minutesLabel->setBuddy(m_minutes);
    delayRow->addWidget(minutesLabel);
    delayRow->addStretch();
    grid->addLayout(delayRow, 1, 0, 1, 5);
    grid->addWidget(m_dateOption, 2, 0, 1, 5);
    auto* dateRow = new QHBoxLayout;
    dateRow->addSpacing(20);
    dateRow->addWidget(m_date);
    QLabel* atLabel = Label("at", group);
    atLabel->setBuddy(m_time);
    dateRow->addWidget(atLabel);
    dateRow->addWidget(m_time);
    dateRow->addStretch();
    grid->addLayout(dateRow, 3, 0, 1, 5);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CSendLaterDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSendLaterDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Choosing an option takes the focus to its first control; entering a control chooses
    // its option.
    connect(m_delayOption, &QRadioButton::clicked, this, [this] { m_hours->setFocus(); });
    connect(m_dateOption, &QRadioButton::clicked, this, [this] { m_date->setFocus(); });
    for (QWidget* widget : {static_cast<QWidget*>(m_hours), static_cast<QWidget*>(m_minutes),
                            static_cast<QWidget*>(m_date), static_cast<QWidget*>(m_time)})
        widget->installEventFilter(this);
    m_delayOption->setFocus();
}

bool CSendLaterDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == m_hours || watched == m_minutes)
            Choose(m_delayOption);
        else if (watched == m_date || watched == m_time)
            Choose(m_dateOption);
    }
    return QDialog::eventFilter(watched, event);
}

void CSendLaterDlg::Choose(QRadioButton* option)
{
    if (!option->isChecked())
        option->setChecked(true);
}

void CSendLaterDlg::accept()
{
    SendLaterChoice choice;
    choice.Mode = m_delayOption->isChecked()  ? SendLaterMode::Delay
                  : m_dateOption->isChecked() ? SendLaterMode::Date
                                              : SendLaterMode::None;
    choice.HoursText = m_hours->cleanText().toStdString();
    choice.MinutesText = m_minutes->cleanText().toStdString();
    QDate date = m_date->date();
    QTime time = m_time->time();
    choice.DateValid = date.isValid();
    choice.TimeValid = time.isValid();
    choice.Year = date.year();
    choice.Month = date.month();
    choice.Day = date.day();
    choice.Hour = time.hour();
    choice.Minute = time.minute();
    choice.Second = time.second();

    SendLaterDecision decision = DecideSendLaterMoment(choice, m_clock.Now());
    QWidget* focus = nullptr;
    switch (decision.Verdict) {
    case SendLaterVerdict::NoOption:
        focus = m_delayOption;
        break;
    case SendLaterVerdict::Accept:
        m_moment = decision.Moment;
        if (choice.Mode == SendLaterMode::Delay) {
            m_options.Set(Opt::SendLaterHours, decision.Hours);
            m_options.Set(Opt::SendLaterMinutes, decision.Minutes);
        }
        QDialog::accept();
        return;
    case SendLaterVerdict::HoursNotNumber:
    case SendLaterVerdict::HoursRange:
        focus = m_hours;
        break;
    case SendLaterVerdict::MinutesNotNumber:
    case SendLaterVerdict::MinutesRange:
        focus = m_minutes;
        break;
    case SendLaterVerdict::InvalidDate:
        focus = m_date;
        break;
    case SendLaterVerdict::InvalidTime:
        focus = m_time;
        break;
    case SendLaterVerdict::InThePast:
        break;
    }
    const bool advice = decision.Verdict == SendLaterVerdict::InThePast ||
                        decision.Verdict == SendLaterVerdict::NoOption;
    PromptIcon icon = advice ? PromptIcon::Information : PromptIcon::Warning;
    m_prompt.MessageBox(SendLaterVerdictText(decision.Verdict), "Zib Tam Freeware",
                        PromptButtons::Ok, icon);
    if (focus) {
        focus->setFocus();
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(focus))
            spin->selectAll();
    }
}

bool CSendLaterDlg::Run(std::time_t& moment)
{
    if (RunModal(*this) != QDialog::Accepted)
        return false;
    moment = m_moment;
    return true;
}
