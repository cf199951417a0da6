// Loading libcurl at run time: a missing or wrong library ends in words a user can act on, and the
// programs do not start with libcurl already loaded.
#include "platform/net/CurlLibrary.h"
#include "testsupport/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {
struct LoadCase {
    const char* Name;
    const char* FileName;
    const char* ReasonStart;
};

const LoadCase kLoadCases[] = {
    {"NoSuchFile", "/nonexistent/libcurl.so.4",
     "cannot download: libcurl (/nonexistent/libcurl.so.4) is not installed (/nonexistent/libcurl.so.4: "},
    // A library that loads but is not libcurl stands for one too old to have every function.
    {"LibraryWithoutCurl", "libm.so.6", "cannot download: the libcurl installed (libm.so.6) has no curl_"},
};

class CurlLibraryLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(CurlLibraryLoad, FailsWithAReason) {
    const LoadCase& c = GetParam();
    TCurlLibrary library;
    std::string reason;
    EXPECT_FALSE(LoadCurlLibrary(c.FileName, library, reason));
    EXPECT_EQ(reason.rfind(c.ReasonStart, 0), 0u) << reason;
    EXPECT_EQ(library.EasyInit, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Load, CurlLibraryLoad, ::testing::ValuesIn(kLoadCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Every function is looked up under its right name in the library the package depends on.
TEST(CurlLibrary, TheSystemLibraryHasEveryFunction) {
    TCurlLibrary library;
    std::string reason;
    EXPECT_TRUE(LoadCurlLibrary(kCurlFileName, library, reason)) << reason;
    std::string cached;
    EXPECT_NE(CurlLibrary(cached), nullptr) << cached;
}

// This binary links the HTTP client as the programs do; a libcurl among its needed libraries would
// bring back the start-up cost of loading it on every run.
TEST(CurlLibrary, IsNotLinked) {
    if (!testsupport::ToolAvailable("ldd")) GTEST_SKIP() << "ldd missing";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string out;
    ASSERT_EQ(testsupport::RunCommand("ldd " + testsupport::ShellQuote(self), &out), 0) << out;
    EXPECT_EQ(out.find("libcurl"), std::string::npos) << out;
}
} // namespace
