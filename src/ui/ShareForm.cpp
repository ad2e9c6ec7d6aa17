#include "ui/ShareForm.h"

#include <algorithm>
#include <deque>
#include <unordered_map>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/StartUp.h"
#include "base/PathUtils.h"
#include "base/Settings.h"
#include "base/TextUtils.h"
#include "server/ServerTypes.h"
#include "sharing/FileItemDisplay.h"
#include "sharing/SharingTypes.h"
#include "store/Data.h"
#include "store/ObjectValue.h"
#include "transfers/TransferQueueManager.h"
#include "ui/ActionSetToolBar.h"
#include "ui/ShareViewTypes.h"
#include "ui/UserMenuOptions.h"

using namespace SharingTypes;
using namespace ShareViewTypes;

namespace {
constexpr int ItemRole = Qt::UserRole;
constexpr int SortRole = Qt::UserRole + 1;

// Sizes sort as numbers, everything else as text. The keys are kept as
// plain members: a big folder sorts with millions of comparisons, and
// reading them back through the row's data costs more than comparing.
class FileRow : public QTreeWidgetItem
{
public:
    FileRow(const QString& name, long long size, const QString& attributes)
        : m_name(name), m_size(size), m_attributes(attributes)
    {
        setText(ShareForm::FileColumn, name);
        setText(ShareForm::SizeColumn, CommafyNumber(size));
        setTextAlignment(ShareForm::SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        setText(ShareForm::AttributesColumn, attributes);
    }

    bool operator<(const QTreeWidgetItem& item) const override
    {
        const auto& other = static_cast<const FileRow&>(item);
        switch (treeWidget() ? treeWidget()->header()->sortIndicatorSection() : 0) {
        case ShareForm::SizeColumn:
            return m_size < other.m_size;
        case ShareForm::AttributesColumn:
            return m_attributes.compare(other.m_attributes, Qt::CaseInsensitive) < 0;
        default:
            return m_name.compare(other.m_name, Qt::CaseInsensitive) < 0;
        }
    }

private:
    QString m_name;
    long long m_size;
    QString m_attributes;
};

Item* ItemOf(QTreeWidgetItem* row)
{
    return row ? reinterpret_cast<Item*>(row->data(0, ItemRole).value<quintptr>()) : nullptr;
}

void Tie(QTreeWidgetItem* row, Item* item)
{
    row->setData(0, ItemRole, QVariant::fromValue(reinterpret_cast<quintptr>(item)));
}

QTreeWidget* NewList(const char* name, QWidget* parent)
{
    auto* list = new QTreeWidget(parent);
    list->setObjectName(name);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    list->setUniformRowHeights(true);
    return list;
}
} // namespace

ShareForm::ShareForm(Item* share, QWidget* parent)
    : QWidget(parent), m_share(share), m_filter(new QLineEdit(this)), m_summary(new QLabel(this)),
      m_folders(NewList("share_folders", this)), m_files(NewList("share_files", this)),
      m_fileSlicer(new QTimer(this)), m_folderIcon(":/icons/share_folder_icon")
{
    m_user = m_share[ServerTypes::User].AsString();
    m_tabItem = d.GetType(UserShareTab)->GetItem(ObjectValue(this));
    m_share.Connect(m_tabItem);

    SetUpWidgets();
    LayOut();
    ConnectWidgets();

    ReadListing();
    MakeRows(m_tops, nullptr);
    ShowSummary();
    if (Settings::IsYes("expand_new_shares"))
        ExpandAll();
    if (!m_tops.empty())
        m_folders->setCurrentItem(m_table[m_tops.front()].row);
    setFocusProxy(m_folders);

    RegisterActions();
}

void ShareForm::SetUpWidgets()
{
    m_filter->setObjectName("share_filter");
    m_filter->setPlaceholderText("Filter: words to find, -words to leave out");
    m_filter->setClearButtonEnabled(true);
    m_summary->setObjectName("share_summary");
    m_folders->setHeaderLabels({"Folder", "Files"});
    m_folders->header()->setStretchLastSection(false);
    m_folders->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    // Fitting columns to their contents measures every row on every change,
    // which a big listing cannot afford.
    m_folders->header()->setSectionResizeMode(1, QHeaderView::Fixed);
    m_folders->header()->resizeSection(1, 60);
    m_files->setHeaderLabels({"File", "Size", "Attributes"});
    m_files->setRootIsDecorated(false);
    // The list sorts by hand: Qt's own sorting would sort a long list again
    // after every slice, where rows put in already in order need none.
    m_files->header()->setSectionsClickable(true);
    m_files->header()->setSortIndicatorShown(true);
    m_files->header()->setSortIndicator(FileColumn, Qt::AscendingOrder);
    connect(m_files->header(), &QHeaderView::sortIndicatorChanged, this,
            [this](int column, Qt::SortOrder order) { m_files->sortItems(column, order); });
    m_files->header()->setStretchLastSection(false);
    m_files->header()->setSectionResizeMode(FileColumn, QHeaderView::Stretch);
    m_files->header()->resizeSection(SizeColumn, 110);
    m_files->header()->resizeSection(AttributesColumn, 130);
}

void ShareForm::LayOut()
{
    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_folders);
    splitter->addWidget(m_files);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);
    auto* top = new QHBoxLayout;
    top->addWidget(m_filter, 1);
    top->addWidget(m_summary);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(splitter, 1);
}

