// The beat engine with the real multimedia timer and sound service under Wine: resolution,
// start, stop, retiming, tick sources, and every failure path.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <thread>

#include "MetronomeLogic.h"
#include "TestSupport.h"
#include "resource.h"

namespace {

const char kCannotPlay[] = "Cannot play sound! Maybe the\naudio device is currently in use...\nor "
                           "maybe the file is invalid.";
const char kNoTimer[] =
    "Cannot allocate system timer! Perhaps there isn't enough memory available...";

void ChooseRadio(CDialog& dlg, int nID) {
    for (int n : {IDC_SOUND_BUILTIN, IDC_SOUND_SPEAKER, IDC_SOUND_WAVE})
        SendMessageA(dlg.GetDlgItem(n), BM_SETCHECK, n == nID ? BST_CHECKED : BST_UNCHECKED, 0);
    ClickButton(dlg, nID);
}

bool IsChecked(CDialog& dlg, int nID) {
    return SendMessageA(dlg.GetDlgItem(nID), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// Chooses Wave File with the given path and starts at 240 bpm.
void StartWaveFileBeat(CTestTickoraDlg& dlg, const char* pszPath) {
    dlg.SetWaveFileForTest(pszPath);
    ChooseRadio(dlg, IDC_SOUND_WAVE);
    MoveSlider(dlg, 240);
    ClickButton(dlg, IDC_START_STOP);
}

std::string StartStopTip(CTestTickoraDlg& dlg) {
    return dlg.ToolTip()->GetText(dlg.GetDlgItem(IDC_START_STOP)).GetString();
}

} // namespace

TEST(Engine, ResolutionIsNegotiatedAtConstructionAndReleasedAtDestruction) {
    struct Case {
        TIMECAPS caps;
        UINT uExpected;
    };
    for (Case c : {Case{{1, 1000000}, 10}, Case{{15, 1000000}, 15}, Case{{1, 5}, 5}}) {
        MultimediaRecorder rec;
        rec.capsOverride = c.caps;
        {
            CTestTickoraDlg dlg;
            EXPECT_EQ(dlg.TimerRes(), c.uExpected);
            EXPECT_EQ(rec.nBeginPeriod, 1);
            EXPECT_EQ(rec.uLastBeginPeriod, c.uExpected);
            EXPECT_EQ(rec.nEndPeriod, 0);
        }
        EXPECT_EQ(rec.nEndPeriod, 1);
        EXPECT_EQ(rec.uLastEndPeriod, c.uExpected);
    }
}

TEST(Engine, FailingDeviceCapabilitiesRequestNoResolution) {
    MultimediaRecorder rec;
    rec.bFailDevCaps = true;
    {
        CTestTickoraDlg dlg;
        EXPECT_EQ(dlg.TimerRes(), 0u);
        RunModal(dlg, [&] {
            ClickButton(dlg, IDC_START_STOP);
            EXPECT_EQ(rec.uLastResolution, 0u); // events still start, at resolution 0
            EXPECT_NE(dlg.TimerId(), 0u);
            ClickButton(dlg, IDC_START_STOP);
        });
    }
    EXPECT_EQ(rec.nBeginPeriod, 0);
    EXPECT_EQ(rec.nEndPeriod, 0);
}

TEST(Engine, StartTicksEveryPeriodAndStopEndsTheTicks) {
    MultimediaRecorder rec;
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        MoveSlider(dlg, 240);
        int nKillsBefore = rec.nKillEvent;
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_TRUE(dlg.Running());
        EXPECT_EQ(rec.nKillEvent, nKillsBefore + 1); // the first start kills event 0, harmlessly
        EXPECT_NE(dlg.TimerId(), 0u);
        EXPECT_EQ(rec.uLastDelay, 250u);
        EXPECT_EQ(dlg.nTicks, 0); // no tick at the moment of starting

        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return dlg.nTicks >= 3; }, 3000));

        ClickButton(dlg, IDC_START_STOP);
        EXPECT_FALSE(dlg.Running());
        EXPECT_EQ(dlg.TimerId(), 0u);
        int nAtStop = dlg.nTicks;
        PumpFor(dlg, 600);
        EXPECT_EQ(dlg.nTicks, nAtStop);
    });
}

