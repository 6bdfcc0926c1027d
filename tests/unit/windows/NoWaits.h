#pragma once
#include "service/windows/CPlayWnd.h"

// Window groups without their waits, and without the process's follow timer (tests call
// CPlayWnd::FollowBrowsers themselves). Call before the first group is built.
inline void UseNoWaits(int noResourcePeriodMs = 2000) {
  CPlayWnd::SetFollowTimerEnabled(false);
  WndTimings t;
  t.attachRetryMs = t.walkStepMs = t.paneCountSettleMs = t.arrangePaintMs = t.reattachSettleMs = 0;
  t.createReplyMs = 0;
  t.noResourcePeriodMs = noResourcePeriodMs;
  SetWndTimings(t);
}
