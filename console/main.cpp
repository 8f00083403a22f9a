// XelExec: the operator console.
#include "console/CXelExecApp.h"

int main(int argc, char** argv) {
    CXelExecApp app(argc, argv);
    return app.run();
}
