#include "console/ConnectWorker.h"

#include <QEventLoop>
#include <QMetaObject>

#include <thread>

#include "platform/objrt/objrt.h"

int ConnectWorker::run(const std::function<int()>& job) {
    QEventLoop loop;
    int code = 0;
    std::thread worker([&] {
        const bool initialised = SUCCEEDED(CoInitialize(nullptr));
        code = job();
        if (initialised) CoUninitialize();
        // Queued to the loop's thread: if the job ends before the loop runs, the
        // quit waits in the queue and ends the loop as soon as it starts.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return code;
}
