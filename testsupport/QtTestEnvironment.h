#pragma once
// For the Qt test programs: one QApplication for the whole executable, on the display-less platform,
// with Qt's settings and the thumbnail cache kept in a scratch folder so that no run touches $HOME.
// Register it once per executable:
//   ::testing::AddGlobalTestEnvironment(new testsupport::QtEnvironment("window_tests"));
#include "testsupport/TestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace testsupport {

class QtEnvironment : public ::testing::Environment {
public:
    explicit QtEnvironment(std::string programName) : FName(std::move(programName)) {}

    void SetUp() override {
        FHome = std::make_unique<TempDir>();
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("XDG_CONFIG_HOME", FHome->Path().c_str(), 1);
        ::setenv("XDG_CACHE_HOME", FHome->Path().c_str(), 1);
        FArgv[0] = FName.data();
        FApp = std::make_unique<QApplication>(FArgc, FArgv);
    }
    void TearDown() override {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        FApp.reset();
        FHome.reset();
    }

private:
    std::string FName;
    int FArgc = 1; // QApplication keeps references to both for its lifetime
    char* FArgv[2] = {nullptr, nullptr};
    std::unique_ptr<TempDir> FHome;
    std::unique_ptr<QApplication> FApp;
};

} // namespace testsupport
