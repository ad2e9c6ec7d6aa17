#include "ui/ChatView.h"

#include "base/TextUtils.h"

ChatView::ChatView(QWidget* parent) : QTextBrowser(parent)
{
    setReadOnly(true);
    setOpenExternalLinks(true);
}

QString ChatView::ChatLine(const QString& user, const QString& text)
{
    return ConvertLinks("[<font color=\"blue\">" + EscapeHTML(user) + "</font>] " +
                        EscapeHTML(text));
}

QString ChatView::StatusLine(const QString& text)
{
    return ConvertLinks("* <font color=\"green\">" + EscapeHTML(text) + "</font>");
}

void ChatView::AddLine(const QString& html)
{
    append(html);
}

QString ChatView::TrimmedHistory(const QString& html)
{
    const qsizetype lineEnd = html.indexOf('\n', HistoryCut);
    if (lineEnd < 0)
        return QString();
    return html.mid(lineEnd + 1);
}

void ChatView::AddLineWithinLimit(const QString& html)
{
    const QString history = toHtml();
    if (history.size() <= HistoryLimit) {
        append(html);
        return;
    }
    // Rebuilding a long document flickers; the view is redrawn once, with
    // the new line already in it.
    setUpdatesEnabled(false);
    const QString kept = TrimmedHistory(history);
    clear();
    setHtml(kept);
    append(html);
    setUpdatesEnabled(true);
}
