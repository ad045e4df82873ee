#include "ui/WidgetPrompt.h"

#include "platform/QtText.h"
#include "ui/OptionsHost.h"
#include "ui/TextPromptDialog.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QSpacerItem>

QWidget* CWidgetPrompt::Owner() const
{
    // Over an open dialog of the window, the box belongs to that dialog, so that it blocks
    // the dialog too.
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return m_parent;
}

namespace {

// A box whose text is wider than half the screen wraps it at that width, which leaves the
// end of a line the text breaks itself alone on a line of its own. Where the text's own
// lines fit on the screen, the box is made as wide as they need; a text of one paragraph
// is wrapped by the box as usual.
void KeepOwnLines(QMessageBox& box)
{
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!label || !grid || !label->text().contains(QLatin1Char('\n')))
        return;
    label->setWordWrap(false);
    grid->activate();
    const int natural = grid->totalMinimumSize().width();
    const int room = box.screen()->availableGeometry().width() * 9 / 10;
    if (natural > room)
        return; // wrapped by the box
    grid->addItem(new QSpacerItem(natural, 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

} // namespace

PromptAnswer CWidgetPrompt::MessageBox(const std::string& text, const std::string& caption,
                                       PromptButtons buttons, PromptIcon icon)
{
    QMessageBox box(Owner());
    box.setWindowTitle(FromCp1252(caption));
    box.setText(FromCp1252(text));
    switch (icon) {
    case PromptIcon::None:
        break;
    case PromptIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case PromptIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case PromptIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case PromptIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    switch (buttons) {
    case PromptButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case PromptButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case PromptButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case PromptButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    KeepOwnLines(box);
    switch (RunModal(box)) {
    case QMessageBox::Yes:
        return PromptAnswer::Yes;
    case QMessageBox::No:
        return PromptAnswer::No;
    case QMessageBox::Ok:
        return PromptAnswer::Ok;
    default:
        return PromptAnswer::Cancel;
    }
}

bool CWidgetPrompt::InputBox(const std::string& title, const std::string& prompt, std::string& text,
                             int maxLength, bool masked)
{
    CTextPromptDialog dialog(FromCp1252(title), FromCp1252(prompt), FromCp1252(text), maxLength,
                             masked, Owner());
    bool ok = RunModal(dialog) == QDialog::Accepted;
    text = masked ? ToCp1252Password(dialog.text()) : ToCp1252(dialog.text());
    return ok;
}
