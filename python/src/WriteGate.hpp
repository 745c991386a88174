// WriteGate: lets writes run without the GIL while nothing else touches a tree.
//
// A write walks its tree twice (the ID count, then the writer), and the second walk relies on the
// first: it must find the same nodes, and the same reference counts on them, since a node held
// once is not looked up. So while any write runs with the GIL let go, every other operation of
// the module on nodes (anything that reaches a Structure, List or RawText object, a numpy array's
// tag, the cycle collector) waits for the writes to finish: it lets go of the GIL itself while it
// waits. Writes do not wait for one another: several threads write at once, as several read.
//
// Everything here is called with the GIL held.
#pragma once

namespace zrxpy {

// Marks a write in progress for as long as it lives. Construct it under the GIL, before letting
// the GIL go, and destroy it under the GIL again.
class WriteInProgress {
 public:
  WriteInProgress();
  ~WriteInProgress();
  WriteInProgress(const WriteInProgress&) = delete;
  WriteInProgress& operator=(const WriteInProgress&) = delete;
};

// Returns once no write is in progress (at once, usually), the GIL held again.
void waitForWrites();
// Whether a write is in progress (the collector puts its work off then).
bool writesInProgress();

// While one lives on this thread, waitForWrites() returns at once: a write preparing its own
// tree (under the GIL, before it starts) must not wait for the others.
class WritePreparation {
 public:
  WritePreparation();
  ~WritePreparation();
  WritePreparation(const WritePreparation&) = delete;
  WritePreparation& operator=(const WritePreparation&) = delete;

 private:
  bool mOuter;
};

}  // namespace zrxpy
