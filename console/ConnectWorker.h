// Runs the connect job of the main window on a thread of its own while the
// calling (GUI) thread goes on handling its events, and hands back the job's
// exit code once the thread has ended. Nothing spins: the caller waits in an
// event loop that the worker's end wakes.
//
// Tests put a subclass in place to see or hold the window while a connect runs.
//
// Thread safety: run() is called on the GUI thread; the job runs on the worker.
#pragma once

#include <functional>

class ConnectWorker {
public:
    virtual ~ConnectWorker() = default;
    virtual int run(const std::function<int()>& job);
};
