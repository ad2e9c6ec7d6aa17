#include "SharedFilesRescannedDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

SharedFilesRescannedDialog::SharedFilesRescannedDialog(QWidget* parent)
    : QDialog(parent), m_added(new QLabel(this)), m_removed(new QLabel(this))
{
    setWindowTitle("Shared Files Rescanned");
    setModal(false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SharedFilesRescannedDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_added);
    layout->addWidget(m_removed);
    layout->addWidget(buttons);
}

void SharedFilesRescannedDialog::ShowCounts(int added, int removed)
{
    // The dialog's texts are the program's own and read the same for every count.
    m_added->setText(QString("%1 files added.").arg(added));
    m_removed->setText(QString("%1 files removed.").arg(removed));
    show();
    raise();
    activateWindow();
}
