// What the player benchmarks do to the window, as a user does it.
#pragma once

#include <QStringList>

class Form1;

namespace Bench {

// Drops files on the list as a file manager does: through the window, onto List1, and waits
// until the player has read them.
void dropOnList(Form1 &form, const QStringList &paths);
// Runs the event loop until the player behind the window has read what was added.
void waitUntilRead(Form1 &form);
// Empties the list through its pop-up menu's "delete all".
void deleteAll(Form1 &form);

} // namespace Bench