void ShareForm::ConnectWidgets()
{
    connect(m_folders, &QTreeWidget::currentItemChanged, this, &ShareForm::OnCurrentItemChanged);
    connect(m_folders, &QTreeWidget::itemExpanded, this, &ShareForm::OnFolderExpanded);
    connect(m_folders, &QWidget::customContextMenuRequested, this, &ShareForm::OnFolderContextMenu);
    connect(m_files, &QWidget::customContextMenuRequested, this, &ShareForm::OnFileContextMenu);
    connect(m_files, &QTreeWidget::itemDoubleClicked, this, [this] { DownloadSelectedFiles(); });
    connect(m_filter, &QLineEdit::textChanged, this, &ShareForm::OnFilterTextChanged);
    m_fileSlicer->setSingleShot(true);
    m_fileSlicer->setInterval(0);
    connect(m_fileSlicer, &QTimer::timeout, this, &ShareForm::AddFileSlice);
}

void ShareForm::RegisterActions()
{
    if (!actionBar)
        return;
    // The form itself shows the folder commands too, so that they are
    // there while the filter has the focus.
    for (QWidget* widget : {static_cast<QWidget*>(this), static_cast<QWidget*>(m_folders),
                            static_cast<QWidget*>(m_files)}) {
        actionBar->RegisterWidget(widget,
                                  widget == m_files ? "user_share_files" : "user_share_folders");
        actionBar->AddWidgetKey(widget, "user", QString::fromStdString(m_user));
    }
    connect(this, &ShareForm::ExpandLevelTextChanged, this, [this](const QString& text) {
        actionBar->SetWidgetActionText(m_folders, "expand_level", text);
        actionBar->SetWidgetActionText(this, "expand_level", text);
    });
}

ShareForm::~ShareForm()
{
    if (g_showIsOver)
        return;
    // Rows are items of ours; the listing they point into is the sharing
    // manager's and may already be gone.
    ItemSet nodes;
    for (const std::vector<Item*>* list : {&m_folderNodes, &m_fileNodes})
        for (Item* node : *list)
            nodes.insert(node);
    nodes.insert(m_tabItem);
    d.RemoveItems(nodes);
}

