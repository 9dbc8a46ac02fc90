#pragma once
// Stopping a task without waiting, for the UI thread: the request returns at once, and a
// regular call (the window's one-second timer) completes the stops whose workers ended,
// or cancels and abandons those that did not answer within 3000 ms. The task's row shows
// "Stopping..." meanwhile. Owning thread of the list only.

namespace brevanto {

class CTaskList;

// Asks the slot's worker to stop. A slot without a live worker is Stop at once.
void RequestStop(CTaskList& list, int index);
// Completes the requested stops that are due; never waits for a worker or a server.
void FinishStops(CTaskList& list);
// True from RequestStop until the worker has ended or was abandoned.
bool IsStopping(const CTaskList& list, int index);

}  // namespace brevanto
