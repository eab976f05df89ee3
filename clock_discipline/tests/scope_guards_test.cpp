#include <gtest/gtest.h>

#include "clock_discipline/priority_boost.h"
#include "clock_discipline/privilege_guard.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_process.h"

namespace qxr::discipline {
namespace {

using sim::SimProcess;

// ---- PriorityBoost -----------------------------------------------------------------------

struct BoostCase {
    const char* name;
    DWORD savedClass;
    int savedThread;
    DWORD requestedClass;
    int requestedThread;
    DWORD classInside;
    int threadInside;
};

TEST(PriorityBoostTest, TargetRulesAndRestoration) {
    const BoostCase cases[] = {
        // From the normal class the real-time class is taken, and then the thread is not
        // pushed up: its target becomes LOWEST, already below normal.
        {"normal to real time", NORMAL_PRIORITY_CLASS, 0, REALTIME_PRIORITY_CLASS, 15,
         REALTIME_PRIORITY_CLASS, 0},
        {"idle to real time", IDLE_PRIORITY_CLASS, -15, REALTIME_PRIORITY_CLASS, 15,
         REALTIME_PRIORITY_CLASS, -2},
        {"already real time", REALTIME_PRIORITY_CLASS, -7, REALTIME_PRIORITY_CLASS, 15,
         REALTIME_PRIORITY_CLASS, -2},
        // Below real time the requested thread priority is taken as it is.
        {"normal to high", NORMAL_PRIORITY_CLASS, 0, HIGH_PRIORITY_CLASS, 2, HIGH_PRIORITY_CLASS,
         2},
        {"high stays high", HIGH_PRIORITY_CLASS, -1, HIGH_PRIORITY_CLASS, 15, HIGH_PRIORITY_CLASS,
         15},
        // Class values compare as numbers: 0x8000 is not below 0x100, so neither changes.
        {"above normal", ABOVE_NORMAL_PRIORITY_CLASS, 0, REALTIME_PRIORITY_CLASS, 15,
         ABOVE_NORMAL_PRIORITY_CLASS, 0},
        {"thread already higher", NORMAL_PRIORITY_CLASS, 15, HIGH_PRIORITY_CLASS, 2,
         HIGH_PRIORITY_CLASS, 15},
    };
    for (const BoostCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess process;
        process.SetPriorityClassValue(c.savedClass);
        process.SetThreadPriorityValue(c.savedThread);
        {
            PriorityBoost boost(process, c.requestedClass, c.requestedThread);
            EXPECT_EQ(process.PriorityClass(), c.classInside);
            EXPECT_EQ(process.ThreadPriority(), c.threadInside);
            EXPECT_EQ(boost.ClassChanged(), c.classInside != c.savedClass);
            EXPECT_EQ(boost.ThreadChanged(), c.threadInside != c.savedThread);
        }
        EXPECT_EQ(process.PriorityClass(), c.savedClass);
        EXPECT_EQ(process.ThreadPriority(), c.savedThread);
    }
}

TEST(PriorityBoostTest, RestoresOnlyWhatItChanged) {
    SimProcess process;
    process.FailCalls(sim::kSetPriorityClass);
    {
        // The class could not be raised, so the time-critical thread priority is taken.
        PriorityBoost boost(process, REALTIME_PRIORITY_CLASS, THREAD_PRIORITY_TIME_CRITICAL);
        EXPECT_FALSE(boost.ClassChanged());
        EXPECT_EQ(process.ThreadPriority(), THREAD_PRIORITY_TIME_CRITICAL);
    }
    EXPECT_EQ(process.SetPriorityClassCount(), 1);  // no restoring call
    EXPECT_EQ(process.ThreadPriority(), THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(process.PriorityClass(), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
}

TEST(PriorityBoostTest, UnreadablePrioritiesAreLeftAlone) {
    // An unreadable class (read as 0) could never be put back: neither the class nor the
    // thread is touched, although the thread's priority itself reads fine.
    SimProcess process;
    process.FailCalls(sim::kGetPriorityClass);
    {
        PriorityBoost boost(process, HIGH_PRIORITY_CLASS, 2);
        EXPECT_FALSE(boost.ClassChanged());
        EXPECT_FALSE(boost.ThreadChanged());
    }
    EXPECT_EQ(process.SetPriorityClassCount(), 0);
    EXPECT_EQ(process.SetThreadPriorityCount(), 0);
    EXPECT_EQ(process.PriorityClass(), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));

    // An unreadable thread priority reads as the error value, above any target.
    SimProcess other;
    other.FailCalls(sim::kGetThreadPriority);
    { PriorityBoost boost(other, HIGH_PRIORITY_CLASS, 2); }
    EXPECT_EQ(other.SetThreadPriorityCount(), 0);
    EXPECT_EQ(other.PriorityClass(), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
}

// ---- PrivilegeGuard ----------------------------------------------------------------------

TEST(PrivilegeGuardTest, EnablesForTheScopeAndRestoresThePreviousState) {
    SimProcess process;
    {
        PrivilegeGuard guard(process, process, process, SE_SYSTEMTIME_NAME);
        EXPECT_TRUE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));
        EXPECT_EQ(process.OpenTokenCount(), 1);
        // Just what enabling with the previous state needs, nothing more.
        EXPECT_EQ(process.LastTokenAccess(),
                  static_cast<DWORD>(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY));
    }
    EXPECT_FALSE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));
    EXPECT_EQ(process.OpenTokenCount(), 0);

