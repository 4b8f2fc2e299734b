// The folder that holds the hand-over socket and the single-instance lock. Whoever can enter
// it can hand this user's player files, or read the names handed to it, or hold the lock so
// that the user's own start is refused: so it must be a folder no other user can enter. A
// shared folder such as /tmp, or the working folder, never is.
#pragma once

#include <QString>

namespace kelpa {

// True when path is an absolute name of a real folder (not a link to one) owned by this
// process's user, with no access at all for the group or others.
bool IsPrivateFolder(const QString &path);

// runtimeDir when it is private; else sharedTemp + "/kelpa-UID", made with mode 0700 when
// missing and used only when it is private then. Empty when neither is: a folder that someone
// else made first is never used.
QString ChoosePrivateFolder(const QString &runtimeDir, const QString &sharedTemp);

// ChoosePrivateFolder over the desktop's runtime folder and the system's temporary folder.
// When it is empty the program takes no files from later starts and refuses no second copy,
// and says so in one line on stderr.
QString PrivateFolder();

} // namespace kelpa