namespace {

// The event no longer exists: killing it again is refused.
bool EventIsGone(UINT uId) { return SystemMultimedia().timeKillEvent(uId) != TIMERR_NOERROR; }

} // namespace

// Whatever call a tick or the sound thread is stuck in, Stop and closing the window return at
// once. When the call returns, nothing more is played or posted, even with the dialog gone.
// Whatever the choice is by then, Stop and the close silence a wave file that may still play.
TEST(Engine, StopAndCloseNeverWaitForAStuckCall) {
    using Call = MultimediaRecorder::Call;
    struct Case {
        const char* pszCall;
        int nSound;
        Call call;
        bool bOnSoundThread, bAfterStop;
    };
    const Case cases[] = {
        {"click", IDC_SOUND_BUILTIN, Call::Click, false, false},
        {"beep", IDC_SOUND_SPEAKER, Call::Beep, false, false},
        {"wave stop of a tick", IDC_SOUND_WAVE, Call::WaveStop, false, false},
        {"wave start", IDC_SOUND_WAVE, Call::WaveStart, false, false},
        {"file stamp", IDC_SOUND_WAVE, Call::FileStamp, true, false},
        {"device open", IDC_SOUND_WAVE, Call::DeviceOpen, true, false},
        {"wave stop of Stop", IDC_SOUND_WAVE, Call::WaveStop, true, true},
        {"device close", IDC_SOUND_BUILTIN, Call::DeviceClose, true, true},
    };
    TempFile wave("tickora stuck.wav", MakeWaveFile(0.05));
    const DWORD dwSoundThread = SoundThreadId();
    for (const Case& c : cases) {
        for (bool bByClose : {false, true}) {
            SCOPED_TRACE(std::string(c.pszCall) + (bByClose ? ", close" : ", Stop"));
            MultimediaRecorder rec;
            MessageBoxWatcher boxes;
            TickHold hold;
            rec.onCall = [&](Call call) {
                DWORD dwThread = GetCurrentThreadId();
                if (call == c.call && dwThread != rec.DialogThread() &&
                    (dwThread == dwSoundThread) == c.bOnSoundThread)
                    hold.Hold();
            };
            int nSounds = 0;
            // A late call that fails would be reported, were anything posted after it.
            auto releaseFailing = [&] {
                if (c.bOnSoundThread) {
                    EXPECT_TRUE(WaitForTimerThread());
                }
                nSounds = rec.SoundsStarted();
                rec.bFailClick = rec.bFailWavePlay = true;
                hold.Release();
                ASSERT_TRUE(hold.WaitReturned());
                EXPECT_TRUE(WaitForTimerThread());
                EXPECT_TRUE(WaitForSoundThread());
            };
            auto* pDlg = new CTestTickoraDlg;
            CTestTickoraDlg& dlg = *pDlg;
            dlg.bSilentTicks = false;
            RunModal(dlg, [&] {
                dlg.SetWaveFileForTest(wave.Path().c_str());
                ChooseRadio(dlg, c.nSound);
                MoveSlider(dlg, 240);
                ClickButton(dlg, IDC_START_STOP);
                UINT uOldId = dlg.TimerId();
                if (!c.bAfterStop) {
                    ASSERT_TRUE(hold.WaitHeld());
                } else {
                    ChooseRadio(dlg, IDC_SOUND_BUILTIN);
                }
                ClickButton(dlg, bByClose ? IDCANCEL : IDC_START_STOP);
                if (bByClose)
                    return; // the window goes once the script returns
                EXPECT_TRUE(hold.WaitHeld());
                EXPECT_FALSE(hold.Expired()) << "Stop returned only once the call gave up";
                EXPECT_FALSE(dlg.Running());
                releaseFailing();
                dlg.DeliverTick(uOldId); // a callback of the old event, late
                PumpFor(dlg, 50);
                ClickButton(dlg, IDCANCEL);
            });
            EXPECT_TRUE(hold.WaitHeld());
            EXPECT_FALSE(hold.Expired()) << "the close returned only once the call gave up";
            delete pDlg;
            if (bByClose) {
                releaseFailing();
            }
            EXPECT_EQ(rec.SoundsStarted(), nSounds) << "a sound after the stuck call returned";
            EXPECT_EQ(boxes.Count(), 0);
        }
    }
}

