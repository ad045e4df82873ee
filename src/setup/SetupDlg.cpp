#include "setup/SetupDlg.h"

#include "platform/Identity.h"
#include "platform/InstanceGuard.h"
#include "platform/SystemInfo.h"
#include "setup/LinuxSetupSystem.h"
#include "setup/SetupHost.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CSetupDlg::CSetupDlg(CSetup& setup, const QIcon& smallIcon, const QIcon& largeIcon, QWidget* parent)
    : QDialog(parent), m_setup(setup), m_icon(new QLabel(this)), m_folder(new QLineEdit(this)),
      m_install(new QPushButton(QStringLiteral("&Install"), this)),
      m_cancel(new QPushButton(QStringLiteral("Cancel"), this))
{
    setWindowTitle(QString::fromLatin1(kSetupCaption));
    if (!largeIcon.isNull()) {
        setWindowIcon(largeIcon);
        m_icon->setPixmap(largeIcon.pixmap(32, 32));
    } else if (!smallIcon.isNull()) {
        setWindowIcon(smallIcon);
    }
    m_icon->setAccessibleName(QStringLiteral("Zib Tam"));
    m_icon->setProperty("controlId", kSetupIconId);
    m_folder->setProperty("controlId", kSetupFolderId);

    auto* label = new QLabel(QString::fromLatin1(kFolderPrompt), this);
    label->setBuddy(m_folder);
    m_folder->setAccessibleName(label->text());
    m_install->setDefault(true);

    if (m_setup.IsUpgrade()) {
        m_folder->setText(QFile::decodeName(m_setup.InstalledFolder().c_str()));
        m_folder->setReadOnly(true);
        m_install->setText(QStringLiteral("&Upgrade"));
    } else {
        m_folder->setText(QFile::decodeName(m_setup.Host().GetDefaultFolder().c_str()));
    }
    m_install->setAccessibleName(m_install->text().remove(QLatin1Char('&')));
    m_cancel->setAccessibleName(m_cancel->text());

    auto* top = new QHBoxLayout;
    top->addWidget(m_icon, 0, Qt::AlignTop);
    auto* fields = new QVBoxLayout;
    fields->addWidget(label);
    fields->addWidget(m_folder);
    top->addLayout(fields, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_install);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    resize(460, sizeHint().height());

    connect(m_install, &QPushButton::clicked, this, &CSetupDlg::OnInstall);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CSetupDlg::OnInstall()
{
    // A failure was shown already; the dialog stays for another folder or Cancel.
    if (m_setup.InstallTo(QFile::encodeName(m_folder->text()).toStdString()))
        accept();
}

namespace {

// The path the program was started under: the kind and setup mode follow its file name.
std::string StartedAsPath(const ISystemInfo& system)
{
    QString first = QCoreApplication::arguments().value(0);
    if (first.contains(QLatin1Char('/')))
        return QFile::encodeName(QFileInfo(first).absoluteFilePath()).toStdString();
    return system.ExecutablePath();
}

} // namespace

bool RunSetupAtStart(COptions& options, IPrompt& prompt, const ISystemInfo& system, bool secondary,
                     const std::string& commandLine, const QIcon& icon)
{
    std::string startedAs = StartedAsPath(system);
    SetupFolders folders = SetupFolders::FromEnvironment(startedAs);
    const InstanceIdentity& identity = InstanceIdentity::For(secondary);
    CAppSetupHost host(options, prompt, system, nullptr, secondary, folders, [&identity] {
        for (InstanceMode mode : {InstanceMode::Chat, InstanceMode::LogViewer})
            CInstanceGuard(identity, mode).CloseRunningInstance(1000);
    });
    // The program's own icon, drawn from the resources the program carries.
    QString programIcon = secondary ? QStringLiteral(":/icons/app-secondary.svg")
                                    : QStringLiteral(":/icons/app-primary.svg");
    CLinuxSetupSystem setupSystem(startedAs, system.ExecutablePath(), folders.Applications,
                                  programIcon);
    CSetup setup(host, setupSystem, prompt);
    return setup.Run(commandLine, [&] {
        CSetupDlg dialog(setup, icon, icon);
        dialog.exec();
    });
}
