#include "platform/sim/sim_process.h"

#include <gtest/gtest.h>

namespace qxr::sim {
namespace {

TOKEN_PRIVILEGES Enable(const LUID& luid, bool enable) {
    TOKEN_PRIVILEGES state{};
    state.PrivilegeCount = 1;
    state.Privileges[0].Luid = luid;
    state.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    return state;
}

TEST(SimProcessTest, PreviousStateListsOnlyWhatTheCallChanged) {
    SimProcess process;
    HANDLE token = nullptr;
    ASSERT_TRUE(process.OpenProcessToken(process.GetCurrentProcess(),
                                         TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    LUID luid{};
    ASSERT_TRUE(process.LookupPrivilegeValueA(nullptr, "sesystemtimeprivilege", &luid));
    EXPECT_EQ(luid.LowPart, 12u);

    TOKEN_PRIVILEGES on = Enable(luid, true);
    TOKEN_PRIVILEGES previous{};
    DWORD length = 0;
    // Too small a buffer for the one changed entry: refused, nothing changes.
    EXPECT_FALSE(
        process.AdjustTokenPrivileges(token, FALSE, &on, sizeof(DWORD), &previous, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, sizeof(TOKEN_PRIVILEGES));
    EXPECT_FALSE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));

    ASSERT_TRUE(
        process.AdjustTokenPrivileges(token, FALSE, &on, sizeof previous, &previous, &length));
    EXPECT_EQ(previous.PrivilegeCount, 1u);
    EXPECT_EQ(previous.Privileges[0].Attributes, 0u);
    EXPECT_TRUE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));

    ASSERT_TRUE(
        process.AdjustTokenPrivileges(token, FALSE, &on, sizeof previous, &previous, &length));
    EXPECT_EQ(previous.PrivilegeCount, 0u);  // already enabled

    process.SetPrivilegeHeld(SE_SYSTEMTIME_NAME, false);
    EXPECT_TRUE(
        process.AdjustTokenPrivileges(token, FALSE, &on, sizeof previous, &previous, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
    EXPECT_FALSE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));

    EXPECT_TRUE(process.CloseHandle(token));
    EXPECT_FALSE(process.CloseHandle(token));
    EXPECT_FALSE(process.AdjustTokenPrivileges(token, FALSE, &on, 0, nullptr, nullptr));
}

TEST(SimProcessTest, AdjustingNeedsTheRightTokenAccess) {
    SimProcess process;
    LUID luid{};
    ASSERT_TRUE(process.LookupPrivilegeValueA(nullptr, SE_SYSTEMTIME_NAME, &luid));
    TOKEN_PRIVILEGES on = Enable(luid, true);
    TOKEN_PRIVILEGES previous{};
    DWORD length = 0;

    HANDLE queryOnly = nullptr;
    ASSERT_TRUE(process.OpenProcessToken(process.GetCurrentProcess(), TOKEN_QUERY, &queryOnly));
    EXPECT_EQ(process.LastTokenAccess(), static_cast<DWORD>(TOKEN_QUERY));
    EXPECT_FALSE(
        process.AdjustTokenPrivileges(queryOnly, FALSE, &on, sizeof previous, &previous, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));

    // Without TOKEN_QUERY the change is made only when the previous state is not asked for.
    HANDLE adjustOnly = nullptr;
    ASSERT_TRUE(process.OpenProcessToken(process.GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES,
                                         &adjustOnly));
    EXPECT_FALSE(
        process.AdjustTokenPrivileges(adjustOnly, FALSE, &on, sizeof previous, &previous, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));
    EXPECT_TRUE(process.AdjustTokenPrivileges(adjustOnly, FALSE, &on, 0, nullptr, nullptr));
    EXPECT_TRUE(process.IsPrivilegeEnabled(SE_SYSTEMTIME_NAME));

    EXPECT_TRUE(process.CloseHandle(queryOnly));
    EXPECT_TRUE(process.CloseHandle(adjustOnly));
    EXPECT_EQ(process.OpenTokenCount(), 0);
}

TEST(SimProcessTest, RefusesWhatWindowsRefuses) {
    SimProcess process;
    EXPECT_FALSE(process.SetPriorityClass(process.GetCurrentProcess(), 0x12345));
    EXPECT_FALSE(process.SetThreadPriority(process.GetCurrentThread(), 5));  // not real time
    ASSERT_TRUE(process.SetPriorityClass(process.GetCurrentProcess(), REALTIME_PRIORITY_CLASS));
    EXPECT_TRUE(process.SetThreadPriority(process.GetCurrentThread(), 5));
    EXPECT_FALSE(process.SetThreadPriority(process.GetCurrentThread(), 16));

    OSVERSIONINFOA info{};
    EXPECT_FALSE(process.GetVersionExA(&info));  // size not filled in
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(process.GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_EQ(info.dwMajorVersion, 4u);

    process.FailCalls(kAllProcessCalls);
    EXPECT_EQ(process.GetPriorityClass(process.GetCurrentProcess()), 0u);
    EXPECT_EQ(process.GetThreadPriority(process.GetCurrentThread()),
              SimProcess::kThreadPriorityErrorReturn);
    EXPECT_FALSE(process.GetVersionExA(&info));
}

}  // namespace
}  // namespace qxr::sim
