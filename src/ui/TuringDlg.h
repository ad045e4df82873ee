#pragma once
// The rule editor "Zib Tam Turing Technology" and its response dialog. The editor works
// on its own copy of the stored rules and stores it only when OK finds every rule sound;
// both list boxes are sorted by their text and reach their data through item indexes.
#include "turing/RuleChecks.h"
#include "ui/OptionsHost.h"

#include <QAbstractSpinBox>
#include <QDialog>
#include <vector>

class COptions;
class IPrompt;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

// An edit with up-down arrows: the text is free (OK checks it), the arrows step the number
// in it within the range and say so.
class CNumberSpin : public QAbstractSpinBox
{
    Q_OBJECT
public:
    CNumberSpin(int minimum, int maximum, QWidget* parent = nullptr);
    void SetValue(int value);
    void SetText(const QString& text); // as if typed
    // The number shown, or `fallback` when the text holds none.
    int Value(int fallback = 0) const;
    void stepBy(int steps) override;

signals:
    void stepped(int value);

protected:
    StepEnabled stepEnabled() const override;

private:
    int m_minimum, m_maximum;
};

class CResponseDlg : public QDialog
{
    Q_OBJECT
public:
    // Works on `response`, written only when OK finds the fields sound.
    CResponseDlg(TuringResponse& response, bool isNew, IPrompt& prompt, QWidget* parent = nullptr);

    CNumberSpin* MinDelayEdit() const { return m_minDelay; }
    CNumberSpin* MaxDelayEdit() const { return m_maxDelay; }
    CNumberSpin* ProbabilityEdit() const { return m_probability; }
    QPlainTextEdit* MessageEdit() const { return m_message; }
    void accept() override;

private:
    TuringResponse& m_response;
    IPrompt& m_prompt;
    CNumberSpin* m_minDelay;
    CNumberSpin* m_maxDelay;
    CNumberSpin* m_probability;
    QPlainTextEdit* m_message;
};

class CTuringDlg : public QDialog
{
    Q_OBJECT
public:
    CTuringDlg(COptions& options, IPrompt& prompt, DialogRunner runDialog,
               QWidget* parent = nullptr);

    const std::vector<TuringRule>& Rules() const { return m_rules; }
    QListWidget* RuleList() const { return m_ruleList; }
    // Probability, delay and message in three columns under their heads.
    QTreeWidget* ResponseList() const { return m_responseList; }
    QPlainTextEdit* ConditionEdit() const { return m_condition; }

    void OnNewRule();
    void OnDeleteRule();
    void OnNewResponse();
    void OnEditResponse();
    void OnDeleteResponse();
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int SelectedRule() const;     // index into m_rules, or -1
    int SelectedResponse() const; // index into the rule's responses, or -1
    void FillRuleList(int selectIndex);
    void ShowSelectedRule();
    void FillResponseList(int selectIndex);
    void SelectResponse(int index); // the entry of that response, if any
    void EnableRuleControls(bool enable);
    void OnConditionChanged();

    COptions& m_options;
    IPrompt& m_prompt;
    DialogRunner m_runDialog;
    std::vector<TuringRule> m_rules;
    QListWidget* m_ruleList;
    QPushButton* m_newRule;
    QPushButton* m_deleteRule;
    QPlainTextEdit* m_condition;
    QTreeWidget* m_responseList;
    QPushButton* m_newResponse;
    QPushButton* m_editResponse;
    QPushButton* m_deleteResponse;
    bool m_filling = false;
};

// List entries in the order a sorted list box shows them: by text without regard to
// case, equal texts in the order given. Returns the indexes into `texts`.
std::vector<int> SortedOrder(const std::vector<QString>& texts);