void ShareForm::ReadListing()
{
    const ItemSet folders = m_share.GetItems(UserShareFolder);
    Type* fileType = d.GetType(UserShareFile);
    Type* sizeType = d.GetType(UserShareFileSize);
    m_table.reserve(folders.size());
    std::unordered_map<Item*, int> index;
    for (Item* item : folders) {
        index.emplace(item, static_cast<int>(m_table.size()));
        Folder folder;
        folder.item = item;
        // Read in place and by type: a listing may hold a hundred thousand
        // files, and this runs while the tab opens.
        if (const ItemSet* files = item->Partners(fileType)) {
            folder.fileCount = static_cast<int>(files->size());
            for (Item* file : *files)
                if (Item* size = file->HasItem(sizeType))
                    m_totalSize += size->AsInt64();
        }
        m_totalFiles += folder.fileCount;
        m_table.push_back(std::move(folder));
    }
    for (std::size_t i = 0; i < m_table.size(); ++i) {
        ItemPtr folder(m_table[i].item);
        const std::string path = folder[UserShareFolderName].AsString();
        ItemPtr parent = folder[UserShareFolderParent][UserShareFolderChild][UserShareFolder];
        const auto found = parent ? index.find(parent) : index.end();
        if (found == index.end()) {
            m_table[i].name = QString::fromStdString(path);
            m_tops.push_back(static_cast<int>(i));
        } else {
            m_table[i].name = QString::fromStdString(GetFileName(path));
            m_table[i].parent = found->second;
            m_table[found->second].children.push_back(static_cast<int>(i));
        }
    }
    // Depths top down; a listing's folder links cannot form a cycle, since
    // each folder names its parent by a shorter path.
    std::deque<int> queue(m_tops.begin(), m_tops.end());
    while (!queue.empty()) {
        Folder& folder = m_table[queue.front()];
        queue.pop_front();
        if (folder.parent >= 0)
            folder.depth = m_table[folder.parent].depth + 1;
        m_deepest = std::max(m_deepest, folder.depth);
        SortChildren(folder.children);
        queue.insert(queue.end(), folder.children.begin(), folder.children.end());
    }
    SortChildren(m_tops);
}

void ShareForm::SortChildren(std::vector<int>& children) const
{
    std::sort(children.begin(), children.end(), [this](int a, int b) {
        return m_table[a].name.compare(m_table[b].name, Qt::CaseInsensitive) < 0;
    });
}

QTreeWidgetItem* ShareForm::MakeRow(int index)
{
    Folder& folder = m_table[index];
    auto* row = new QTreeWidgetItem;
    row->setText(0, folder.name);
    row->setIcon(0, m_folderIcon);
    // Folders that only hold folders show no count, so the eye finds the
    // ones with files.
    if (folder.fileCount > 0)
        row->setText(1, QString::number(folder.fileCount));
    row->setData(0, SortRole, index);
    Tie(row, folder.item);
    if (!folder.children.empty())
        row->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    folder.row = row;
    folder.rowHidden = false;
    ItemPtr node = d.GetType(UserShareFolderNode)->GetItem(ObjectValue(row));
    node.Connect(folder.item);
    m_folderNodes.push_back(node);
    return row;
}

void ShareForm::MakeRows(const std::vector<int>& folders, QTreeWidgetItem* parentRow)
{
    // Made apart and handed over in one go: a row put into a showing tree
    // on its own costs the tree a relayout each time.
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(folders.size()));
    for (int folder : folders)
        rows.append(MakeRow(folder));
    if (parentRow)
        parentRow->addChildren(rows);
    else
        m_folders->addTopLevelItems(rows);
    // Hiding takes only once a row is in its tree.
    for (int folder : folders)
        ShowRowState(m_table[folder]);
}

void ShareForm::MakeChildRows(int index)
{
    Folder& folder = m_table[index];
    if (folder.childRowsMade || !folder.row)
        return;
    folder.childRowsMade = true;
    MakeRows(folder.children, folder.row);
}

