// The result views of a server window: dialogs the user opens with a command (whois, channel
// list, who, links, access, properties, ban and exception lists, silence list). While one is open
// the replies that feed it are consumed by it; otherwise they are shown as text. Opening asks the
// front end; a front end without views (stdio, headless) refuses, and no view is ever open there.
#pragma once

#include "ui/frontend.h"

namespace vanta::dispatch {

using ResultView = ui::FrontEnd::ResultView;

// Opens a view of the server window (any thread). `for_deny`: the whois view was opened to deny a
// user, so the end of the whois fills its ban-mask lists. False when the window is not a server
// window or the front end has no such view.
bool OpenView(int server_window, ResultView view, bool for_deny = false);
// Closes the view's feed: its replies are shown as text again.
void CloseView(int server_window, ResultView view);
bool ViewOpen(int server_window, ResultView view);
// Rows added since the channel-list or who view was last emptied.
int ViewRows(int server_window, ResultView view);

}  // namespace vanta::dispatch
