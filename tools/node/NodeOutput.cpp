#include "NodeOutput.h"

#include <cstdio>

namespace NodeOutput {

void Print(const QStringList& fields)
{
    QStringList clean;
    clean.reserve(fields.size());
    for (QString field : fields) {
        field.replace('\t', ' ').replace('\n', ' ').replace('\r', ' ');
        clean << field;
    }
    const QByteArray line = clean.join('\t').toUtf8() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

} // namespace NodeOutput
