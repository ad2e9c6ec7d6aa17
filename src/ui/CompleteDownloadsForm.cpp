#include "ui/CompleteDownloadsForm.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/Clock.h"
#include "server/ServerTypes.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "transfers/TransferTypes.h"
#include "ui/CompleteDownloadItem.h"

using namespace TransferTypes;

namespace {
constexpr const char* CompleteDownloadNode = "complete_download_node";

QString Q(ItemPtr item)
{
    return QString::fromStdString(item.AsString());
}
} // namespace

CompleteDownloadsForm::CompleteDownloadsForm(QWidget* parent)
    : QWidget(parent, Qt::Window), m_list(new QTreeWidget(this))
{
    setWindowTitle("Complete Downloads");
    m_list->setObjectName("complete_downloads");
    m_list->setHeaderLabels({"File", "Folder", "User", "Size", "Completion time"});
    m_list->setRootIsDecorated(false);
    // Room for a typical track name until the user sizes the columns.
    m_list->header()->resizeSection(FileColumn, 260);
    m_list->header()->resizeSection(FolderColumn, 160);
    m_list->setSortingEnabled(true);
    m_list->sortByColumn(TimeColumn, Qt::DescendingOrder);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    resize(700, 400);
}

CompleteDownloadsForm::~CompleteDownloadsForm()
{
    RemoveDataHandlers();
    if (Type* nodes = d.HasType(CompleteDownloadNode))
        nodes->GetItems().Remove();
}

void CompleteDownloadsForm::Init()
{
    if (!d.HasType(CompleteDownloadNode)) {
        Type* node = d.NewType(CompleteDownloadNode, false, false, true);
        node->RelateToType(d.GetType(CompleteDownload), ONE, ONE, false);
    }
    AddItemRemovedHandler(this, CompleteDownload, &CompleteDownloadsForm::OnRecordRemoved);
}

void CompleteDownloadsForm::DataLoaded()
{
    for (Item* record : d.GetType(CompleteDownload)->GetItems())
        if (CompleteDownloadItem* row = NewRow(record))
            m_list->addTopLevelItem(row);
    m_list->sortItems(TimeColumn, Qt::DescendingOrder);
}

// A download that just completed is nearly always the newest: it goes on
// top without sorting the whole list again, which every completion of a
// large batch would otherwise do.
void CompleteDownloadsForm::OnCompleteDownloadAdded(ItemPtr record)
{
    CompleteDownloadItem* row = NewRow(record);
    if (!row)
        return;
    const auto* top = static_cast<CompleteDownloadItem*>(m_list->topLevelItem(0));
    if (m_list->header()->sortIndicatorOrder() == Qt::DescendingOrder && (!top || !(*row < *top))) {
        m_list->insertTopLevelItem(0, row);
        return;
    }
    m_list->addTopLevelItem(row);
    m_list->sortItems(TimeColumn, Qt::DescendingOrder);
}

CompleteDownloadItem* CompleteDownloadsForm::NewRow(ItemPtr record)
{
    if (m_rows.count(record))
        return nullptr;
    const QString completed = Q(record[CompleteDownloadCompletionTime]);
    auto* row = new CompleteDownloadItem(
        {Q(record[CompleteDownloadFilename]), Q(record[CompleteDownloadRelativeFolder]),
         Q(record[ServerTypes::User]), Q(record[CompleteDownloadFileSize]), completed},
        Clock::FromText(completed));
    row->setTextAlignment(SizeColumn, Qt::AlignRight);
    m_rows[record] = row;
    record.Connect(d.GetType(CompleteDownloadNode)->GetItem(ObjectValue(row)));
    return row;
}

void CompleteDownloadsForm::OnRecordRemoved(Item* record)
{
    const auto found = m_rows.find(record);
    if (found == m_rows.end())
        return;
    delete found->second;
    m_rows.erase(found);
}
