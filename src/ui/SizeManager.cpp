#include "SizeManager.h"

#include <algorithm>
#include <vector>

#include <QHeaderView>
#include <QSplitter>
#include <QTreeView>

#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/ObjectValue.h"
#include "ui/ResizableWindow.h"
#include "ui/UiTypes.h"

using namespace SizerTypes;

SizeManager* sizeManager = nullptr;

namespace {

// Live widgets are keyed by their QObject address, the one `destroyed`
// hands back.
Value Address(QObject* object)
{
    return ObjectValue(object);
}

// The parts (columns or panes) of a name, in ascending number.
std::vector<Item*> PartsInOrder(ItemPtr name, const char* partType, const char* numberType)
{
    std::vector<Item*> parts;
    for (Item* part : name.GetItems(partType))
        if (part->HasItem(numberType) && part->HasItem(Size))
            parts.push_back(part);
    std::sort(parts.begin(), parts.end(), [numberType](Item* a, Item* b) {
        return a->GetItem(numberType)->AsInt() < b->GetItem(numberType)->AsInt();
    });
    return parts;
}

} // namespace

SizeManager::SizeManager(DataSaver& saver, QObject* parent) : QObject(parent)
{
    sizeManager = this;
    DeclareSchema(saver);
}

SizeManager::~SizeManager()
{
    if (sizeManager == this)
        sizeManager = nullptr;
}

void SizeManager::DeclareSchema(DataSaver& saver)
{
    if (d.HasType(Window))
        return;
    Type* window = d.NewType(Window, true, false, true);
    Type* windowWidget = d.NewType(WindowWidget, true, false, true);
    Type* x = d.NewType(X, false, false, true);
    Type* y = d.NewType(Y, false, false, true);
    Type* width = d.NewType(Width, false, false, true);
    Type* height = d.NewType(Height, false, false, true);
    Type* size = d.NewType(Size, false, false, true);
    Type* tree = d.NewType(Tree, true, false, true);
    Type* treeWidget = d.NewType(TreeWidget, true, false, true);
    Type* columnNumber = d.NewType(TreeColumnNumber, false, false, true);
    Type* column = d.NewType(TreeColumn, false, true, true);
    Type* splitter = d.NewType(Splitter, true, false, true);
    Type* splitterWidget = d.NewType(SplitterWidget, true, false, true);
    Type* indexNumber = d.NewType(SplitterIndexNumber, false, false, true);
    Type* index = d.NewType(SplitterIndex, false, true, true);

    window->RelateToType(windowWidget, ONE, ONE, false);
    for (Type* coordinate : {x, y, width, height})
        window->RelateToType(coordinate, MANY, ONE, false);
    // One name, many live lists: every open room's member list, say.
    tree->RelateToType(treeWidget, ONE, MANY, false);
    column->RelateToType(tree, MANY, ONE, false);
    column->RelateToType(columnNumber, MANY, ONE, false);
    column->RelateToType(size, MANY, ONE, false);
    splitter->RelateToType(splitterWidget, ONE, MANY, false);
    index->RelateToType(splitter, MANY, ONE, false);
    index->RelateToType(indexNumber, MANY, ONE, false);
    index->RelateToType(size, MANY, ONE, false);

    // The live widgets die with the process; everything else is kept.
    for (const char* saved : {Window, X, Y, Width, Height, Size, Tree, TreeColumnNumber, TreeColumn,
                              Splitter, SplitterIndexNumber, SplitterIndex})
        saver.AddSavedType(saved);
}

void SizeManager::SetValue(ItemPtr owner, const char* type, int value)
{
    ItemPtr old = owner[type];
    ItemPtr now = d.GetType(type)->GetItem(value);
    if (old == now)
        return;
    owner.Connect(now);
    // Sizes are shared values; one nobody uses any more is let go at once.
    if (old && old->IsDisconnectedFromAll())
        old.Remove();
}

ItemPtr SizeManager::Part(ItemPtr name, const char* partType, const char* numberType, int number)
{
    ItemPtr numberItem = d.GetType(numberType)->GetItem(number);
    ItemPtr part = d.GetItem(name, numberItem, partType);
    if (!part) {
        part = d.GetType(partType)->NewItem();
        part.Connect(name);
        part.Connect(numberItem);
    }
    return part;
}

void SizeManager::RegisterResizableWindow(const QString& name, ResizableWindow* window)
{
    Type* windowType = d.GetType(Window);
    ItemPtr item = windowType->HasItem(name.toStdString());
    if (item && item[Width] && item[Height]) {
        window->SetPosition(item[X].AsInt(), item[Y].AsInt());
        window->SetSize(item[Width].AsInt(), item[Height].AsInt());
    } else {
        item = windowType->GetItem(name.toStdString());
        SetValue(item, X, window->GetX());
        SetValue(item, Y, window->GetY());
        SetValue(item, Width, window->GetWidth());
        SetValue(item, Height, window->GetHeight());
    }
    item.Connect(d.GetType(WindowWidget)->GetItem(Address(window)));
    connect(window, &ResizableWindow::WindowMoved, this, &SizeManager::OnWindowMoved);
    connect(window, &ResizableWindow::WindowResized, this, &SizeManager::OnWindowResized);
}

ItemPtr SizeManager::WindowName(QObject* window) const
{
    ItemPtr live = d.GetType(WindowWidget)->HasItem(Address(window));
    return live[Window];
}

void SizeManager::OnWindowMoved(int x, int y)
{
    ItemPtr name = WindowName(sender());
    if (!name)
        return;
    SetValue(name, X, x);
    SetValue(name, Y, y);
}

