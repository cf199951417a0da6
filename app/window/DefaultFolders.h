#pragma once
// Where output goes and where the open dialog starts. The program's own folder serves when the user
// may write there (a portable copy); an installed program falls back to the user's folders.
#include <QString>

// The folder of the running executable, without a trailing "/".
QString ProgramFolder();
// True for a folder the program may treat as its own: writable by the user and not one of the
// system's program folders (which root can write too).
bool IsPortableFolder(const QString& folder);
// With a trailing "/".
QString DefaultOutputFolder();
QString DefaultDialogFolder();
