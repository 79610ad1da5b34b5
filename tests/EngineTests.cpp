// The beat engine with the real multimedia timer and sound service under Wine: resolution,
// start, stop, retiming, tick sources, and every failure path.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <thread>

#include "MetronomeLogic.h"
#include "ProgramTexts.h"
#include "TestSupport.h"
#include "resource.h"

namespace {


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

// The event no longer exists: killing it again is refused.
bool EventIsGone(UINT uId) { return SystemMultimedia().timeKillEvent(uId) != TIMERR_NOERROR; }

std::string StartStopTip(CTestTickoraDlg& dlg) {
    return dlg.ToolTip()->GetText(dlg.GetDlgItem(IDC_START_STOP)).GetString();
}

// The panel most tests drive, playing its ticks: its multimedia calls recorded, its message
// boxes watched, and a short wave file at hand.
class Engine : public ::testing::Test {
protected:
    Engine() { dlg.bSilentTicks = false; }
    void Run(const std::function<void()>& script) { RunModal(dlg, script); }

    MultimediaRecorder rec;
    MessageBoxWatcher boxes;
    TempFile wave{"tickora engine.wav", MakeWaveFile(0.05)};
    CTestTickoraDlg dlg;
};

} // namespace

TEST(EngineCases, ResolutionIsNegotiatedAtConstructionAndReleasedAtDestruction) {
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

TEST(EngineCases, FailingDeviceCapabilitiesRequestNoResolution) {
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

TEST_F(Engine, StartTicksEveryPeriodAndStopEndsTheTicks) {
    Run([&] {
        MoveSlider(dlg, 240);
        int nKillsBefore = rec.nKillEvent;
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_TRUE(dlg.Running());
        EXPECT_EQ(rec.nKillEvent, nKillsBefore); // there is no event to kill yet
        EXPECT_NE(dlg.TimerId(), 0u);
        EXPECT_EQ(rec.uLastDelay, 250u);
        EXPECT_EQ(dlg.nTicks, 0); // no tick at the moment of starting

        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return dlg.nTicks >= 3; }, 3000));

        UINT uId = dlg.TimerId();
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_FALSE(dlg.Running());
        EXPECT_EQ(dlg.TimerId(), 0u);
        // The event is gone once it has been killed, and a callback of it that was already on
        // its way does nothing.
        ASSERT_TRUE(WaitForKilledEvents());
        EXPECT_TRUE(EventIsGone(uId));
        int nAtStop = dlg.nTicks;
        dlg.DeliverTick(uId);
        EXPECT_EQ(dlg.nTicks, nAtStop);
    });
}


