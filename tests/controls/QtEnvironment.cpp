// One QApplication for the tests of this folder (offscreen; ctest sets QT_QPA_PLATFORM), with
// the project's fonts registered as the program does at start-up.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "controls/Font.h"

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    FApp = std::make_unique<QApplication>(FArgc, FArgv);
    controls::RegisterProjectFonts();
  }
  void TearDown() override { FApp.reset(); }

 private:
  int FArgc = 1;
  char FName[16] = "controls_tests";
  char* FArgv[2] = {FName, nullptr};
  std::unique_ptr<QApplication> FApp;
};

const auto* const cEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
