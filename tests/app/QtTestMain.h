// The main of the Qt test programs: one application object for all tests,
// on the offscreen platform unless a display is asked for.
#pragma once

#include <gtest/gtest.h>

#include <QtGlobal>

#include "Forms.h"

#define DOT3_QT_TEST_MAIN(setUp)                                                   \
    int main(int argc, char** argv) {                                              \
        ::testing::InitGoogleTest(&argc, argv);                                    \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                               \
        TApplication application(argc, argv);                                      \
        if (!::testing::GTEST_FLAG(list_tests)) setUp();                           \
        return RUN_ALL_TESTS();                                                    \
    }
