#pragma once
// "About Zib Tam 2.5": the product's credits, read from the RTF resource with the build
// date in place of "[release]", in a read-only view that scrolls by key but shows no caret
// and no selection.
#include <QDialog>
#include <string>

class QTextBrowser;

// The About text with every "[release]" replaced by `buildDate`.
std::string AboutText(const std::string& rtf, const std::string& buildDate);
// The RTF resource of the About box as stored (Windows-1252 bytes).
std::string AboutResource();

class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kDialogId = 110;
    static constexpr int kTextId = 1008;

    // `rtf` is the About text before the build date goes in.
    explicit CAboutDlg(const std::string& rtf, const std::string& buildDate,
                       QWidget* parent = nullptr);
    QTextBrowser* TextView() const { return m_text; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTextBrowser* m_text;
};
