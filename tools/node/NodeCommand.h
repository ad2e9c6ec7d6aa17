#pragma once

#include <QString>
#include <QStringList>

// One line of input split into a command word and its arguments. A command
// takes a fixed number of words; the last argument of commands that carry a
// text ("say ROOM TEXT") is the rest of the line, spaces included.
struct NodeCommand
{
    QString name;
    QStringList arguments;

    // Splits `line` for a command that takes `words` arguments, the last of
    // which keeps the rest of the line when `restOfLine` is set. False when
    // the line has too few words.
    static bool Parse(const QString& line, int words, bool restOfLine, NodeCommand& out);
    // The first word of a line, lower-cased; empty for a blank line.
    static QString NameOf(const QString& line);
};
