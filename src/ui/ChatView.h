#pragma once

#include <QString>
#include <QTextBrowser>

// The read-only rich-text view of a room or a private chat. Every line is
// built here, so names and texts from the network are always escaped before
// they reach the view and addresses in them become links.
class ChatView : public QTextBrowser
{
    Q_OBJECT

public:
    // A room's history is trimmed once its HTML grows past this many
    // characters, by at least HistoryCut characters at a time.
    static constexpr int HistoryLimit = 250000;
    static constexpr int HistoryCut = 50000;

    explicit ChatView(QWidget* parent = nullptr);

    // "[user] text" with the name in blue.
    static QString ChatLine(const QString& user, const QString& text);
    // "* text" in green, for what happens to a room.
    static QString StatusLine(const QString& text);

    void AddLine(const QString& html);
    // The same, but first drops the oldest part of a history that has grown
    // past HistoryLimit.
    void AddLineWithinLimit(const QString& html);

    // The HTML left after cutting the oldest part: the first HistoryCut
    // characters and the rest of the line they end in.
    static QString TrimmedHistory(const QString& html);
};