void SizeManager::OnWindowResized(int width, int height)
{
    ItemPtr name = WindowName(sender());
    if (!name)
        return;
    SetValue(name, Width, width);
    SetValue(name, Height, height);
}

bool SizeManager::SkipsColumn(QTreeView* list, int column)
{
    // A stretched last column takes whatever is left: its width is the
    // window's business, not the user's.
    QHeaderView* header = list->header();
    return header->stretchLastSection() && column == header->count() - 1;
}

QList<QTreeView*> SizeManager::ListsOf(ItemPtr name)
{
    QList<QTreeView*> lists;
    for (Item* live : name.GetItems(TreeWidget))
        lists << static_cast<QTreeView*>(ObjectFromItem<QObject>(live));
    return lists;
}

QList<QSplitter*> SizeManager::SplittersOf(ItemPtr name)
{
    QList<QSplitter*> splitters;
    for (Item* live : name.GetItems(SplitterWidget))
        splitters << static_cast<QSplitter*>(ObjectFromItem<QObject>(live));
    return splitters;
}

void SizeManager::RegisterTreeWidget(const QString& name, QTreeView* list)
{
    QHeaderView* header = list->header();
    Type* treeType = d.GetType(Tree);
    ItemPtr item = treeType->HasItem(name.toStdString());
    if (!item) {
        item = treeType->GetItem(name.toStdString());
        for (int column = 0; column < header->count(); ++column)
            if (!SkipsColumn(list, column))
                SetValue(Part(item, TreeColumn, TreeColumnNumber, column), Size,
                         header->sectionSize(column));
    }
    for (Item* column : PartsInOrder(item, TreeColumn, TreeColumnNumber)) {
        const int number = column->GetItem(TreeColumnNumber)->AsInt();
        if (number < header->count() && !SkipsColumn(list, number))
            header->resizeSection(number, column->GetItem(Size)->AsInt());
    }
    item.Connect(d.GetType(TreeWidget)->GetItem(Address(list)));
    connect(header, &QHeaderView::sectionResized, this, &SizeManager::OnTreeColumnResizedMoved);
    connect(list, &QObject::destroyed, this, &SizeManager::OnTreeDestroyed);
}

void SizeManager::OnTreeColumnResizedMoved(int, int, int)
{
    if (m_applying)
        return;
    auto* header = qobject_cast<QHeaderView*>(sender());
    auto* list = header ? qobject_cast<QTreeView*>(header->parent()) : nullptr;
    if (!list)
        return;
    ItemPtr name = d.GetType(TreeWidget)->HasItem(Address(list))[Tree];
    if (!name)
        return;

    m_applying = true;
    const QList<QTreeView*> others = ListsOf(name);
    for (int column = 0; column < header->count(); ++column) {
        if (SkipsColumn(list, column))
            continue;
        const int width = header->sectionSize(column);
        SetValue(Part(name, TreeColumn, TreeColumnNumber, column), Size, width);
        for (QTreeView* other : others)
            if (other != list && column < other->header()->count() && !SkipsColumn(other, column))
                other->header()->resizeSection(column, width);
    }
    m_applying = false;
}

void SizeManager::RegisterSplitter(const QString& name, QSplitter* splitter,
                                   const QList<int>& defaultSizes)
{
    Type* splitterType = d.GetType(Splitter);
    ItemPtr item = splitterType->HasItem(name.toStdString());
    if (item) {
        QList<int> sizes;
        for (Item* pane : PartsInOrder(item, SplitterIndex, SplitterIndexNumber))
            sizes << pane->GetItem(Size)->AsInt();
        splitter->setSizes(sizes);
    } else {
        item = splitterType->GetItem(name.toStdString());
        const QList<int> sizes = defaultSizes.isEmpty() ? splitter->sizes() : defaultSizes;
        for (int index = 0; index < sizes.size(); ++index)
            SetValue(Part(item, SplitterIndex, SplitterIndexNumber, index), Size, sizes[index]);
        // The defaults describe how the view should open the first time, so
        // they are used at once and not only remembered.
        splitter->setSizes(sizes);
    }
    item.Connect(d.GetType(SplitterWidget)->GetItem(Address(splitter)));
    connect(splitter, &QSplitter::splitterMoved, this, &SizeManager::OnSplitterMoved);
    connect(splitter, &QObject::destroyed, this, &SizeManager::OnSplitterDestroyed);
}

void SizeManager::OnSplitterMoved(int, int)
{
    if (m_applying)
        return;
    auto* splitter = qobject_cast<QSplitter*>(sender());
    if (!splitter)
        return;
    ItemPtr name = d.GetType(SplitterWidget)->HasItem(Address(splitter))[Splitter];
    if (!name)
        return;

    m_applying = true;
    const QList<int> sizes = splitter->sizes();
    for (int index = 0; index < sizes.size(); ++index)
        SetValue(Part(name, SplitterIndex, SplitterIndexNumber, index), Size, sizes[index]);
    for (QSplitter* other : SplittersOf(name))
        if (other != splitter)
            other->setSizes(sizes);
    m_applying = false;
}

void SizeManager::OnTreeDestroyed(QObject* list)
{
    if (ItemPtr live = d.GetType(TreeWidget)->HasItem(Address(list)))
        live.Remove();
}

void SizeManager::OnSplitterDestroyed(QObject* splitter)
{
    if (ItemPtr live = d.GetType(SplitterWidget)->HasItem(Address(splitter)))
        live.Remove();
}
