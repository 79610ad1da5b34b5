// The program's own worker threads, and the one way this program starts a thread. Which call
// runs where, and why nothing waits on them, is told beside the tick gate (BeatTimer.cpp).
#pragma once

#include <windows.h>

#include <functional>

#include "Gdi.h"

using CUniqueThread = CUniqueHandle<HANDLE, &CloseHandle>;

// Runs fn on a thread of its own that nobody joins; fn must own, or share, all it touches.
// Returns the thread's handle, empty when no thread could be had (fn then never runs).
CUniqueThread StartThread(std::function<void()> fn);

// Queues job for the sound thread, which runs jobs one at a time in the order posted.
// Never waits for a job, nor for the sound thread.
void PostSoundJob(std::function<void()> job);
// The same for the timer's thread of ours, which kills retired events: timeKillEvent may wait
// for winmm's own lock, and must not wait behind the sound thread's jobs either, or events
// would pile up while it is stuck (Wine gives a process 16).
void PostTimerJob(std::function<void()> job);
// The same for the check thread, which makes the file calls of the liveness check of a
// beating wave file: one stalled on a share holds up no silence and no handle.
void PostCheckJob(std::function<void()> job);
