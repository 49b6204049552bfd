// Images, fonts, the clipboard and printers need an application object; one
// for the whole test program, created before the first test runs.
#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

namespace {

class QtAppEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "files_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtAppEnvironment);

} // namespace