// A tick that holds the dialog makes no call that can wait before it lets go, so the close waits
// for it rather than free what the tick is about to read.
TEST(Engine, TheCloseWaitsForATickThatHoldsTheDialog) {
    TickHold hold;
    CTestTickoraDlg dlg;
    dlg.onTickInHand = [&] { hold.Hold(); };
    std::thread release([&] {
        if (hold.WaitHeld()) {
            Sleep(200); // well after a close that did not wait has returned
            hold.Release();
        }
    });
    RunModal(dlg, [&] {
        ClickButton(dlg, IDC_START_STOP);
        ASSERT_TRUE(hold.WaitHeld());
        ClickButton(dlg, IDCANCEL);
    });
    EXPECT_TRUE(hold.WaitReturned(0)) << "the dialog closed while a tick still held it";
    release.join();
}

// The failing tick has killed its own event and is held before it finishes; a restart from
// the slider meanwhile must not lose the new event to the tick's bookkeeping.
TEST(Engine, AFailingTickNeverLosesTheEventOfARestart) {
    MultimediaRecorder rec;
    rec.bFailWavePlay = true;
    TickHold hold;
    rec.onCall = [&](MultimediaRecorder::Call call) {
        if (call == MultimediaRecorder::Call::KillEvent &&
            GetCurrentThreadId() != rec.DialogThread())
            hold.Hold();
    };
    MessageBoxWatcher boxes;
    TempFile wave("tickora refused.wav", MakeWaveFile(0.05));
    CTestTickoraDlg dlg;
    dlg.bSilentTicks = false;
    RunModal(dlg, [&] {
        StartWaveFileBeat(dlg, wave.Path().c_str());
        ASSERT_TRUE(hold.WaitHeld());
        MoveSlider(dlg, 40);
        UINT uRestarted = rec.uLastEventId;
        hold.Release();
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return boxes.Count() > 0; }, 2000));
        EXPECT_FALSE(dlg.Running());
        EXPECT_EQ(dlg.TimerId(), 0u);
        EXPECT_TRUE(EventIsGone(uRestarted)) << "an event nobody can kill ticks on";
    });
}

TEST(Engine, MovingTheSliderWhileRunningRetimesTheBeat) {
    MultimediaRecorder rec;
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_EQ(rec.uLastDelay, 500u);
        UINT uFirstId = dlg.TimerId();
        int nEvents = rec.nSetEvent;

        MoveSlider(dlg, 240, TB_THUMBTRACK);
        EXPECT_EQ(rec.nSetEvent, nEvents + 1);
        EXPECT_EQ(rec.uLastDelay, 250u);
        EXPECT_NE(dlg.TimerId(), 0u);
        EXPECT_NE(dlg.TimerId(), uFirstId);
        EXPECT_EQ(WindowText(dlg.GetDlgItem(IDC_TEMPO_TEXT)), "240 bpm");
        dlg.nTicks = 0;
        PumpFor(dlg, 1120);
        EXPECT_GE(dlg.nTicks, 3);

        // A notification that leaves the position alone rewrites the read-out only.
        SetWindowTextA(dlg.GetDlgItem(IDC_TEMPO_TEXT), "stale");
        SendMessageA(dlg.m_hWnd, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0),
                     reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDC_TEMPO_SLIDER)));
        EXPECT_EQ(rec.nSetEvent, nEvents + 1);
        EXPECT_EQ(WindowText(dlg.GetDlgItem(IDC_TEMPO_TEXT)), "240 bpm");

        MoveSlider(dlg, 40);
        EXPECT_EQ(rec.uLastDelay, 1500u);
        EXPECT_EQ(WindowText(dlg.GetDlgItem(IDC_TEMPO_TEXT)), "40 bpm");
        ClickButton(dlg, IDC_START_STOP);
    });
}

TEST(Engine, SliderWhileStoppedChangesTheTempoOnly) {
    MultimediaRecorder rec;
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        MoveSlider(dlg, 96);
        EXPECT_EQ(dlg.Tempo(), 96);
        EXPECT_EQ(WindowText(dlg.GetDlgItem(IDC_TEMPO_TEXT)), "96 bpm");
        EXPECT_EQ(rec.nSetEvent, 0);
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_EQ(rec.uLastDelay, 625u);
        ClickButton(dlg, IDC_START_STOP);
    });
}