void ShareForm::MakeAllRows()
{
    // Parents come before their children in this walk, so every parent has
    // its row when its children are made.
    std::deque<int> queue(m_tops.begin(), m_tops.end());
    while (!queue.empty()) {
        const int index = queue.front();
        queue.pop_front();
        MakeChildRows(index);
        queue.insert(queue.end(), m_table[index].children.begin(), m_table[index].children.end());
    }
}

void ShareForm::OnFolderExpanded(QTreeWidgetItem* row)
{
    const int index = FolderIndexOfRow(row);
    if (index >= 0)
        MakeChildRows(index);
}

int ShareForm::FolderIndexOfRow(QTreeWidgetItem* row) const
{
    if (!row || row->treeWidget() != m_folders)
        return -1;
    return row->data(0, SortRole).toInt();
}

ItemPtr ShareForm::FolderOfRow(QTreeWidgetItem* row) const
{
    const int index = FolderIndexOfRow(row);
    return index >= 0 ? m_table[index].item : nullptr;
}

QTreeWidgetItem* ShareForm::FolderRow(const std::string& path)
{
    for (std::size_t i = 0; i < m_table.size(); ++i) {
        if (ItemPtr(m_table[i].item)[UserShareFolderName].AsString() != path)
            continue;
        std::vector<int> chain;
        for (int up = m_table[i].parent; up >= 0; up = m_table[up].parent)
            chain.push_back(up);
        for (auto it = chain.rbegin(); it != chain.rend(); ++it)
            MakeChildRows(*it);
        return m_table[i].row;
    }
    return nullptr;
}

void ShareForm::OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem*)
{
    const int index = FolderIndexOfRow(current);
    if (index < 0)
        ClearFiles();
    else
        FillFiles(index);
}

void ShareForm::ClearFiles()
{
    m_shownFolder = -1;
    m_pendingFiles.clear();
    m_nextFile = 0;
    m_fileSlicer->stop();
    ItemSet nodes;
    for (Item* node : m_fileNodes)
        nodes.insert(node);
    m_fileNodes.clear();
    d.RemoveItems(nodes);
    m_files->clear();
}

void ShareForm::FillFiles(int index)
{
    ClearFiles();
    m_shownFolder = index;
    const Folder& folder = m_table[index];
    struct Entry
    {
        QString name;
        long long size;
        Item* item;
    };
    std::vector<Entry> files;
    files.reserve(folder.fileCount);
    for (Item* item : ItemPtr(folder.item).GetItems(UserShareFile)) {
        QString name = QString::fromStdString(ItemPtr(item)[UserShareFileName].AsString());
        if (!m_filtering || folder.remaining.IsMatching(name) == FilterParser::Matching)
            files.push_back({std::move(name), ItemPtr(item)[UserShareFileSize].AsInt64(), item});
    }
    // Rows go in already in the list's order (the attribute column sorts
    // by name here and once more at the end), so a long list reads right
    // while it fills.
    const int column = m_files->header()->sortIndicatorSection();
    const bool descending = m_files->header()->sortIndicatorOrder() == Qt::DescendingOrder;
    std::stable_sort(files.begin(), files.end(), [&](const Entry& a, const Entry& b) {
        const Entry& x = descending ? b : a;
        const Entry& y = descending ? a : b;
        if (column == SizeColumn)
            return x.size < y.size;
        return x.name.compare(y.name, Qt::CaseInsensitive) < 0;
    });
    m_pendingFiles.reserve(files.size());
    for (const Entry& file : files)
        m_pendingFiles.push_back(file.item);
    AddFileSlice();
}

