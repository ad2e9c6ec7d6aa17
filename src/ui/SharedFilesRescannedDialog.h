#pragma once

#include <QDialog>

class QLabel;

// Tells how a rescan of the shares changed the index. It stays out of the
// way: not modal, and a later rescan updates the one already shown.
class SharedFilesRescannedDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SharedFilesRescannedDialog(QWidget* parent = nullptr);

    void ShowCounts(int added, int removed);

private:
    QLabel* m_added;
    QLabel* m_removed;
};