TEST(Engine, EachTickUsesTheSourceCheckedAtThatMoment) {
    MultimediaRecorder rec;
    MessageBoxWatcher boxes;
    TempFile wave("tickora engine tick.wav", MakeWaveFile(0.05));
    CTestTickoraDlg dlg;
    dlg.bSilentTicks = false;
    RunModal(dlg, [&] {
        dlg.SetWaveFileForTest(wave.Path().c_str());
        MoveSlider(dlg, 240);
        ClickButton(dlg, IDC_START_STOP);
        PumpFor(dlg, 700);
        EXPECT_GE(rec.nClicks, 2);
        EXPECT_EQ(rec.nWaveStarts, 0);

        ChooseRadio(dlg, IDC_SOUND_SPEAKER);
        EXPECT_TRUE(dlg.Running());
        PumpFor(dlg, 300); // let a click in progress finish
        int nClicks = rec.nClicks;
        int nTicks = dlg.nTicks;
        PumpFor(dlg, 700);
        EXPECT_GT(dlg.nTicks, nTicks);
        EXPECT_EQ(rec.nClicks, nClicks);
        EXPECT_EQ(rec.nWaveStarts, 0);

        ChooseRadio(dlg, IDC_SOUND_WAVE);
        PumpFor(dlg, 700);
        EXPECT_GE(rec.nWaveStarts, 2);
        EXPECT_EQ(rec.LastWavePath(), wave.Path());
        EXPECT_EQ(rec.nClicks, nClicks);
        EXPECT_TRUE(dlg.Running());
        ClickButton(dlg, IDC_START_STOP);
    });
    EXPECT_EQ(boxes.Count(), 0);
}

// A click lasts ~120 ms on the timer's thread; a choice made meanwhile (here Wave File with no
// file yet, as a click on that radio button makes it) must wait for the next tick, not send
// the same tick on to the wave file as well.
TEST(Engine, AChoiceMadeWhileAClickPlaysWaitsForTheNextTick) {
    MultimediaRecorder rec;
    MessageBoxWatcher boxes;
    CTestTickoraDlg dlg;
    dlg.bSilentTicks = false;
    std::atomic<bool> bSwitched{false};
    rec.onCall = [&](MultimediaRecorder::Call call) {
        if (call == MultimediaRecorder::Call::Click && !bSwitched.exchange(true))
            dlg.SetTickSoundMember(TickWaveFile);
    };
    RunModal(dlg, [&] {
        ClickButton(dlg, IDC_START_STOP); // 120 bpm: the next tick is 500 ms after the first
        ASSERT_TRUE(PumpUntil(
            dlg, [&] { return rec.nClicks > 0; }, 2000));
        PumpFor(dlg, 250);
        EXPECT_EQ(rec.nClicks, 1);
        EXPECT_EQ(rec.nWaveStops + rec.nWaveStarts, 0) << "the click's tick went on to the wave";
        EXPECT_TRUE(dlg.Running());
        EXPECT_EQ(boxes.Count(), 0);
        ClickButton(dlg, IDC_START_STOP);
    });
    EXPECT_EQ(boxes.Count(), 0);
}

// A tick that the timer delivers while Wave File with no file is being chosen, between the
// choice and the stop, must not see the new choice: it would report a failure over the file
// dialog and reset the choice.
TEST(Engine, ATickDuringTheChoiceOfWaveFileWithNoFileKeepsTheOldChoice) {
    MultimediaRecorder rec;
    MessageBoxWatcher boxes;
    CTestTickoraDlg dlg;
    dlg.bSilentTicks = false;
    RunModal(dlg, [&] {
        ClickButton(dlg, IDC_START_STOP);
        UINT uLiveId = dlg.TimerId();
        for (int n : {IDC_SOUND_BUILTIN, IDC_SOUND_SPEAKER, IDC_SOUND_WAVE})
            SendMessageA(dlg.GetDlgItem(n), BM_SETCHECK, n == IDC_SOUND_WAVE, 0);
        std::thread tick;
        std::atomic<bool> bTickDone{false};
        {
            // The stop refreshes the radio buttons: a tick comes at that moment.
            ControlSpy spy(dlg.GetDlgItem(IDC_SOUND_WAVE), [&](UINT uMsg) {
                if (uMsg != BM_SETCHECK || tick.joinable())
                    return;
                tick = std::thread([&] {
                    dlg.DeliverTick(uLiveId);
                    bTickDone = true;
                });
                for (int n = 0; n < 30 && !bTickDone; ++n)
                    Sleep(10);
            });
            ClickButton(dlg, IDC_SOUND_WAVE); // the file dialog is cancelled
        }
        ASSERT_TRUE(tick.joinable());
        tick.join();
        PumpFor(dlg, 200);
        EXPECT_EQ(rec.nWaveStarts, 0);
        EXPECT_EQ(boxes.Count(), 0);
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_WAVE));
        EXPECT_FALSE(dlg.Running());
    });
}

