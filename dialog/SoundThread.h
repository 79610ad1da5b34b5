// The program's own sound thread, and the one way this program starts a thread.
//
// Calls that may wait on the sound server, a driver or a disk, other than a tick's own sound,
// run on the sound thread: stopping a wave sound, the idle handle that keeps the sound path
// warm, and the check that a wave file being played is still there. A server that stops
// answering then holds up that thread, never the panel. The dialog only posts to it.
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
