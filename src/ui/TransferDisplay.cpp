#include "ui/TransferDisplay.h"

#include <algorithm>

#include "base/TextUtils.h"

namespace TransferDisplay {

namespace {
bool Any(const std::vector<std::string>& statuses, const char* status)
{
    return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
}
} // namespace

QString AggregateStatus(const std::vector<std::string>& statuses, const char* running)
{
    if (Any(statuses, running))
        return running;
    if (Any(statuses, "queued"))
        return "queued";
    if (!statuses.empty() && std::all_of(statuses.begin(), statuses.end(),
                                         [](const std::string& s) { return s == "complete"; }))
        return "complete";
    for (const char* failed : {"denied", "aborted"})
        if (Any(statuses, failed))
            return failed;
    return QString();
}

QString TimeLeftText(qint64 remainingBytes, qint64 bytesPerSecond)
{
    const qint64 t = bytesPerSecond > 0 ? std::max<qint64>(remainingBytes, 0) / bytesPerSecond : 0;
    QString text = "   ";
    if (t > 3599)
        text += QString("%1h:").arg(t / 3600);
    if (t > 59)
        text += QString("%1m:").arg((t / 60) % 60);
    return text + QString("%1s").arg(t % 60);
}

int ProgressPercent(qint64 done, qint64 total)
{
    return total > 0 ? static_cast<int>(100 * done / total) : 0;
}

QString ProgressText(qint64 done, qint64 total)
{
    const double percent = total > 0 ? 100.0 * static_cast<double>(done) / total : 0.0;
    return QString("%1 (%2%)").arg(CommafyNumber(done)).arg(percent, 0, 'f', 1);
}

QString SpeedText(qint64 bytesPerSecond)
{
    return QString::number(static_cast<double>(bytesPerSecond) / 1024.0, 'f', 1);
}

QColor StatusColour(const QString& status)
{
    if (status == "complete")
        return QColor(0, 128, 0);
    if (status == "downloading" || status == "uploading" || status == "connecting")
        return QColor(0, 0, 192);
    if (status == "queued")
        return QColor(128, 96, 0);
    if (status == "denied" || status == "aborted" || status == "local error")
        return QColor(192, 0, 0);
    return QColor();
}

} // namespace TransferDisplay