// Whatever call a tick, the sound thread or the check thread is stuck in, Stop and closing the
// window return at once. When the call returns, nothing more is played or posted, even with the
// dialog gone. Whatever the choice is by then, Stop and the close silence a wave file that may
// still play. A silence held holds winmm's own lock, as Wine's does when it stops a sound on a
// server that does not answer: the dialog's thread must make no timer call behind it.
TEST(EngineCases, StopAndCloseNeverWaitForAStuckCall) {
    using Call = MultimediaRecorder::Call;
    enum class On { Tick, Sound, Check };
    struct Case {
        const char* pszCall;
        int nSound;
        Call call;
        On on;
        bool bAfterStop;
    };
    const Case cases[] = {
        {"click", IDC_SOUND_BUILTIN, Call::Click, On::Tick, false},
        {"beep", IDC_SOUND_SPEAKER, Call::Beep, On::Tick, false},
        {"wave stop of a tick", IDC_SOUND_WAVE, Call::WaveStop, On::Tick, false},
        {"wave start", IDC_SOUND_WAVE, Call::WaveStart, On::Tick, false},
        {"file stamp", IDC_SOUND_WAVE, Call::FileStamp, On::Check, false},
        {"warm handle's open", IDC_SOUND_BUILTIN, Call::DeviceOpen, On::Sound, false},
        {"wave stop of Stop", IDC_SOUND_WAVE, Call::WaveStop, On::Sound, true},
        {"device close", IDC_SOUND_BUILTIN, Call::DeviceClose, On::Sound, true},
    };
    TempFile wave("tickora stuck.wav", MakeWaveFile(0.05));
    const DWORD dwSoundThread = SoundThreadId(), dwCheckThread = CheckThreadId();
    auto threadOf = [&](DWORD dwThread) {
        return dwThread == dwSoundThread ? On::Sound
                                         : dwThread == dwCheckThread ? On::Check : On::Tick;
    };
    enum class End { Stop, Close, StopThenClose };
    for (const Case& c : cases) {
        for (End end : {End::Stop, End::Close, End::StopThenClose}) {
            SCOPED_TRACE(std::string(c.pszCall) + (end == End::Stop    ? ", Stop"
                                                   : end == End::Close ? ", close"
                                                                       : ", Stop then close"));
            MultimediaRecorder rec;
            rec.bSilenceHoldsWinmmLock = true;
            MessageBoxWatcher boxes;
            TickHold hold;
            rec.onCall = [&](Call call) {
                DWORD dwThread = GetCurrentThreadId();
                if (call == c.call && dwThread != rec.DialogThread() && threadOf(dwThread) == c.on)
                    hold.Hold();
            };
            int nSounds = 0;
            // A late call that fails would be reported, were anything posted after it.
            auto releaseFailing = [&] {
                if (c.on != On::Tick) {
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
                    ASSERT_TRUE(PumpUntil(
                        dlg, [&] { return rec.nWaveStarts > 0 || c.nSound != IDC_SOUND_WAVE; },
                        3000));
                    ChooseRadio(dlg, IDC_SOUND_BUILTIN);
                }
                ClickButton(dlg, end == End::Close ? IDCANCEL : IDC_START_STOP);
                if (end == End::Close)
                    return; // the window goes once the script returns
                EXPECT_TRUE(hold.WaitHeld());
                EXPECT_FALSE(hold.Expired()) << "Stop returned only once the call gave up";
                EXPECT_FALSE(dlg.Running());
                if (end == End::StopThenClose) {
                    // With no wave sound of ours about, nothing is silenced, and Start comes
                    // back at once too.
                    if (c.nSound != IDC_SOUND_WAVE) {
                        ClickButton(dlg, IDC_START_STOP);
                        ClickButton(dlg, IDC_START_STOP);
                        EXPECT_FALSE(hold.Expired()) << "Start waited behind a silence";
                    }
                    ClickButton(dlg, IDCANCEL);
                    return;
                }
                releaseFailing();
                dlg.DeliverTick(uOldId); // a callback of the old event, late
                PumpFor(dlg, 50);
                ClickButton(dlg, IDCANCEL);
            });
            EXPECT_TRUE(hold.WaitHeld());
            EXPECT_FALSE(hold.Expired()) << "the close returned only once the call gave up";
            delete pDlg;
            if (end != End::Stop) {
                releaseFailing();
            }
            EXPECT_EQ(rec.SoundsStarted(), nSounds) << "a sound after the stuck call returned";
            EXPECT_EQ(boxes.Count(), 0);
        }
    }
}

// A tick that holds the dialog makes no call that can wait before it lets go, so the close waits
// for it rather than free what the tick is about to read.
TEST(EngineCases, TheCloseWaitsForATickThatHoldsTheDialog) {
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
TEST_F(Engine, AFailingTickNeverLosesTheEventOfARestart) {
    rec.bFailWavePlay = true;
    TickHold hold;
    rec.onCall = [&](MultimediaRecorder::Call call) {
        if (call == MultimediaRecorder::Call::KillEvent &&
            GetCurrentThreadId() != rec.DialogThread())
            hold.Hold();
    };
    Run([&] {
        StartWaveFileBeat(dlg, wave.Path().c_str());
        ASSERT_TRUE(hold.WaitHeld());
        MoveSlider(dlg, 40);
        UINT uRestarted = rec.uLastEventId;
        hold.Release();
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return boxes.Count() > 0; }, 2000));
        EXPECT_FALSE(dlg.Running());
        EXPECT_EQ(dlg.TimerId(), 0u);
        ASSERT_TRUE(WaitForKilledEvents());
        EXPECT_TRUE(EventIsGone(uRestarted)) << "an event nobody can kill ticks on";
    });
}

