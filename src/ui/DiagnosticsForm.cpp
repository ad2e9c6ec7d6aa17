#include "DiagnosticsForm.h"

#include <QTextEdit>

#include "base/Log.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "ui/UiTypes.h"

DiagnosticsForm* diagnosticsForm = nullptr;

DiagnosticsForm::DiagnosticsForm(QWidget* parent) : QTabWidget(parent)
{
    diagnosticsForm = this;
    setDocumentMode(true);
}

DiagnosticsForm::~DiagnosticsForm()
{
    SetLogSink(nullptr);
    for (Item* view : g(UiTypes::LogWidget))
        view->Remove();
    if (diagnosticsForm == this)
        diagnosticsForm = nullptr;
}

void DiagnosticsForm::Init()
{
    if (!d.HasType(UiTypes::Log)) {
        Type* log = d.NewType(UiTypes::Log, false, false, true);
        Type* widget = d.NewType(UiTypes::LogWidget, false, false, true);
        log->RelateToType(widget, ONE, ONE, false);
    }
    SetLogSink(this);
}

QTextEdit* DiagnosticsForm::ViewFor(const QString& category) const
{
    ItemPtr log = d.GetType(UiTypes::Log)->HasItem(category.toStdString());
    return ObjectFromItem<QTextEdit>(log[UiTypes::LogWidget]);
}

QTextEdit* DiagnosticsForm::CreateView(const QString& category)
{
    auto* view = new QTextEdit(this);
    view->setReadOnly(true);
    view->setAcceptRichText(true);
    addTab(view, category);
    ItemPtr log = d.GetType(UiTypes::Log)->GetItem(category.toStdString());
    log.Connect(d.GetType(UiTypes::LogWidget)->NewItem(ObjectValue(view)));
    return view;
}

void DiagnosticsForm::Append(const QString& category, const QString& line, ItemPtr)
{
    QTextEdit* view = ViewFor(category);
    if (!view)
        view = CreateView(category);
    view->append(line.toHtmlEscaped());
}
