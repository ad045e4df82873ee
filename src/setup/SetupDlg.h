#pragma once
// The setup dialog (dialog 120, "Zib Tam Setup"): the installation folder and Install, or
// Upgrade with the installed folder fixed when a copy is installed already.
#include "setup/Setup.h"

#include <QDialog>
#include <QIcon>

class QLabel;
class QLineEdit;
class QPushButton;

// The dialog's control ids.
inline constexpr int kSetupDialogId = 120;
inline constexpr int kSetupIconId = 1087;
inline constexpr int kSetupFolderId = 1014;

class CSetupDlg : public QDialog
{
    Q_OBJECT
public:
    CSetupDlg(CSetup& setup, const QIcon& smallIcon, const QIcon& largeIcon,
              QWidget* parent = nullptr);

    QLineEdit* Folder() const { return m_folder; }
    QPushButton* InstallButton() const { return m_install; }
    QPushButton* CancelButton() const { return m_cancel; }

private:
    void OnInstall();

    CSetup& m_setup;
    QLabel* m_icon;
    QLineEdit* m_folder;
    QPushButton* m_install;
    QPushButton* m_cancel;
};

class COptions;
class IPrompt;
class ISystemInfo;

// Start-up's hand-over: runs setup with the arguments after the program name. True when
// setup dealt with this start (install, upgrade, uninstall) and the process is to end.
bool RunSetupAtStart(COptions& options, IPrompt& prompt, const ISystemInfo& system, bool secondary,
                     const std::string& commandLine, const QIcon& icon);
