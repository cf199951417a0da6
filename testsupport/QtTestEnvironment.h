#pragma once
// For the Qt test programs: one QApplication for the whole executable, on the display-less platform,
// with a scratch home (and its configuration, cache and data folders) so that no run touches the
// user's.
// Register it once per executable:
//   ::testing::AddGlobalTestEnvironment(new testsupport::QtEnvironment("window_tests"));
// A screen size may be given (the platform's default is 800 x 600); QT_SCALE_FACTOR from the
// environment scales it as on a desktop.
#include "testsupport/TestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace testsupport {

class QtEnvironment : public ::testing::Environment {
public:
    explicit QtEnvironment(std::string programName, int screenWidth = 0, int screenHeight = 0)
        : FName(std::move(programName)), FScreenWidth(screenWidth), FScreenHeight(screenHeight) {}

    void SetUp() override {
        FHome = std::make_unique<TempDir>();
        std::string platform = "offscreen";
        if (FScreenWidth > 0 && FScreenHeight > 0) {
            const std::string config = FHome->File("screen.json");
            std::ofstream(config) << R"({"screens": [{"name": "Screen", "x": 0, "y": 0, "width": )"
                                  << FScreenWidth << R"(, "height": )" << FScreenHeight
                                  << R"(, "logicalDpi": 96, "dpr": 1}]})";
            platform += ":configfile=" + config;
        }
        ::setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
        // A home of its own, with the configuration, cache and data folders apart inside it.
        ::setenv("HOME", FHome->Path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", FHome->File("config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", FHome->File("cache").c_str(), 1);
        ::setenv("XDG_DATA_HOME", FHome->File("data").c_str(), 1);
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
    int FScreenWidth, FScreenHeight;
    int FArgc = 1; // QApplication keeps references to both for its lifetime
    char* FArgv[2] = {nullptr, nullptr};
    std::unique_ptr<TempDir> FHome;
    std::unique_ptr<QApplication> FApp;
};

} // namespace testsupport
