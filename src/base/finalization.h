// The ordered list of procedures that run when the process ends: pairs of an order number
// and a procedure, kept in ascending order; at exit they run from the last pair to the
// first, so the highest numbers (and pairs added with -1, which go to the end) run first.
#pragma once

namespace zor {

using FinalizeProc = void (*)();

inline constexpr int kFinalizeLast = -1;

// Adds the pair, replacing earlier pairs of the same procedure; a pair with an order
// number equal to existing ones goes after them. The first call installs the exit hook.
void AddFinalizeProc(FinalizeProc proc, int order = kFinalizeLast);
// Removes every pair of the procedure.
void RemoveFinalizeProc(FinalizeProc proc);
// Runs the list now, last to first, and empties it (the exit hook does the same; tests
// call it directly). A procedure that throws does not stop the others.
void RunFinalizeProcs();

}  // namespace zor
