#pragma once

#include <QDialog>

class QLineEdit;

// Asks for a new listening port. The port in use cannot change while peers
// know it, so a new one is stored as pending and taken at the next start.
class ListeningPortDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr const char* InvalidTitle = "Invalid Port Number";
    static constexpr const char* InvalidText = "Port number must be in the range of 1 to 65535.";
    static constexpr const char* UnchangedTitle = "Port Number Not Changed";
    static constexpr const char* UnchangedText = "Port number has not been changed.";
    static constexpr const char* PendingTitle = "Change to Listening Port Pending";
    static constexpr const char* PendingText =
        "Changes to the listening port will take effect after a client restart.";

    explicit ListeningPortDialog(QWidget* parent = nullptr);

public slots:
    void accept() override;

private:
    QLineEdit* m_port;
};
