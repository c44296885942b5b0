#include "runtime/UniqueHandle.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace {
bool isOpen(HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}
}  // namespace

static_assert(!std::is_copy_constructible<UniqueHandle>::value, "handles are move-only");
static_assert(std::is_nothrow_move_constructible<UniqueHandle>::value, "moves never throw");

TEST(UniqueHandle, ClosesOnResetAndDestructionButNotAfterRelease) {
    HANDLE raw = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    {
        UniqueHandle owner(raw);
        UniqueHandle moved(std::move(owner));
        EXPECT_FALSE(owner);
        EXPECT_EQ(moved.get(), raw);
        EXPECT_TRUE(isOpen(raw));
    }
    EXPECT_FALSE(isOpen(raw));

    raw = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    UniqueHandle keeper(raw);
    EXPECT_EQ(keeper.release(), raw);
    keeper.reset();
    EXPECT_TRUE(isOpen(raw));
    keeper.reset(raw);
    keeper.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    EXPECT_FALSE(isOpen(raw));
}

TEST(UniqueHandle, ResetKeepsTheLastError) {
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueFileHandle file(CreateFileA("C:\\does-not-exist\\tolvex\\x", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    ASSERT_FALSE(file);
    const DWORD expected = GetLastError();
    ASSERT_NE(expected, 0u);
    event.reset();
    EXPECT_EQ(GetLastError(), expected);
    {
        UniqueHandle another(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        SetLastError(expected);
    }
    EXPECT_EQ(GetLastError(), expected);
}
