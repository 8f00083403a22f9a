// Shared helpers of the console tests.
#pragma once

#include <QImage>
#include <QString>

#include <filesystem>
#include <string>

namespace contest {

// R of this test run (the test's own XDG_CONFIG_HOME).
std::filesystem::path stateDir();
std::string readBytes(const std::filesystem::path& p);
void writeBytes(const std::filesystem::path& p, const std::string& bytes);
// Removes everything in R, so each case starts from a fresh user.
void clearStateDir();
// Writes <build>/screenshots/<name>.png; returns false when it cannot.
bool saveScreenshot(const QImage& image, const QString& name);

}  // namespace contest

// Each test file registers its runner with CONSOLE_TEST_RUNNER(fn); main runs
// them all in file-name order, so a new test file needs no edit elsewhere.
namespace contest {
using Runner = int (*)(int argc, char** argv);
bool registerRunner(const char* file, Runner run);
int runAll(int argc, char** argv);
}  // namespace contest

#define CONSOLE_TEST_RUNNER(fn) static const bool fn##_registered = contest::registerRunner(__FILE__, &fn)

int runProcessorLibraryTests(int argc, char** argv);
int runXelExecAppTests(int argc, char** argv);
int runFormatButtonTests(int argc, char** argv);
int runDialogUnitsTests(int argc, char** argv);
