// What libX11 keeps of the requests sent through it, given back while the program runs.
//
// Qt reads the display's events through xcb itself, and sets a window title's old-style
// WM_NAME through Xlib (XSetWMName). In that mode libX11 records every request it sends
// (24 bytes each) and lets a record go only when it next waits for a reply, which nothing in
// Qt ever makes it do: a caption that changes twice per web request, and the track title at
// each change of track, would hold memory for the whole run. A round trip through Xlib
// (XSync) lets it go of them all.
#pragma once

class QObject;

// From now on, a window title change is followed by such a round trip, at most one a second
// (so the records of one second at most are kept). Nothing on a platform other than X11.
void ReleaseXlibRequestsAfterTitleChanges(QObject *owner);
