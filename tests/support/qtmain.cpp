// main() for tests that need a QApplication: the program's own application class,
// so exceptions from handlers reach the same display as in Voltdesk.
#include "platform/ui.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Window tests always run headless, test discovery included.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    platform::ui::Application app(argc, argv);
    return RUN_ALL_TESTS();
}
