// For GoogleTest programs that need Qt's event loop but no window system
// (the MQTT publisher, the station): one QCoreApplication, made before the
// first test and destroyed after the last.
#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

class QtCoreApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override { app_ = new QCoreApplication(argc_, argv_); }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    int argc_ = 1;
    char name_[16] = "korvinet_tests";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication* app_ = nullptr;
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtCoreApplicationEnvironment);

} // namespace
