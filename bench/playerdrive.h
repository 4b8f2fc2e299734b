// What the player benchmarks do to the window, as a user does it.
#pragma once

#include <QStringList>

class Form1;

namespace Bench {

// Drops files on the list as a file manager does: through the window, onto List1.
void dropOnList(Form1 &form, const QStringList &paths);
// Empties the list through its pop-up menu's "delete all".
void deleteAll(Form1 &form);

} // namespace Bench
