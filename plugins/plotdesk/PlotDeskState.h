#pragma once
// What a diagram keeps in its profile entry, so that a scheme opened again
// shows what the operator left: every trace (its kind, name, colour,
// channel, reference level and scale, its filters' settings), the points
// of memory traces, the operands and operation of math traces, the
// reference position and the selected trace. It is one element "diagram"
// with a version; the scheme's own parameters build the traces only when
// no such element is there.
//
// Reading trusts nothing: a value that is missing or no number takes its
// default, a trace of an unknown kind, a channel the scheme no longer has
// or an operand that is not there is left out, and each of these is named
// in `problems` for one message. A state of another version is not read.
#include <libxml/tree.h>

#include <string>
#include <vector>

namespace plotdesk {

class CDiagramArea;

constexpr int kDiagramStateVersion = 1;
// The most traces a state may bring (each trace rebuilds the markers).
constexpr size_t kMaxStateTraces = 64;
// The most points of a memory trace (as many as a channel's sweep).
constexpr size_t kMaxStatePoints = size_t{1} << 24;

// Appends the element "diagram" to `element`.
void SaveDiagramState(const CDiagramArea& area, xmlNode* element);

enum class EStateRead { Absent, Read, Refused };
// Replaces the area's traces by those of `element`'s child "diagram".
// Absent (nothing changed) when there is none; Refused (nothing changed,
// a problem named) when it is of another version.
EStateRead RestoreDiagramState(CDiagramArea& area, xmlNode* element, std::vector<std::string>& problems);

// The one message for what a state could not give ("" when nothing).
std::string StateProblemsText(const std::vector<std::string>& problems);

}  // namespace plotdesk
