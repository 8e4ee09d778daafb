// The Windows Installer handle holder: one close per handle, whatever moves it makes.
#include <gtest/gtest.h>

#include <type_traits>
#include <utility>

#include "Fakes.h"
#include "MsiHandle.h"

static_assert(!std::is_copy_constructible<MsiHandle>::value, "a handle has one owner");
static_assert(!std::is_copy_assignable<MsiHandle>::value, "a handle has one owner");
static_assert(!std::is_convertible<MsiHandle, MSIHANDLE>::value, "no implicit way to the raw handle");

TEST(MsiHandle, MovingHandsTheHandleOverAndClosesItOnce)
{
    ResetFake();
    {
        MsiHandle first(7);
        MsiHandle second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(second.get(), 7u);
        MsiHandle third;
        third = std::move(second);
        EXPECT_FALSE(second);
        EXPECT_TRUE(third);
        EXPECT_TRUE(fake.calls.empty());
    }
    EXPECT_EQ(fake.calls, std::vector<std::wstring>{L"MsiCloseHandle(unknown 7)"});
}

TEST(MsiHandle, PutClosesWhatItHeldAndReleaseGivesUpOwnership)
{
    ResetFake();
    {
        MsiHandle holder(7);
        MSIHANDLE* out = holder.put();
        EXPECT_EQ(fake.calls, std::vector<std::wstring>{L"MsiCloseHandle(unknown 7)"});
        EXPECT_EQ(*out, 0u);
        *out = 8;
        EXPECT_EQ(holder.release(), 8u);
        MsiHandle empty;
        empty.reset();
    }
    EXPECT_EQ(fake.calls.size(), 1u) << "neither a released handle nor 0 is closed";
}

TEST(MsiHandle, MovingOntoAHolderClosesItsOldHandle)
{
    ResetFake();
    MsiHandle target(5);
    target = MsiHandle(6);
    EXPECT_EQ(fake.calls, std::vector<std::wstring>{L"MsiCloseHandle(unknown 5)"});
    EXPECT_EQ(target.get(), 6u);
    target.release();
}