TEST(Engine, WaveFileWithNoFileChosenStopsAndOpensTheFileDialog) {
    MultimediaRecorder rec;
    MessageBoxWatcher boxes;
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        ClickButton(dlg, IDC_START_STOP);
        ASSERT_TRUE(dlg.Running());
        ChooseRadio(dlg, IDC_SOUND_WAVE); // the file dialog is cancelled
        EXPECT_EQ(boxes.FileDialogsSeen(), 1);
        EXPECT_FALSE(dlg.Running());
        EXPECT_EQ(dlg.TimerId(), 0u);
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_WAVE));
        EXPECT_STREQ(dlg.WaveFile(), "/none/");
        EXPECT_EQ(StartStopTip(dlg), "Starts the metronome");
    });
}

TEST(Engine, SelectConfirmedSetsTheFileAndChoiceCancelledChangesNothing) {
    MessageBoxWatcher boxes;
    TempFile wave("tickora chosen.wav", MakeWaveFile(0.05));
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        ClickButton(dlg, IDC_SELECT_WAVE); // cancelled
        EXPECT_EQ(boxes.FileDialogsSeen(), 1);
        EXPECT_STREQ(dlg.WaveFile(), "/none/");
        EXPECT_EQ(dlg.TickSoundChoice(), TickBuiltIn);
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_BUILTIN));

        boxes.AnswerFileDialog(wave.Path());
        ClickButton(dlg, IDC_SELECT_WAVE);
        EXPECT_EQ(boxes.FileDialogsSeen(), 2);
        EXPECT_EQ(lstrcmpiA(dlg.WaveFile(), wave.Path().c_str()), 0) << dlg.WaveFile().GetString();
        EXPECT_EQ(dlg.TickSoundChoice(), TickWaveFile);
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_WAVE));
        EXPECT_FALSE(IsChecked(dlg, IDC_SOUND_BUILTIN));
        EXPECT_FALSE(dlg.Running()); // choosing a file neither starts nor stops

        // With a file chosen, clicking Wave File again opens nothing.
        ChooseRadio(dlg, IDC_SOUND_WAVE);
        EXPECT_EQ(boxes.FileDialogsSeen(), 2);
    });
    EXPECT_EQ(boxes.Count(), 0);
}

TEST(Engine, RefusedTimerReportsAndStaysRunningUntilTheNextPress) {
    MultimediaRecorder rec;
    rec.bFailTimeSetEvent = true;
    MessageBoxWatcher boxes;
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        ClickButton(dlg, IDC_START_STOP);
        ASSERT_EQ(boxes.Count(), 1);
        EXPECT_EQ(boxes.Texts()[0], kNoTimer);
        EXPECT_TRUE(dlg.Running());
        EXPECT_EQ(dlg.TimerId(), 0u);
        EXPECT_EQ(StartStopTip(dlg), "Stops the metronome");

        // Moving the slider retries, and is refused again.
        MoveSlider(dlg, 200);
        EXPECT_EQ(boxes.Count(), 2);

        ClickButton(dlg, IDC_START_STOP);
        EXPECT_FALSE(dlg.Running());
        EXPECT_EQ(boxes.Count(), 2);
        EXPECT_EQ(StartStopTip(dlg), "Starts the metronome");
    });
}

