// The program's own texts that the tests look for: the one copy of each. The template tests
// check the compiled resources against it; the end-to-end tests read the texts from
// res/tickora.rc, so that both levels see the same words.
#pragma once

constexpr char kAboutCaption[] = "Yo yo yo! here's da 411...";
constexpr char kCannotPlayText[] =
    "Cannot play sound! Maybe the\naudio device is currently in use...\nor maybe the file is "
    "invalid.";
constexpr char kNoTimerText[] =
    "Cannot allocate system timer! Perhaps there isn't enough memory available...";
