#pragma once
// The record as lines of text: `set FIELD SLOT VALUE` for a per-slot field,
// `set FIELD VALUE` for any other, by the member's own name. Replay scripts
// set fields this way, and a recording that starts from a battle under way
// writes its record so.

#include <string>

#include "model/Battlefield.h"
#include "script/ScriptLine.h"

namespace kestrel {

// Sets the value a `set` line names. Throws ScriptError for an unknown
// field, a bad slot or a bad value.
void ReadSetLine(Battlefield& bf, const Tokens& tokens);

// A `set` line for every value of the record that is not all zero bits, in
// the record's order; the lines set a zeroed record to `bf`, bit for bit.
std::string WriteSetLines(const Battlefield& bf);

}  // namespace kestrel
