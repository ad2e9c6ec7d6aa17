#pragma once

#include <string>

#include <QObject>

class ItemPtr;
class SharedFoldersManager;

// Walks the shared folders and brings the index in the store in line with
// what is on disk.
class ShareScanner : public QObject
{
    Q_OBJECT

public:
    explicit ShareScanner(SharedFoldersManager& manager);

    // Every root again; counts start from zero and Finished reports them.
    void RescanAll();
    // One directory and everything below it, as part of a root.
    void ScanFolder(const std::string& directory, const std::string& rootPath);
    bool IsBusy() const;
    // Runs the event loop until no scan is left.
    void Wait();

    static void Tokenize(ItemPtr file);
    static bool IsSearchTokenSeparator(unsigned char c);

signals:
    void Progress(int folders, int files);
    void Finished(int added, int removed);

private:
    SharedFoldersManager& m_manager;
};
