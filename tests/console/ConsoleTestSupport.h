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

int runProcessorLibraryTests(int argc, char** argv);
int runXelExecAppTests(int argc, char** argv);
int runFormatButtonTests(int argc, char** argv);
int runDialogUnitsTests(int argc, char** argv);
