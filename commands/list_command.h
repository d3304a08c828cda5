// The list command: every listable account as a JSON array, with its full
// name and every address that reaches it.
#pragma once

#include "commands/body_pieces.h"
#include "userlib/settings.h"

// The JSON body that answers list; false when it cannot be given: the user
// library lacks what list asks of it or cannot start a search, the group
// names cannot be read, or the body outgrows what an answer can carry.
bool BuildListAnswer(BodyPieces& body);

// False for the mail server's reserved system accounts ("Velmora@..."); with
// groups configured, true only for a member of one of them.
bool IsListed(const char* address, const GroupNameList& groups);
