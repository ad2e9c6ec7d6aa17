#pragma once

#include <QTabWidget>

#include "base/LogSink.h"
#include "store/DataHandler.h"

class QTextEdit;

// The diagnostics view: one read-only tab per log category, created the
// first time the category logs. The store remembers which view belongs to
// which category through a "log" item and its "log_widget" item.
class DiagnosticsForm : public QTabWidget, public LogSink, public DataHandler
{
    Q_OBJECT

public:
    explicit DiagnosticsForm(QWidget* parent = nullptr);
    ~DiagnosticsForm() override;

    // Declares the view's store types (once per process) and becomes the
    // receiver of every log line.
    void Init();

    void Append(const QString& category, const QString& line, ItemPtr item) override;

    // The view of a category, or null when it has not logged yet.
    QTextEdit* ViewFor(const QString& category) const;

private:
    QTextEdit* CreateView(const QString& category);
};

extern DiagnosticsForm* diagnosticsForm;
