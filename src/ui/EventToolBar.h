#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>
#include <QToolBar>

class QAction;

// Collects the events the user has not looked at yet (private messages, for
// now): one button per widget with news, which brings that widget forward.
// While the window is inactive, the application icon blinks through the
// icons of the events that arrived meanwhile, one every AlertInterval, with
// the connection icon after the last, until the user comes back.
class EventToolBar : public QToolBar
{
    Q_OBJECT

public:
    static constexpr int AlertInterval = 2000;

    explicit EventToolBar(QWidget* parent = nullptr);
    ~EventToolBar() override;

    // Adds an event about the widget unless it already has one; the
    // widget's destruction removes it.
    void AddEvent(const QString& text, const QString& icon, QWidget* widget);
    void RemoveEvent(QObject* widget);
    QAction* EventAction(QObject* widget) const;

    // The icons the alert steps through, in order of arrival.
    const QStringList& AlertIcons() const { return m_icons; }
    bool IsAlerting() const { return m_alertTimer.isActive(); }

signals:
    // The application icon should show `icon` for now.
    void AlertIconShown(const QString& icon);
    // The application icon should show the connection state again.
    void AlertIconCleared();

public slots:
    void OnActionTriggered();
    void OnIconAlertTimeout();
    void OnApplicationFocusChanged(QWidget* old, QWidget* now);
    void OnWidgetDestroyed(QObject* widget);

private:
    QStringList m_icons;
    int m_cycle = 0;
    QTimer m_alertTimer;
};

extern EventToolBar* eventToolBar;
