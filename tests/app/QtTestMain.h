// The main of the Qt test programs: one application object for all tests,
// on the offscreen platform unless a display is asked for. Whatever Qt, the
// tests or the programs they start would keep in the user's configuration
// folder goes to a temporary one instead, removed at the end.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QtGlobal>

#include "Forms.h"

#define DOT3_QT_TEST_MAIN(setUp)                                                   \
    int main(int argc, char** argv) {                                              \
        ::testing::InitGoogleTest(&argc, argv);                                    \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                               \
        const QTemporaryDir configuration;                                         \
        qputenv("XDG_CONFIG_HOME", configuration.path().toLocal8Bit());            \
        TApplication application(argc, argv);                                      \
        if (!::testing::GTEST_FLAG(list_tests)) setUp();                           \
        return RUN_ALL_TESTS();                                                    \
    }
