#pragma once

#include <functional>

// A file layer for SQLite that passes everything to the system's own layer but can fail the
// n-th write or sync (as a full disk or an I/O error would), or refuse every change (as a file
// that turned read-only). Tests name it "faulty" in the store's options.
namespace faulty {

inline constexpr char kName[] = "faulty";

struct Plan
{
    int failWriteAt = 0; // 1 = the first write from now on fails; 0 = none
    int failSyncAt = 0;
    bool diskFull = false; // fail as a full disk instead of an I/O error
    bool readOnly = false; // every write, truncation and new journal is refused
};

// Registers the layer once (not as the default) and sets what it does from now on.
void arm(const Plan &plan);
void disarm();

// Whether the planned fault has struck since arm().
bool struck();

// Runs the hook once, the first time from now on that a connection lets go of the file
// entirely: there another program can get in between two reads that SQLite makes one after the
// other. arm() and disarm() drop a hook that has not run.
void onNextRelease(std::function<void()> hook);

} // namespace faulty
