#pragma once

#include <gtest/gtest.h>

namespace korvinet::test {

// One Qt application object of type App, made before the first test of a
// GoogleTest program and destroyed after the last.
template <class App> class ApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override { app_ = new App(argc_, argv_); }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    int argc_ = 1;
    char name_[16] = "korvinet_tests";
    char* argv_[2] = {name_, nullptr};
    App* app_ = nullptr;
};

} // namespace korvinet::test