namespace {

// Starts with Wave File chosen and path strPath; the first tick must fail.
void ExpectWaveTickFailure(const std::string& strPath, bool bNoWaveDevice = false) {
    SCOPED_TRACE(strPath);
    MultimediaRecorder rec;
    rec.bNoWaveDevice = bNoWaveDevice;
    MessageBoxWatcher boxes;
    CTestTickoraDlg dlg;
    dlg.bSilentTicks = false;
    RunModal(dlg, [&] {
        StartWaveFileBeat(dlg, strPath.c_str());
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return boxes.Count() > 0; }, 2000));
        PumpFor(dlg, 600);
        ASSERT_EQ(boxes.Count(), 1);
        EXPECT_EQ(boxes.Texts()[0], kCannotPlay);
        EXPECT_EQ(dlg.nTicks, 1); // stopped before the message: no further tick
        EXPECT_FALSE(dlg.Running());
        EXPECT_EQ(dlg.TimerId(), 0u);
        EXPECT_EQ(dlg.TickSoundChoice(), TickBuiltIn);
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_BUILTIN));
        EXPECT_FALSE(IsChecked(dlg, IDC_SOUND_WAVE));
        EXPECT_EQ(StartStopTip(dlg), "Starts the metronome");
        EXPECT_EQ(rec.nWaveStarts, 0) << "handed over a file that cannot be played";
        EXPECT_TRUE(WaitForSoundThread());
        EXPECT_EQ(rec.nWaveOutCloses, rec.nWaveOutOpens) << "the sound path is still held";
    });
}

} // namespace

TEST(Engine, WaveFileThatCannotBePlayedStopsAndFallsBackToTheClick) {
    ExpectWaveTickFailure("/none/");
    char szTemp[MAX_PATH];
    GetTempPathA(sizeof szTemp, szTemp);
    ExpectWaveTickFailure(std::string(szTemp) + "tickora no such file.wav");
    ExpectWaveTickFailure(szTemp); // a folder
    TempFile empty("tickora empty.wav", "");
    ExpectWaveTickFailure(empty.Path());
    // Files that exist but hold no sound the device can play.
    TempFile text("tickora text.wav", "Not a sound at all, just text.\r\n");
    ExpectRoundsLeaveNothing("a text file's tick", [&] { ExpectWaveTickFailure(text.Path()); });
    const std::string strWave = MakeWaveFile(0.05);
    TempFile cutInFormat("tickora cut in format.wav", strWave.substr(0, 30));
    ExpectWaveTickFailure(cutInFormat.Path());
    TempFile noSamples("tickora no samples.wav", strWave.substr(0, 44));
    ExpectWaveTickFailure(noSamples.Path());
    std::string strUnknownCodec = strWave;
    strUnknownCodec[20] = '\x34';
    strUnknownCodec[21] = '\x12';
    TempFile unknownCodec("tickora unknown codec.wav", strUnknownCodec);
    ExpectWaveTickFailure(unknownCodec.Path());
    // A good file with no sound device to play it.
    TempFile good("tickora no device.wav", strWave);
    ExpectWaveTickFailure(good.Path(), true);
}

// One idle wave-out handle is held from Start until the beat stops, whichever way it stops;
// when none can be had, the beat goes on without a word.
TEST(Engine, TheSoundPathIsHeldWarmOnlyWhileTheBeatRuns) {
    MultimediaRecorder rec;
    MessageBoxWatcher boxes;
    {
        CTestTickoraDlg dlg;
        RunModal(dlg, [&] {
            ClickButton(dlg, IDC_START_STOP);
            MoveSlider(dlg, 200);
            ASSERT_TRUE(WaitForSoundThread());
            EXPECT_EQ(rec.nWaveOutOpens, 1);
            EXPECT_EQ(rec.nWaveOutCloses, 0);
            ClickButton(dlg, IDC_START_STOP);
            ASSERT_TRUE(WaitForSoundThread());
            EXPECT_EQ(rec.nWaveOutCloses, 1);
            ClickButton(dlg, IDC_START_STOP);
            ASSERT_TRUE(WaitForSoundThread());
            EXPECT_EQ(rec.nWaveOutOpens, 2);
            ClickButton(dlg, IDCANCEL);
        });
        EXPECT_TRUE(WaitForSoundThread());
        EXPECT_EQ(rec.nWaveOutCloses, 2);
    }
    rec.bNoWaveDevice = true;
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        MoveSlider(dlg, 240);
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return dlg.nTicks >= 2; }, 2000));
        EXPECT_TRUE(dlg.Running());
        ClickButton(dlg, IDC_START_STOP);
    });
    EXPECT_TRUE(WaitForSoundThread());
    EXPECT_EQ(rec.nWaveOutCloses, 2);
    EXPECT_EQ(boxes.Count(), 0);
}

