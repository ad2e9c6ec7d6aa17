#include "NodeCommand.h"

QString NodeCommand::NameOf(const QString& line)
{
    return line.trimmed().section(' ', 0, 0, QString::SectionSkipEmpty).toLower();
}

bool NodeCommand::Parse(const QString& line, int words, bool restOfLine, NodeCommand& out)
{
    QString rest = line.trimmed();
    out.name = NameOf(rest);
    out.arguments.clear();
    rest = rest.mid(rest.indexOf(out.name, 0, Qt::CaseInsensitive) + out.name.size());
    for (int n = 0; n < words; ++n) {
        rest = rest.trimmed();
        if (rest.isEmpty())
            return false;
        if (restOfLine && n == words - 1) {
            out.arguments << rest;
            break;
        }
        const int space = rest.indexOf(' ');
        out.arguments << (space < 0 ? rest : rest.left(space));
        rest = space < 0 ? QString() : rest.mid(space);
    }
    return true;
}
