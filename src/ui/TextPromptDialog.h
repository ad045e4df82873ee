#pragma once
// The program's one-line input box (dialog 112): a label, one edit, OK and Cancel.
// OK is enabled only while the trimmed text is not empty; typed tabs become blanks. A
// masked box (a password) gives its text back as typed, blanks at the ends included.
#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

// Turns tabs in the edit into blanks, caret and selection staying where they were.
void ReplaceTabsKeepingCaret(QLineEdit* edit);

class CTextPromptDialog : public QDialog
{
    Q_OBJECT
public:
    CTextPromptDialog(const QString& caption, const QString& label, const QString& text,
                      int maxLength, bool masked, QWidget* parent = nullptr);

    // The text as it is now; after OK it is trimmed at both ends unless masked.
    QString text() const;
    QLineEdit* edit() const { return m_edit; }
    void accept() override;

private:
    void OnTextEdited(const QString& text);

    QLabel* m_label;
    QLineEdit* m_edit;
    QDialogButtonBox* m_buttons;
    bool m_masked;
};
