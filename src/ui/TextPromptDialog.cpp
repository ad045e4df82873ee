#include "ui/TextPromptDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CTextPromptDialog::CTextPromptDialog(const QString& caption, const QString& label,
                                     const QString& text, int maxLength, bool masked,
                                     QWidget* parent)
    : QDialog(parent), m_label(new QLabel(label + QLatin1Char(':'), this)),
      m_edit(new QLineEdit(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)),
      m_masked(masked)
{
    setWindowTitle(caption);
    // Wide enough that the window manager can show the whole title beside its buttons
    // (a title bar's font is often larger than ours, and bold).
    setMinimumWidth(qMax(320, fontMetrics().horizontalAdvance(caption) * 3 / 2 + 160));
    m_edit->setMaxLength(maxLength);
    if (masked)
        m_edit->setEchoMode(QLineEdit::Password);
    m_label->setBuddy(m_edit);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    layout->addWidget(m_edit);
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_edit, &QLineEdit::textChanged, this, &CTextPromptDialog::OnTextEdited);
    m_edit->setText(text);
    OnTextEdited(m_edit->text());
    m_edit->selectAll();
}

QString CTextPromptDialog::text() const
{
    return m_edit->text();
}

namespace {

// What OK would give back: a password as typed, any other text trimmed.
QString Answer(const QString& text, bool masked)
{
    return masked ? text : text.trimmed();
}

} // namespace

void CTextPromptDialog::accept()
{
    QString answer = Answer(m_edit->text(), m_masked);
    if (answer.isEmpty())
        return;
    m_edit->setText(answer);
    QDialog::accept();
}

void ReplaceTabsKeepingCaret(QLineEdit* edit)
{
    QString text = edit->text();
    if (!text.contains(QLatin1Char('\t')))
        return;
    int cursor = edit->cursorPosition();
    int start = edit->selectionStart();
    int length = edit->selectionLength();
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    edit->setText(text);
    if (start >= 0)
        edit->setSelection(start, length);
    else
        edit->setCursorPosition(cursor);
}

void CTextPromptDialog::OnTextEdited(const QString&)
{
    ReplaceTabsKeepingCaret(m_edit);
    m_buttons->button(QDialogButtonBox::Ok)
        ->setEnabled(!Answer(m_edit->text(), m_masked).isEmpty());
}
