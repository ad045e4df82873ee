#pragma once
// "Send Message Later": the moment to send a message, after a delay in hours and minutes
// or on a date at a time. What OK decides lives in DecideSendLaterMoment; the dialog reads
// its controls, shows the refusal and moves the focus.
#include <QDialog>
#include <ctime>

class COptions;
class IClock;
class IPrompt;
class QDateEdit;
class QRadioButton;
class QSpinBox;
class QTimeEdit;

class CSendLaterDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kDialogId = 119;
    // The date and time pickers start this far ahead of the moment the dialog opens.
    static constexpr int kPickerLeadSeconds = 60;

    CSendLaterDlg(COptions& options, IPrompt& prompt, const IClock& clock,
                  QWidget* parent = nullptr);

    // Runs the dialog; true with the moment when closed with a moment chosen.
    bool Run(std::time_t& moment);
    std::time_t Moment() const { return m_moment; }

    QRadioButton* DelayOption() const { return m_delayOption; }
    QRadioButton* DateOption() const { return m_dateOption; }
    QSpinBox* Hours() const { return m_hours; }
    QSpinBox* Minutes() const { return m_minutes; }
    QDateEdit* DatePicker() const { return m_date; }
    QTimeEdit* TimePicker() const { return m_time; }

public slots:
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Choose(QRadioButton* option);

    COptions& m_options;
    IPrompt& m_prompt;
    const IClock& m_clock;
    QRadioButton* m_delayOption;
    QRadioButton* m_dateOption;
    QSpinBox* m_hours;
    QSpinBox* m_minutes;
    QDateEdit* m_date;
    QTimeEdit* m_time;
    std::time_t m_moment = 0;
};
