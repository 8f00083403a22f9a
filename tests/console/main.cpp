// The console tests share one application object, the console's own: it is the
// QApplication of the process, as in the program.
#include "ConsoleTestSupport.h"
#include "console/CXelExecApp.h"

int main(int argc, char** argv) {
    CXelExecApp app(argc, argv);
    int failed = 0;
    failed += runProcessorLibraryTests(argc, argv);
    failed += runXelExecAppTests(argc, argv);
    failed += runFormatButtonTests(argc, argv);
    failed += runDialogUnitsTests(argc, argv);
    failed += contest::runAll(argc, argv);
    return failed == 0 ? 0 : 1;
}
