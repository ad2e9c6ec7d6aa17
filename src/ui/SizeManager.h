#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include "store/ItemPtr.h"

class DataSaver;
class QSplitter;
class QTreeView;
class ResizableWindow;

// Remembers where the user put the main window, how wide the columns of
// each list are and how split views are divided, as saved items in the
// store, so they come back after a restart. Geometry is kept per name: every
// live list or split view registered under one name (each open room form's
// member list, say) is kept in step with the others, and one opened later
// starts with the widths the others have.
//
// Register a widget once it is built and the snapshot is loaded:
//     sizeManager->RegisterTreeWidget("room_user_list", m_members);
//     sizeManager->RegisterSplitter("room_splitter", m_splitter, {600, 200});
class SizeManager : public QObject
{
    Q_OBJECT

public:
    // Declares the geometry types and has `saver` keep them.
    explicit SizeManager(DataSaver& saver, QObject* parent = nullptr);
    ~SizeManager() override;

    void RegisterResizableWindow(const QString& name, ResizableWindow* window);
    void RegisterTreeWidget(const QString& name, QTreeView* list);
    // `defaultSizes` are the pane sizes a name starts with; empty keeps the
    // split view's current sizes.
    void RegisterSplitter(const QString& name, QSplitter* splitter,
                          const QList<int>& defaultSizes = {});

public slots:
    void OnWindowMoved(int x, int y);
    void OnWindowResized(int width, int height);
    void OnTreeColumnResizedMoved(int column, int oldSize, int newSize);
    void OnSplitterMoved(int position, int index);
    void OnTreeDestroyed(QObject* list);
    void OnSplitterDestroyed(QObject* splitter);

private:
    static void DeclareSchema(DataSaver& saver);
    static void SetValue(ItemPtr owner, const char* type, int value);
    static ItemPtr Part(ItemPtr name, const char* partType, const char* numberType, int number);
    static bool SkipsColumn(QTreeView* list, int column);
    static QList<QTreeView*> ListsOf(ItemPtr name);
    static QList<QSplitter*> SplittersOf(ItemPtr name);
    ItemPtr WindowName(QObject* window) const;

    bool m_applying = false;
};

extern SizeManager* sizeManager;