    // Enabled before: the guard changes nothing, so it restores nothing.
    process.SetPrivilegeEnabled(SE_SYSTEMTIME_NAME, true);
    { PrivilegeGuard guard(process, process, process, SE_SYSTEMTIME_NAME); }
    EXPECT_TRUE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));
}

TEST(PrivilegeGuardTest, NestedGuardsLeaveTheOuterOneInCharge) {
    SimProcess process;
    {
        PrivilegeGuard outer(process, process, process, SE_SYSTEMTIME_NAME);
        { PrivilegeGuard inner(process, process, process, SE_SYSTEMTIME_NAME); }
        EXPECT_TRUE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));
    }
    EXPECT_FALSE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));
    EXPECT_FALSE(process.IsPrivilegeEnabled("SeShutdownPrivilege"));
}

TEST(PrivilegeGuardTest, FailuresAndMissingPrivilegesLeaveEverythingAsItWas) {
    {
        SimProcess process;  // not held: nothing can be enabled, the token is still closed
        process.SetPrivilegeHeld(SE_SYSTEMTIME_NAME, false);
        { PrivilegeGuard guard(process, process, process, SE_SYSTEMTIME_NAME); }
        EXPECT_FALSE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));
        EXPECT_EQ(process.OpenTokenCount(), 0);
    }
    {
        SimProcess process;  // unknown name
        { PrivilegeGuard guard(process, process, process, "SeNoSuchPrivilege"); }
        EXPECT_EQ(process.OpenTokenCount(), 0);
    }
    {
        SimProcess process;  // the token cannot be opened, so nothing is closed either
        process.FailCalls(sim::kOpenProcessToken | sim::kCloseHandle);
        { PrivilegeGuard guard(process, process, process, SE_SYSTEMTIME_NAME); }
        EXPECT_FALSE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));
    }
    {
        SimProcess process;  // outside the NT family no token is touched at all
        process.SetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
        PrivilegeGuard guard(process, process, process, SE_SYSTEMTIME_NAME);
        EXPECT_EQ(process.OpenTokenCount(), 0);
        EXPECT_FALSE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));
    }
}

TEST(PrivilegeGuardTest, SettingTheSimulatedClockNeedsTheGuard) {
    SimProcess process;
    sim::SimClock clock;
    clock.SetPrivilegeCheck(process.PrivilegeCheck(SE_SYSTEMTIME_NAME));
    SYSTEMTIME now{};
    clock.GetSystemTime(&now);
    EXPECT_FALSE(clock.SetSystemTime(&now));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
    {
        PrivilegeGuard guard(process, process, process, SE_SYSTEMTIME_NAME);
        EXPECT_TRUE(clock.SetSystemTime(&now));
        EXPECT_TRUE(clock.SetSystemTimeAdjustment(156000, FALSE));
    }
    EXPECT_FALSE(clock.SetSystemTimeAdjustment(156250, FALSE));
    EXPECT_EQ(clock.CurrentAdjustment(), 156000u);
}

}  // namespace
}  // namespace qxr::discipline