// A wave tick makes its two sound calls and nothing else; the sound thread finds out, within
// about a second, that the file has gone or the device no longer opens, and the next tick
// stops the beat.
TEST(Engine, WaveFileDeletedOrDeviceGoneAfterTheChoiceStopsTheBeat) {
    using Call = MultimediaRecorder::Call;
    for (bool bDeviceGone : {false, true}) {
        SCOPED_TRACE(bDeviceGone ? "device gone" : "file deleted");
        MultimediaRecorder rec;
        MessageBoxWatcher boxes;
        TempFile wave("tickora deleted.wav", MakeWaveFile(0.05));
        const DWORD dwSoundThread = SoundThreadId();
        std::atomic<int> nOtherCallsOfTicks{0};
        CTestTickoraDlg dlg;
        dlg.bSilentTicks = false;
        RunModal(dlg, [&] {
            boxes.AnswerFileDialog(wave.Path());
            ClickButton(dlg, IDC_SELECT_WAVE);
            ASSERT_EQ(dlg.TickSoundChoice(), TickWaveFile);
            rec.onCall = [&](Call call) {
                DWORD dwThread = GetCurrentThreadId();
                if (dwThread != dwSoundThread && dwThread != rec.DialogThread() &&
                    call != Call::WaveStop && call != Call::WaveStart && call != Call::KillEvent)
                    ++nOtherCallsOfTicks;
            };
            MoveSlider(dlg, 240);
            ClickButton(dlg, IDC_START_STOP);
            ASSERT_TRUE(PumpUntil(
                dlg, [&] { return rec.nWaveStarts >= 2; }, 3000));
            EXPECT_TRUE(dlg.Running());
            EXPECT_EQ(boxes.Count(), 0);
            if (bDeviceGone) {
                rec.bNoWaveDevice = true;
            } else {
                // While Wine plays the file it refuses to delete it: try again between beats.
                ASSERT_TRUE(PumpUntil(
                    dlg, [&] { return DeleteFileA(wave.Path().c_str()) != 0; }, 2000));
            }
            EXPECT_TRUE(PumpUntil(
                dlg, [&] { return boxes.Count() > 0; }, 3000));
            EXPECT_FALSE(dlg.Running());
            EXPECT_EQ(dlg.TickSoundChoice(), TickBuiltIn);
        });
        EXPECT_EQ(nOtherCallsOfTicks, 0) << "a wave tick made a call besides its sound";
    }
}

TEST(Engine, RefusedWavePlaybackIsReportedLikeAMissingFile) {
    MultimediaRecorder rec;
    rec.bFailWavePlay = true;
    MessageBoxWatcher boxes;
    TempFile wave("tickora refused.wav", MakeWaveFile(0.05));
    CTestTickoraDlg dlg;
    dlg.bSilentTicks = false;
    RunModal(dlg, [&] {
        StartWaveFileBeat(dlg, wave.Path().c_str());
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return !dlg.Running() && boxes.Count() == 1; }, 2000));
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_BUILTIN));
    });
}

TEST(Engine, WaveFileBehindSpacesAndNonAsciiCharactersPlays) {
    MultimediaRecorder rec;
    MessageBoxWatcher boxes;
    // "Täkt Ürger é.wav" in the ANSI code page 1252.
    TempFile wave("T\xE4kt \xDCrger \xE9.wav", MakeWaveFile(0.05));
    CTestTickoraDlg dlg;
    dlg.bSilentTicks = false;
    RunModal(dlg, [&] {
        StartWaveFileBeat(dlg, wave.Path().c_str());
        PumpFor(dlg, 800);
        EXPECT_TRUE(dlg.Running());
        EXPECT_GE(rec.nWaveStarts, 2);
        EXPECT_EQ(rec.LastWavePath(), wave.Path());
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_GE(rec.nWaveStops, 1); // stopping cuts the wave sound off
    });
    EXPECT_EQ(boxes.Count(), 0);
}

namespace {

// A wave file whose ADPCM format chunk holds 18 bytes and claims 65,535 more.
std::string MakeLyingWaveFile() {
    std::string s = MakeWaveFile(0.05);
    s[16] = 18;                  // the format chunk's size
    s[20] = 2;                   // WAVE_FORMAT_ADPCM
    s.insert(36, "\xFF\xFF", 2); // cbSize
    return s;
}

} // namespace

