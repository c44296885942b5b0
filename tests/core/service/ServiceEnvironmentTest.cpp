// The process-wide environment: everything it creates exists afterwards, and a teardown removes
// all of it (the notifier's window included), so that a later create starts afresh.
#include "core/service/ServiceEnvironment.h"

#include "config/Localize.h"
#include "core/interpreters/InterpreterManager.h"
#include "core/service/ServiceControl.h"
#include "core/usb/NotifierWindow.h"

#include <gtest/gtest.h>

namespace {

TEST(ServiceEnvironment, CreatesInOrderOnceAndTearsEverythingDown) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first environment" : "after a teardown");
        ServiceEnvironment::create(nullptr);
        ASSERT_TRUE(ServiceEnvironment::exists());
        EXPECT_TRUE(Localize::exists());
        EXPECT_TRUE(ServiceControl::bindingExists());
        EXPECT_TRUE(InterpreterManager::exists());
        ASSERT_TRUE(NotifierWindow::exists());
        NotifierWindow* notifier = NotifierWindow::instance();
        const std::string prefix = ServiceEnvironment::manufacturerPrefix();
        EXPECT_EQ(Localize::getInstance().getManufacturerPrefix() + "__", prefix);
        EXPECT_EQ(prefix + "Hidden Notifier Window", notifier->windowName());
        const HWND window = notifier->window();
        ASSERT_NE(nullptr, window);

        ServiceEnvironment::create(nullptr);
        EXPECT_EQ(notifier, NotifierWindow::instance()) << "a second create changes nothing";

        ServiceEnvironment::teardown();
        EXPECT_FALSE(ServiceEnvironment::exists());
        EXPECT_FALSE(Localize::exists());
        EXPECT_FALSE(ServiceControl::bindingExists());
        EXPECT_FALSE(InterpreterManager::exists());
        EXPECT_FALSE(NotifierWindow::exists());
        EXPECT_FALSE(IsWindow(window));
    }
}

}  // namespace
