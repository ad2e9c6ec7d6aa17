#pragma once

#include <string>
#include <vector>

#include <QWidget>

#include "store/ItemPtr.h"

class QLineEdit;
class QPoint;
class QTabWidget;
class QTreeWidgetItem;
class SearchResultsTab;
class WishListView;

// The search page: a field to search with, the wish list, and one result
// tab per search. Wish-list searches get a tab only once results arrive,
// and one tab gathers the results of all repetitions of the same entry.
// Closing a tab forgets its searches and their results, so answers that
// come later are dropped on arrival. Downloads are queued from the rows by
// the tool bar or a double click.
class SearchForm : public QWidget
{
    Q_OBJECT

public:
    explicit SearchForm(QWidget* parent = nullptr);
    ~SearchForm() override;

    // Declares the page's store types and follows the server, the peers and
    // the wish list; needs the managers and the loaded store.
    void Init();

    QLineEdit* SearchField() const { return m_searchField; }
    QTabWidget* Tabs() const { return m_tabs; }
    WishListView* WishList() const { return m_wishList; }
    // The tab showing the search with this token; null when it has none.
    SearchResultsTab* TabOf(unsigned int token) const;
    SearchResultsTab* CurrentResultsTab() const;
    // Queues downloads of the results, each from the user who sent it and
    // tied to the text of its search.
    static void Download(const std::vector<Item*>& results);

public slots:
    void OnSearchEntered();
    void OnSearchRequest(unsigned int token, std::string text, bool wishList);
    SearchResultsTab* CreateSearchForm(unsigned int token, const std::string& text, bool wishList);
    void OnUserSearchResults(ItemPtr searchResults);
    void OnTabCloseRequested(int index);
    void OnActionBarTriggered(const std::string& action);
    void OnResultDoubleClicked(QTreeWidgetItem* row, int column);

private slots:
    void OnContextMenu(const QPoint& position);

private:
    static void DeclareSchema();
    void RegisterActions();
    void ShowActionTexts(SearchResultsTab* tab);
    void RunTabAction(SearchResultsTab* tab, const std::string& action);
    void ToggleWishList(SearchResultsTab* tab);
    static SearchResultsTab* TabOfRequest(ItemPtr request);

    QLineEdit* m_searchField;
    QTabWidget* m_tabs;
    WishListView* m_wishList;
    bool m_initialised = false;
};
