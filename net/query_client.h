// The query client: the client manager thread, which owns the life of the slot table (start requests,
// removals, the stop-all and restart of a move, and name resolution, begun on threads of its own: every
// 120 s while a slot is unresolved, every 60 s while a named server does not answer), one poll thread
// per configured slot that queries its server about once a second, and the details text of a slot.
#pragma once

namespace tarvelon {

// Starts the client manager and marks every configured slot for starting (State 1 when Enabled, else
// 2). The manager runs until the process ends; later calls do nothing.
void startQueryClient();

// Seven lines about a slot, for the "Network Server Details" box. A static buffer, for the
// user-interface thread only.
const char16_t* slotDetailsText(int slot);

}  // namespace tarvelon