void ShareForm::AddFileSlice()
{
    Type* nodeType = d.GetType(UserShareFileNode);
    const std::size_t end = std::min(m_pendingFiles.size(), m_nextFile + FileSliceRows);
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(end - m_nextFile));
    for (; m_nextFile < end; ++m_nextFile) {
        ItemPtr file = m_pendingFiles[m_nextFile];
        auto* row =
            new FileRow(QString::fromStdString(file[UserShareFileName].AsString()),
                        file[UserShareFileSize].AsInt64(),
                        QString::fromStdString(FileItemDisplay::GetFileItemDisplayString(file)));
        Tie(row, file);
        ItemPtr node = nodeType->GetItem(ObjectValue(static_cast<QTreeWidgetItem*>(row)));
        node.Connect(file);
        m_fileNodes.push_back(node);
        rows.append(row);
    }
    m_files->addTopLevelItems(rows);
    if (m_nextFile < m_pendingFiles.size()) {
        m_fileSlicer->start();
        return;
    }
    m_pendingFiles.clear();
    m_nextFile = 0;
    if (m_files->header()->sortIndicatorSection() == AttributesColumn)
        m_files->sortItems(AttributesColumn, m_files->header()->sortIndicatorOrder());
}

const QStringList& ShareForm::FileNames(int index)
{
    if (m_fileNames.empty()) {
        m_fileNames.resize(m_table.size());
        for (std::size_t i = 0; i < m_table.size(); ++i)
            for (Item* file : ItemPtr(m_table[i].item).GetItems(UserShareFile))
                m_fileNames[i] << QString::fromStdString(
                    ItemPtr(file)[UserShareFileName].AsString());
    }
    return m_fileNames[index];
}

void ShareForm::OnFilterTextChanged(const QString& text)
{
    FilterParser parser;
    parser.Parse(text);
    m_filtering = !parser.IsEmpty();
    if (m_filtering)
        for (int top : m_tops)
            FilterFolderNode(top, parser);
    for (Folder& folder : m_table)
        ShowRowState(folder);

    bool currentHidden = false;
    for (int up = m_shownFolder; up >= 0; up = m_table[up].parent)
        currentHidden = currentHidden || (m_filtering && m_table[up].hidden);
    if (currentHidden)
        ClearFiles();
    else if (m_shownFolder >= 0)
        FillFiles(m_shownFolder);
}

void ShareForm::ShowRowState(Folder& folder)
{
    // Hiding a row costs the list a relayout even when nothing changes.
    const bool hidden = m_filtering && folder.hidden;
    if (folder.row && hidden != folder.rowHidden) {
        folder.row->setHidden(hidden);
        folder.rowHidden = hidden;
    }
}

bool ShareForm::FilterFolderNode(int index, const FilterParser& parser)
{
    // Words the folder's own name satisfies need not turn up again below it;
    // an excluded word in the name drops the whole branch.
    FilterParser remaining;
    const int result = parser.IsMatching(m_table[index].name, &remaining);
    m_table[index].remaining = remaining;
    if (result == FilterParser::TermExcluded) {
        m_table[index].hidden = true;
        return false;
    }
    bool visible = false;
    for (const QString& name : FileNames(index)) {
        if (remaining.IsMatching(name) == FilterParser::Matching) {
            visible = true;
            break;
        }
    }
    // Every child is judged, visible or not, so that its row is right when
    // it is opened later.
    for (int child : m_table[index].children)
        visible = FilterFolderNode(child, remaining) || visible;
    m_table[index].hidden = !visible;
    return visible;
}

void ShareForm::ExpandAll()
{
    MakeAllRows();
    m_folders->expandAll();
    SetExpandDepth(0);
}

void ShareForm::CollapseAll()
{
    m_folders->collapseAll();
    SetExpandDepth(0);
}

void ShareForm::ExpandLevel()
{
    const int depth = std::max(m_expandDepth, 1);
    std::deque<int> queue(m_tops.begin(), m_tops.end());
    while (!queue.empty()) {
        const int index = queue.front();
        queue.pop_front();
        if (m_table[index].depth > depth)
            continue;
        MakeChildRows(index);
        m_table[index].row->setExpanded(true);
        queue.insert(queue.end(), m_table[index].children.begin(), m_table[index].children.end());
    }
    SetExpandDepth(std::min(depth + 1, std::max(m_deepest, 1)));
}

