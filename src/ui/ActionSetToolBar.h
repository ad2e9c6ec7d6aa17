#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include <QList>
#include <QPointer>
#include <QString>
#include <QToolBar>
#include <QUrl>

#include "store/DataHandler.h"
#include "store/ItemPtr.h"

class QAction;
class QPushButton;
class QTabWidget;
class QTreeView;

// The window's one tool bar. Its buttons follow the keyboard focus: a list
// or form registers itself with a named set of actions, and whenever the
// focus moves the bar shows the set of the focused widget or of its nearest
// registered ancestor. Pressing a button fills in the context the command
// needs (fixed keys of the widget, columns of the selected row) and emits
// the action's id; whoever owns the set carries it out and reads the context
// with GetKey. Sets, keys and context are items in the store, so a form
// declares its commands as data. At the right end sits the privileges
// button, which opens the account web page.
class ActionSetToolBar : public QToolBar, public DataHandler
{
    Q_OBJECT

public:
    static constexpr const char* SupportText = "Support Quorvale!";
    static constexpr const char* DaysLeftText = "%1 Days Left";
    static constexpr const char* AccountPage = "https://www.quorvale.net/qtlogin.php";

    explicit ActionSetToolBar(QWidget* parent = nullptr);
    ~ActionSetToolBar() override;

    // Follows the privileges the server reports; needs the server connection.
    void ConnectServer();

    void AddSetAction(const std::string& set, const std::string& id, const std::string& text,
                      const std::string& icon, bool needsListSelection);
    // One row of a table of actions, so that a form declares its sets as
    // a table it can read line by line.
    struct SetActionRow
    {
        const char* set;
        const char* id;
        const char* text;
        bool needsListSelection;
        const char* icon;
    };
    void AddSetActions(std::initializer_list<SetActionRow> rows);
    void RegisterWidget(QWidget* widget, const QString& set);
    void AddWidgetKey(QWidget* widget, const QString& key, const QString& value);
    void AddWidgetColumnKey(QWidget* widget, const QString& key, int column);
    void SetWidgetActionText(QWidget* widget, const QString& id, const QString& text);
    // The current value of a context key; empty when unset.
    QString GetKey(const QString& key) const;
    // Show no set.
    void Clear();

    // When the tab widget's page changes, the focus moves into the new page
    // so that the bar follows tab changes.
    static void AutoFocusTabWidget(QTabWidget* tabs);

    // The set shown and the widget it was shown for.
    const QString& CurrentSet() const { return m_set; }
    QWidget* CurrentWidget() const { return m_widget; }
    QPushButton* PrivilegesButton() const { return m_privileges; }
    // "Support Quorvale!" with no privileges left, else the nearest whole
    // number of days.
    static QString PrivilegesText(long long secondsLeft);
    static QUrl AccountPageUrl(const QString& username);
    // How the account page is opened; tests replace the desktop browser.
    void SetUrlOpener(std::function<void(const QUrl&)> opener) { m_openUrl = std::move(opener); }
    // Gives the current page of tabs its natural widget's focus, as
    // switching to the page does; for the page that is already showing.
    static void FocusCurrentPage(QTabWidget* tabs);

signals:
    void ActionTriggered(std::string id);

public slots:
    void UpdatePrivilegesButton();

private slots:
    void OnApplicationFocusChanged(QWidget* old, QWidget* now);
    void OnActionTriggered(bool checked);
    void OnPrivilegesClicked();
    void OnWidgetDestroyed(QObject* widget);

private:
    static void DeclareSchema();
    void KeepHeightOfActionButtons();
    static QWidget* FocusTarget(QWidget* page);
    static ItemPtr WidgetItem(QWidget* widget);
    void ChangeSet(QWidget* widget, const QString& set);
    void ClearAndDeleteActions();
    QString ButtonText(ItemPtr widget, ItemPtr action) const;
    bool FillColumnKeys(ItemPtr widget, ItemPtr action);
    static void SetActiveKey(const std::string& key, const std::string& value);

    QPointer<QWidget> m_widget;
    QPointer<QTreeView> m_focusedList;
    QString m_set;
    std::uint64_t m_order = 0;
    bool m_inFocusChange = false;
    QPushButton* m_privileges;
    QAction* m_spacer;
    QList<QAction*> m_actions;
    std::function<void(const QUrl&)> m_openUrl;
};

extern ActionSetToolBar* actionBar;
