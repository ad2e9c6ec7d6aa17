#pragma once

#include <string>

#include <QString>

#include "base/Log.h"
#include "base/LogCategory.h"
#include "store/Data.h"
#include "store/ItemPtr.h"

// Small helpers the parts of the transfer manager share: its log lines and
// look-ups that must not create the item they look for.
namespace TransferLogging {

inline QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

inline void TransferLog(int level, const QString& text, ItemPtr item = ItemPtr())
{
    Log(LogCategory::TransferQueue, level, text, item);
}

inline ItemPtr ExistingItem(const char* typeName, const std::string& value)
{
    return d.GetType(typeName)->HasItem(value);
}

} // namespace TransferLogging