// Only a disk file whose header holds up is taken: a pipe or a device would hand over whatever
// arrives on it, or nothing, ever.
TEST(Engine, AChosenPathThatIsNoPlayableDiskFileIsRefusedAndThePreviousChoiceStays) {
    MessageBoxWatcher boxes;
    TempFile good("tickora good.wav", MakeWaveFile(0.05));
    TempFile lying("tickora lying header.wav", MakeLyingWaveFile());
    const char szPipe[] = "\\\\.\\pipe\\tickora wave";
    HANDLE hPipe =
        CreateNamedPipeA(szPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
    ASSERT_NE(hPipe, INVALID_HANDLE_VALUE);
    char szTemp[MAX_PATH];
    GetTempPathA(sizeof szTemp, szTemp);
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        dlg.ChooseWaveFileForTest(good.Path().c_str());
        ASSERT_EQ(boxes.Count(), 0);
        int nBoxes = 0;
        for (const char* pszPath :
             {szPipe, "NUL", static_cast<const char*>(szTemp), lying.Path().c_str()}) {
            SCOPED_TRACE(pszPath);
            dlg.ChooseWaveFileForTest(pszPath);
            ASSERT_EQ(boxes.Count(), ++nBoxes);
            EXPECT_EQ(boxes.Texts().back(), kCannotPlay);
            EXPECT_EQ(dlg.WaveFile().GetString(), good.Path());
            EXPECT_EQ(dlg.TickSoundChoice(), TickWaveFile);
        }
    });
    CloseHandle(hPipe);
}

namespace {
std::atomic<int> s_nTimerCalls{0};
void CALLBACK CountTimerCall(HWND, UINT, UINT_PTR, DWORD) { ++s_nTimerCalls; }
} // namespace

// A header read that stalls, as on a share that dropped, while files are chosen during the
// beat: the panel takes messages meanwhile, each choice gives up and says so, a stalled check
// is never joined by a second, and the beat goes on with the file it had. Stop and closing the
// window return while the read still hangs.
TEST(Engine, AWaveFileReadThatStallsNeverHoldsUpThePanel) {
    MultimediaRecorder rec;
    MessageBoxWatcher boxes;
    WaveFileReadStall stall;
    TempFile playing("tickora playing.wav", MakeWaveFile(0.05));
    TempFile stalling("tickora on a dropped share.wav", MakeWaveFile(0.05));
    CTestTickoraDlg dlg;
    dlg.bSilentTicks = false;
    RunModal(dlg, [&] {
        dlg.ChooseWaveFileForTest(playing.Path().c_str());
        MoveSlider(dlg, 240);
        ClickButton(dlg, IDC_START_STOP);
        ASSERT_TRUE(PumpUntil(
            dlg, [&] { return rec.nWaveStarts >= 2; }, 3000));

        stall.bStall = true;
        UINT_PTR idTimer = SetTimer(nullptr, 0, 10, CountTimerCall);
        for (int nChoice = 1; nChoice <= 10; ++nChoice) {
            dlg.ChooseWaveFileForTest(stalling.Path().c_str());
            ASSERT_EQ(boxes.Count(), nChoice);
        }
        KillTimer(nullptr, idTimer);
        EXPECT_GT(s_nTimerCalls, 0) << "no message was dispatched while the check waited";
        EXPECT_EQ(stall.nStalledNow, 1);
        EXPECT_EQ(stall.nMostStalledAtOnce, 1) << "a stalled check was joined by another";
        EXPECT_EQ(boxes.Texts()[0], kCannotPlay);
        EXPECT_EQ(dlg.WaveFile().GetString(), playing.Path());
        int nStarts = rec.nWaveStarts;
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return rec.nWaveStarts > nStarts; }, 3000));

        ClickButton(dlg, IDC_START_STOP);
        EXPECT_FALSE(dlg.Running());
        ClickButton(dlg, IDC_START_STOP);
        ASSERT_TRUE(PumpUntil(
            dlg, [&] { return rec.nWaveStarts > nStarts + 1; }, 3000));
        ClickButton(dlg, IDCANCEL);
    });
    EXPECT_EQ(stall.nStalledNow, 1) << "closing waited for the stalled read";
    EXPECT_EQ(boxes.Count(), 10);
}
