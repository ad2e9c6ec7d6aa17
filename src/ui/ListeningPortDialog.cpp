#include "ListeningPortDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>

#include "base/Settings.h"

ListeningPortDialog::ListeningPortDialog(QWidget* parent)
    : QDialog(parent), m_port(new QLineEdit(this))
{
    setWindowTitle("Change Listening Port");
    const std::string pending = Settings::Get("new_listening_port");
    m_port->setText(
        QString::fromStdString(pending.empty() ? Settings::Get("listening_port") : pending));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ListeningPortDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ListeningPortDialog::reject);
    auto* layout = new QFormLayout(this);
    layout->addRow("Listening port:", m_port);
    layout->addRow(buttons);
}

void ListeningPortDialog::accept()
{
    bool isNumber = false;
    const int port = m_port->text().trimmed().toInt(&isNumber, 10);
    if (!isNumber || port < 1 || port > 65535) {
        QMessageBox::information(this, InvalidTitle, InvalidText, QMessageBox::Ok);
        return;
    }
    if (port == Settings::GetInt("listening_port", 0)) {
        QMessageBox::information(this, UnchangedTitle, UnchangedText, QMessageBox::Ok);
        reject();
        return;
    }
    QDialog::accept();
    Settings::Set("new_listening_port", port);
    QMessageBox::information(parentWidget(), PendingTitle, PendingText, QMessageBox::Ok);
}