TEST_F(Engine, MovingTheSliderWhileRunningRetimesTheBeat) {
    Run([&] {
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
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return dlg.nTicks >= 3; }, 3000));

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

TEST_F(Engine, SliderWhileStoppedChangesTheTempoOnly) {
    Run([&] {
        MoveSlider(dlg, 96);
        EXPECT_EQ(dlg.Tempo(), 96);
        EXPECT_EQ(WindowText(dlg.GetDlgItem(IDC_TEMPO_TEXT)), "96 bpm");
        EXPECT_EQ(rec.nSetEvent, 0);
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_EQ(rec.uLastDelay, 625u);
        ClickButton(dlg, IDC_START_STOP);
    });
}

TEST_F(Engine, EachTickUsesTheSourceCheckedAtThatMoment) {
    Run([&] {
        dlg.SetWaveFileForTest(wave.Path().c_str());
        MoveSlider(dlg, 240);
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return rec.nClicks >= 2; }, 3000));
        EXPECT_EQ(rec.nWaveStarts, 0);

        ChooseRadio(dlg, IDC_SOUND_SPEAKER);
        EXPECT_TRUE(dlg.Running());
        // The tick after the one in progress is the first that may beep.
        int nTicks = dlg.nTicks;
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return dlg.nTicks > nTicks + 1 && rec.nBeeps > 0; }, 3000));
        int nClicks = rec.nClicks;
        nTicks = dlg.nTicks;
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return dlg.nTicks > nTicks + 1; }, 3000));
        EXPECT_EQ(rec.nClicks, nClicks);
        EXPECT_EQ(rec.nWaveStarts, 0);

        ChooseRadio(dlg, IDC_SOUND_WAVE);
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return rec.nWaveStarts >= 2; }, 3000));
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
TEST_F(Engine, AChoiceMadeWhileAClickPlaysWaitsForTheNextTick) {
    std::atomic<bool> bSwitched{false};
    rec.onCall = [&](MultimediaRecorder::Call call) {
        if (call == MultimediaRecorder::Call::Click && !bSwitched.exchange(true))
            dlg.SetTickSoundMember(TickWaveFile);
    };
    Run([&] {
        ClickButton(dlg, IDC_START_STOP); // 120 bpm: the next tick is 500 ms after the first
        // Once the click is back and the timer's thread has run its next callback, the first
        // tick is over.
        ASSERT_TRUE(PumpUntil(
            dlg, [&] { return rec.nClicksDone > 0; }, 2000));
        ASSERT_TRUE(WaitForTimerThread());
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
TEST_F(Engine, ATickDuringTheChoiceOfWaveFileWithNoFileKeepsTheOldChoice) {
    Run([&] {
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

TEST_F(Engine, WaveFileWithNoFileChosenStopsAndOpensTheFileDialog) {
    Run([&] {
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

TEST_F(Engine, SelectConfirmedSetsTheFileAndChoiceCancelledChangesNothing) {
    Run([&] {
        ClickButton(dlg, IDC_SELECT_WAVE); // cancelled
        EXPECT_EQ(boxes.FileDialogsSeen(), 1);
        EXPECT_STREQ(dlg.WaveFile(), "/none/");
        EXPECT_EQ(dlg.TickSoundChoice(), TickBuiltIn);
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_BUILTIN));

        boxes.AnswerFileDialog(wave.Path());
        ClickButton(dlg, IDC_SELECT_WAVE);
        ASSERT_TRUE(dlg.WaitForWaveFileChoice());
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

TEST_F(Engine, RefusedTimerReportsAndStaysRunningUntilTheNextPress) {
    rec.bFailTimeSetEvent = true;
    Run([&] {
        ClickButton(dlg, IDC_START_STOP);
        ASSERT_EQ(boxes.Count(), 1);
        EXPECT_EQ(boxes.Texts()[0], kNoTimerText);
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
        EXPECT_EQ(boxes.Texts()[0], kCannotPlayText);
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

// The tick acts on the check's verdict alone: the check is asked about each kind of file that
// holds no sound the device plays, and the whole stop and report run for two of them.
TEST(EngineCases, WaveFileThatCannotBePlayedStopsAndFallsBackToTheClick) {
    char szTemp[MAX_PATH];
    GetTempPathA(sizeof szTemp, szTemp);
    TempFile empty("tickora empty.wav", "");
    TempFile text("tickora text.wav", "Not a sound at all, just text.\r\n");
    const std::string strWave = MakeWaveFile(0.05);
    TempFile cutInFormat("tickora cut in format.wav", strWave.substr(0, 30));
    TempFile noSamples("tickora no samples.wav", strWave.substr(0, 44));
    std::string strUnknownCodec = strWave;
    strUnknownCodec[20] = '\x34';
    strUnknownCodec[21] = '\x12';
    TempFile unknownCodec("tickora unknown codec.wav", strUnknownCodec);
    for (const std::string& strPath :
         {std::string("/none/"), std::string(szTemp) + "tickora no such file.wav",
          std::string(szTemp), empty.Path(), text.Path(), cutInFormat.Path(), noSamples.Path(),
          unknownCodec.Path()}) {
        SCOPED_TRACE(strPath);
        WaveFileCheck check;
        std::thread([&] { check = CheckWaveFile(strPath.c_str()); }).join();
        EXPECT_FALSE(check.HoldsSound());
    }
    ExpectRoundsLeaveNothing("a text file's tick", [&] { ExpectWaveTickFailure(text.Path()); });
    // A good file with no sound device to play it.
    TempFile good("tickora no device.wav", strWave);
    ExpectWaveTickFailure(good.Path(), true);
}

// One idle wave-out handle is held from Start until the beat stops, whichever way it stops;
// when none can be had, the beat goes on without a word.
TEST(EngineCases, TheSoundPathIsHeldWarmOnlyWhileTheBeatRuns) {
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

namespace {

// Writes content over the file at strPath; false while another opener denies writing (Wine's
// PlaySound does, while it plays the file).
bool Rewrite(const std::string& strPath, const std::string& strContent) {
    HANDLE hFile = CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD dwWritten = 0;
    WriteFile(hFile, strContent.data(), static_cast<DWORD>(strContent.size()), &dwWritten, nullptr);
    CloseHandle(hFile);
    return dwWritten == strContent.size();
}

} // namespace

// A wave tick makes its two sound calls and nothing else; the check thread finds out, about
// once a second at any tempo, that the file has gone, has been saved again as something that
// does not play, or that the device no longer opens, and the beat stops.
TEST(EngineCases, WaveFileDeletedOrDeviceGoneAfterTheChoiceStopsTheBeat) {
    using Call = MultimediaRecorder::Call;
    for (const char* pszCase : {"file deleted", "saved as text", "device gone"}) {
        SCOPED_TRACE(pszCase);
        MultimediaRecorder rec;
        MessageBoxWatcher boxes;
        TempFile wave("tickora deleted.wav", MakeWaveFile(0.05));
        const DWORD dwSoundThread = SoundThreadId(), dwCheckThread = CheckThreadId();
        std::atomic<int> nOtherCallsOfTicks{0};
        CTestTickoraDlg dlg;
        dlg.bSilentTicks = false;
        RunModal(dlg, [&] {
            boxes.AnswerFileDialog(wave.Path());
            ClickButton(dlg, IDC_SELECT_WAVE);
            ASSERT_TRUE(dlg.WaitForWaveFileChoice());
            ASSERT_EQ(dlg.TickSoundChoice(), TickWaveFile);
            rec.onCall = [&](Call call) {
                DWORD dwThread = GetCurrentThreadId();
                if (dwThread != dwSoundThread && dwThread != dwCheckThread &&
                    dwThread != rec.DialogThread() &&
                    call != Call::WaveStop && call != Call::WaveStart && call != Call::KillEvent)
                    ++nOtherCallsOfTicks;
            };
            MoveSlider(dlg, 240);
            ClickButton(dlg, IDC_START_STOP);
            ASSERT_TRUE(PumpUntil(
                dlg, [&] { return rec.nWaveStarts >= 2; }, 3000));
            MoveSlider(dlg, 40);
            EXPECT_TRUE(dlg.Running());
            EXPECT_EQ(boxes.Count(), 0);
            const std::string strCase = pszCase;
            if (strCase == "device gone") {
                rec.bNoWaveDevice = true;
            } else {
                // While Wine plays the file it refuses to change it: try again between beats.
                ASSERT_TRUE(PumpUntil(
                    dlg,
                    [&] {
                        return strCase == "file deleted" ? DeleteFileA(wave.Path().c_str()) != 0
                                                         : Rewrite(wave.Path(), "Not a sound.");
                    },
                    2000));
            }
            EXPECT_TRUE(PumpUntil(
                dlg, [&] { return boxes.Count() > 0; }, 3000));
            EXPECT_FALSE(dlg.Running());
            EXPECT_EQ(dlg.TickSoundChoice(), TickBuiltIn);
        });
        EXPECT_EQ(nOtherCallsOfTicks, 0) << "a wave tick made a call besides its sound";
    }
}

namespace {

// The check thread's opens of the file being saved again; the second finishes the save first.
std::atomic<DWORD> s_dwCheckThread{0};
std::atomic<int> s_nCheckOpens{0};
std::string s_strSavedPath, s_strSaved;

HANDLE WINAPI OpenFinishingTheSave(LPCSTR pszPath, DWORD dwAccess, DWORD dwShare,
                                   LPSECURITY_ATTRIBUTES pSecurity, DWORD dwCreation,
                                   DWORD dwFlags, HANDLE hTemplate) {
    if (GetCurrentThreadId() == s_dwCheckThread && ++s_nCheckOpens == 2) {
        for (int n = 0; n < 400 && !Rewrite(s_strSavedPath, s_strSaved); ++n)
            Sleep(5);
    }
    return SystemWaveFileIo().CreateFileA(pszPath, dwAccess, dwShare, pSecurity, dwCreation,
                                          dwFlags, hTemplate);
}

} // namespace

// A sound editor saves the file while it beats: the check finds the header half written, looks
// once more, by then the save is done, and the new file is taken as it is and beats on.
TEST_F(Engine, AWaveFileSavedAgainIsCheckedAgainAndBeatsOn) {
    using Call = MultimediaRecorder::Call;
    s_strSavedPath = wave.Path();
    s_strSaved = MakeWaveFile(0.08);
    s_nCheckOpens = 0;
    s_dwCheckThread = CheckThreadId();
    std::atomic<int> nChecks{0};
    rec.onCall = [&](Call call) {
        if (call == Call::FileStamp && GetCurrentThreadId() == s_dwCheckThread)
            ++nChecks;
    };
    Run([&] {
        StartWaveFileBeat(dlg, wave.Path().c_str());
        ASSERT_TRUE(PumpUntil(
            dlg, [&] { return nChecks >= 1 && rec.nWaveStarts >= 1; }, 3000));
        WaveFileIo().CreateFileA = OpenFinishingTheSave;
        ASSERT_TRUE(PumpUntil(
            dlg, [&] { return Rewrite(wave.Path(), s_strSaved.substr(0, 20)); }, 2000));
        ASSERT_TRUE(PumpUntil(
            dlg, [&] { return s_nCheckOpens >= 2; }, 4000));
        // The check after next has begun: the next one found the file as it was taken.
        int nAtSave = nChecks;
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return nChecks > nAtSave + 1; }, 4000));
        EXPECT_EQ(s_nCheckOpens, 2) << "the saved file's stamp was not taken";
        EXPECT_TRUE(dlg.Running());
        EXPECT_EQ(boxes.Count(), 0);
        ClickButton(dlg, IDC_START_STOP);
    });
    WaveFileIo().CreateFileA = SystemWaveFileIo().CreateFileA;
}

// A liveness check that hangs, as on a server that has stopped answering, counts as failed once
// its bound has passed: the beat stops with the message and falls back to the click while the
// check is still held, and the stop's silence and the release of the held handle have run.
TEST_F(Engine, AHungLivenessCheckCountsAsFailedAndHoldsUpNoSilence) {
    using Call = MultimediaRecorder::Call;
    TickHold hold;
    const DWORD dwCheckThread = CheckThreadId(), dwSoundThread = SoundThreadId();
    std::atomic<int> nSilences{0};
    rec.onCall = [&](Call call) {
        if (call == Call::FileStamp && GetCurrentThreadId() == dwCheckThread)
            hold.Hold();
        if (call == Call::WaveStop && GetCurrentThreadId() == dwSoundThread)
            ++nSilences;
    };
    Run([&] {
        StartWaveFileBeat(dlg, wave.Path().c_str());
        ASSERT_TRUE(hold.WaitHeld());
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return boxes.Count() > 0; }, 4000));
        EXPECT_TRUE(WaitForSoundThread(1000)) << "the sound thread waits for the check";
        EXPECT_FALSE(hold.Expired()) << "the check returned before the beat stopped";
        ASSERT_EQ(boxes.Count(), 1);
        EXPECT_EQ(boxes.Texts()[0], kCannotPlayText);
        EXPECT_FALSE(dlg.Running());
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_BUILTIN));
        EXPECT_GE(nSilences, 1);
        EXPECT_EQ(rec.nWaveOutCloses, rec.nWaveOutOpens) << "the sound path is still held";
    });
}

// A silence stuck behind a playing sound holds up the sound thread's later jobs, and no thread
// more: they run in order once it returns, each close after its open, and
// a silence of a run that a newer one has since sounded in is dropped rather than cut its tick.
TEST_F(Engine, SilencesBehindAStuckOneRunInOrderAndAStaleOneIsDropped) {
    using Call = MultimediaRecorder::Call;
    TickHold hold;
    const DWORD dwSoundThread = SoundThreadId();
    std::atomic<int> nSilences{0};
    std::string strHandle; // 'o' for each device open of the sound thread, 'c' for each close
    rec.onCall = [&](Call call) {
        if (GetCurrentThreadId() != dwSoundThread)
            return;
        if (call == Call::WaveStop && ++nSilences == 1)
            hold.Hold();
        if (call == Call::DeviceOpen || call == Call::DeviceClose)
            strHandle += call == Call::DeviceOpen ? 'o' : 'c';
    };
    Run([&] {
        StartWaveFileBeat(dlg, wave.Path().c_str());
        for (int nRun = 1; nRun <= 3; ++nRun) {
            int nStarts = rec.nWaveStarts;
            ASSERT_TRUE(PumpUntil(
                dlg, [&] { return rec.nWaveStarts > nStarts; }, 3000));
            if (nRun < 3) {
                ClickButton(dlg, IDC_START_STOP);
                ASSERT_TRUE(hold.WaitHeld());
                ClickButton(dlg, IDC_START_STOP);
            }
        }
        EXPECT_EQ(nSilences, 1) << "a second thread was stuck";
        hold.Release();
        EXPECT_TRUE(WaitForSoundThread());
        EXPECT_EQ(nSilences, 1) << "the silence of the second run cut a tick of the third";
        // Each close follows its open (the liveness check's own come in pairs), and the
        // running beat holds one handle.
        int nOpen = 0;
        for (char c : strHandle)
            EXPECT_GE(nOpen += c == 'o' ? 1 : -1, 0) << strHandle;
        EXPECT_EQ(nOpen, 1) << strHandle;
        ClickButton(dlg, IDC_START_STOP);
    });
    EXPECT_FALSE(hold.Expired());
}

// A wave start stuck until after Stop starts the file when it returns: it is silenced at once,
// on its own thread, unless a tick of a newer run has gone on to its sound meanwhile, which
// that silence would cut.
TEST(EngineCases, AWaveStartBackAfterStopIsSilencedUnlessANewerRunHasSounded) {
    using Call = MultimediaRecorder::Call;
    for (bool bNewerRun : {false, true}) {
        SCOPED_TRACE(bNewerRun ? "a newer run has sounded" : "stopped");
        MultimediaRecorder rec;
        MessageBoxWatcher boxes;
        TickHold hold;
        TempFile wave("tickora late start.wav", MakeWaveFile(0.05));
        std::atomic<DWORD> dwLate{0};
        std::atomic<int> nLateSilences{0};
        rec.onCall = [&](Call call) {
            if (GetCurrentThreadId() != dwLate)
                return;
            if (call == Call::WaveStart)
                hold.Hold();
            else if (call == Call::WaveStop && hold.WaitHeld(0))
                ++nLateSilences;
        };
        CTestTickoraDlg dlg;
        dlg.bSilentTicks = false;
        RunModal(dlg, [&] {
            StartWaveFileBeat(dlg, wave.Path().c_str());
            ASSERT_TRUE(PumpUntil(
                dlg, [&] { return rec.nWaveStarts > 0; }, 3000));
            // A callback of the live event, on a thread of its own, held in its start.
            UINT uLiveId = dlg.TimerId();
            std::thread late([&, uLiveId] {
                dwLate = GetCurrentThreadId();
                dlg.DeliverTick(uLiveId);
            });
            ASSERT_TRUE(hold.WaitHeld());
            ClickButton(dlg, IDC_START_STOP);
            if (bNewerRun) {
                ClickButton(dlg, IDC_START_STOP);
                int nStarts = rec.nWaveStarts;
                EXPECT_TRUE(PumpUntil(
                    dlg, [&] { return rec.nWaveStarts > nStarts; }, 3000));
            }
            hold.Release();
            late.join();
            EXPECT_EQ(nLateSilences, bNewerRun ? 0 : 1);
            EXPECT_EQ(boxes.Count(), 0);
            if (dlg.Running())
                ClickButton(dlg, IDC_START_STOP);
        });
    }
}

TEST_F(Engine, RefusedWavePlaybackIsReportedLikeAMissingFile) {
    rec.bFailWavePlay = true;
    Run([&] {
        StartWaveFileBeat(dlg, wave.Path().c_str());
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return !dlg.Running() && boxes.Count() == 1; }, 2000));
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_BUILTIN));
    });
}

TEST_F(Engine, WaveFileBehindSpacesAndNonAsciiCharactersPlays) {
    // "Täkt Ürger é.wav" in UTF-8, the ANSI code page the manifest asks for.
    TempFile accented("T\xC3\xA4kt \xC3\x9Crger \xC3\xA9.wav", MakeWaveFile(0.05));
    Run([&] {
        StartWaveFileBeat(dlg, accented.Path().c_str());
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return rec.nWaveStarts >= 2; }, 3000));
        EXPECT_TRUE(dlg.Running());
        EXPECT_EQ(rec.LastWavePath(), accented.Path());
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
TEST_F(Engine, AChosenPathThatIsNoPlayableDiskFileIsRefusedAndThePreviousChoiceStays) {
    TempFile good("tickora good.wav", MakeWaveFile(0.05));
    TempFile lying("tickora lying header.wav", MakeLyingWaveFile());
    const char szPipe[] = "\\\\.\\pipe\\tickora wave";
    HANDLE hPipe =
        CreateNamedPipeA(szPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
    ASSERT_NE(hPipe, INVALID_HANDLE_VALUE);
    char szTemp[MAX_PATH];
    GetTempPathA(sizeof szTemp, szTemp);
    Run([&] {
        dlg.ChooseWaveFileForTest(good.Path().c_str());
        ASSERT_EQ(boxes.Count(), 0);
        int nBoxes = 0;
        for (const char* pszPath :
             {szPipe, "NUL", static_cast<const char*>(szTemp), lying.Path().c_str()}) {
            SCOPED_TRACE(pszPath);
            dlg.ChooseWaveFileForTest(pszPath);
            ASSERT_EQ(boxes.Count(), ++nBoxes);
            EXPECT_EQ(boxes.Texts().back(), kCannotPlayText);
            EXPECT_EQ(dlg.WaveFile().GetString(), good.Path());
            EXPECT_EQ(dlg.TickSoundChoice(), TickWaveFile);
        }
    });
    CloseHandle(hPipe);
}
