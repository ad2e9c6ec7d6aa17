#pragma once

#include <QString>

// Remote folder and file names become components of paths below the
// download folder. Whatever a peer sends, the result must name something
// inside that folder: these helpers turn any remote name into a component
// that cannot climb out of it, and leave every ordinary name exactly as it
// is so the layout on disk matches what the user sees in the views.
//
// A name is used unchanged unless it is empty, "." or "..", holds "/", "\",
// a control character or an unpaired surrogate, starts like a drive ("C:"),
// is longer than MaxLocalComponentBytes in UTF-8, or already holds what
// looks like an escape ("%" and two hex digits). Such a name is spelt with
// the offending characters and every "%" written as "%" plus two upper-case
// hex digits, so no two remote names share a local spelling and no escaped
// spelling equals an unchanged name. An over-long spelling is cut at a
// whole character and ends in "%" and sixteen hex digits of its SHA-256.

constexpr int MaxLocalComponentBytes = 255;

// One remote name as a single local path component.
QString SafeLocalComponent(const QString& remoteName);

// The last (level + 1) components of a backslash-separated remote folder,
// outermost first, each made safe and joined by "\" (the separator local
// paths are built with before they reach the file system). One trailing
// backslash is ignored; empty components in between are kept (spelt
// safely). Empty for an empty remote folder.
QString SafeRelativeFolder(const QString& remoteFolder, int level);