void ShareForm::SetExpandDepth(int depth)
{
    // 0 means "not counting": after Expand All or Collapse All the next
    // Expand Level starts again from the top folders.
    m_expandDepth = depth;
    emit ExpandLevelTextChanged(ExpandLevelButtonText());
}

QString ShareForm::ExpandLevelButtonText() const
{
    return m_expandDepth > 0 ? QString(ExpandLevelDepthText).arg(m_expandDepth)
                             : QString(ExpandLevelText);
}

void ShareForm::QueueFile(ItemPtr file, const std::string& folderName, int level)
{
    const std::string name = file[UserShareFileName].AsString();
    // An entry its sender left empty names nothing the sender could send.
    if (name.empty() || !transferQueueManager)
        return;
    transferQueueManager->AddDownload(m_user, name, folderName, file[UserShareFileSize].AsInt64(),
                                      level);
    ++m_queued;
}

void ShareForm::DownloadFolder(ItemPtr folder, bool below)
{
    if (!folder)
        return;
    const std::string folderName = folder[UserShareFolderName].AsString();
    for (Item* file : folder.GetItems(UserShareFile))
        QueueFile(file, folderName, below ? 1 : 0);
    for (Item* link : folder.GetItems(UserShareFolderChild))
        DownloadFolder(ItemPtr(link)[UserShareFolderParent][UserShareFolder], true);
}

void ShareForm::DownloadSelectedFolders()
{
    m_queued = 0;
    for (QTreeWidgetItem* row : m_folders->selectedItems())
        DownloadFolder(FolderOfRow(row), false);
    emit DownloadsQueued(m_queued);
}

void ShareForm::DownloadSelectedFiles()
{
    if (m_shownFolder < 0)
        return;
    m_queued = 0;
    const std::string folderName =
        ItemPtr(m_table[m_shownFolder].item)[UserShareFolderName].AsString();
    for (QTreeWidgetItem* row : m_files->selectedItems())
        QueueFile(ItemOf(row), folderName, 0);
    emit DownloadsQueued(m_queued);
}

void ShareForm::OnActionBarTriggered(const std::string& action)
{
    if (action == "download_share_file")
        DownloadSelectedFiles();
    else if (action == "download_share_folder")
        DownloadSelectedFolders();
    else if (action == "expand_all")
        ExpandAll();
    else if (action == "collapse_all")
        CollapseAll();
    else if (action == "expand_level")
        ExpandLevel();
}

void ShareForm::OnFolderContextMenu(const QPoint& position)
{
    QMenu menu(this);
    if (m_folders->itemAt(position)) {
        menu.addAction(QIcon(":/icons/download_icon"), "Download folder", this,
                       &ShareForm::DownloadSelectedFolders);
        menu.addSeparator();
    }
    menu.addAction("Expand all", this, &ShareForm::ExpandAll);
    menu.addAction("Collapse all", this, &ShareForm::CollapseAll);
    new UserMenuOptions(&menu, m_user, &menu);
    menu.exec(m_folders->viewport()->mapToGlobal(position));
}

void ShareForm::OnFileContextMenu(const QPoint& position)
{
    QMenu menu(this);
    if (m_files->itemAt(position))
        menu.addAction(QIcon(":/icons/download_icon"),
                       m_files->selectedItems().size() > 1 ? "Download files" : "Download file",
                       this, &ShareForm::DownloadSelectedFiles);
    new UserMenuOptions(&menu, m_user, &menu);
    menu.exec(m_files->viewport()->mapToGlobal(position));
}

void ShareForm::ShowSummary()
{
    m_summary->setText(QString("%1 files, %2 bytes in %3 folders")
                           .arg(CommafyNumber(m_totalFiles), CommafyNumber(m_totalSize),
                                CommafyNumber(static_cast<long long>(m_table.size()))));
}
