// Which accounts the list command shows.
#pragma once

#include "userlib/settings.h"

// False for the mail server's reserved system accounts ("Velmora@..."); with
// groups configured, true only for a member of one of them.
bool IsListed(const char* address, const GroupNameList& groups);
