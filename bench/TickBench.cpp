// In-process beat timing: the real control panel and multimedia timer, each tick
// timestamped with QueryPerformanceCounter through an OnTick() override.
// Prints Markdown tables; scripts/run-bench.sh puts them into docs/BENCHMARKS.md.
//   tick_bench.exe [beats per tempo, 0: none] [wave file, for its tick's hold]
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "MetronomeLogic.h"
#include "TickoraDlg.h"
#include "WaveFile.h"
#include "resource.h"

namespace {

double NowMs() {
    static LARGE_INTEGER s_freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(s_freq.QuadPart);
}

class CBenchDlg : public CTickoraDlg {
public:
    int nTempo = 120;
    int nBeats = 50;
    bool bPlayClick = false;
    const char* pszWave = nullptr;  // chosen before the start, as the user would
    std::vector<double> tickTimes;   // ms, when each tick began
    std::vector<double> clickTimes;  // ms, how long each tick held the timer thread
    HANDLE hDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    ~CBenchDlg() override { CloseHandle(hDone); }

protected:
    BOOL OnInitDialog() override {
        CTickoraDlg::OnInitDialog();
        // Checked here rather than as a choice, whose result would come after the start.
        if (pszWave) {
            SetWaveFile(pszWave, CheckWaveFile(pszWave));
            m_nTickSound = TickWaveFile;
            UpdateData(FALSE);
        }
        HWND hSlider = GetDlgItem(IDC_TEMPO_SLIDER);
        SendMessageA(hSlider, TBM_SETPOS, TRUE, nTempo);
        SendMessageA(m_hWnd, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, nTempo),
                     reinterpret_cast<LPARAM>(hSlider));
        tickTimes.reserve(nBeats + 1);
        PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_START_STOP, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(IDC_START_STOP)));
        return TRUE;
    }

    void OnTick() override {
        double dStart = NowMs();
        if (static_cast<int>(tickTimes.size()) <= nBeats)
            tickTimes.push_back(dStart);
        if (bPlayClick) {
            CTickoraDlg::OnTick();
            clickTimes.push_back(NowMs() - dStart);
        }
        if (static_cast<int>(tickTimes.size()) > nBeats) {
            SetEvent(hDone);
            PostMessageA(m_hWnd, WM_COMMAND, IDCANCEL, 0);
        }
    }
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

void MeasureTempo(int nTempo, int nBeats) {
    CBenchDlg dlg;
    dlg.nTempo = nTempo;
    dlg.nBeats = nBeats;
    dlg.DoModal();
    const double dPeriod = BeatPeriodMs(nTempo);
    const std::vector<double>& t = dlg.tickTimes;
    if (t.size() < 2) {
        std::printf("| %d | %.0f | no ticks | | | | | |\n", nTempo, dPeriod);
        return;
    }
    std::vector<double> deviations;
    double dSum = 0;
    int nMissed = 0;
    for (size_t i = 1; i < t.size(); ++i) {
        double dInterval = t[i] - t[i - 1];
        dSum += dInterval;
        deviations.push_back(std::fabs(dInterval - dPeriod));
        nMissed += std::max(0, static_cast<int>(std::lround(dInterval / dPeriod)) - 1);
    }
    size_t nIntervals = t.size() - 1;
    double dDriftHalf = (t[nIntervals / 2] - t[0]) - dPeriod * static_cast<double>(nIntervals / 2);
    double dDrift = (t.back() - t[0]) - dPeriod * static_cast<double>(nIntervals);
    std::printf("| %d | %.0f | %zu | %.3f | %.3f | %.3f | %+.2f / %+.2f | %d |\n", nTempo, dPeriod,
                nIntervals, dSum / static_cast<double>(nIntervals), Percentile(deviations, 0.5),
                Percentile(deviations, 0.99), dDriftHalf, dDrift, nMissed);
}

void PrintHoldTable(const std::string& strTitle, const std::vector<double>& c) {
    std::printf("\n| %s | ms |\n|---|---|\n", strTitle.c_str());
    std::printf("| first (device start-up) | %.1f |\n", c.front());
    std::vector<double> rest(c.begin() + 1, c.end());
    std::printf("| median of the next %zu | %.2f |\n", rest.size(), Percentile(rest, 0.5));
    std::printf("| p99 of the next %zu | %.2f |\n", rest.size(), Percentile(rest, 0.99));
    std::printf("| maximum of the next %zu | %.2f |\n", rest.size(),
                rest.empty() ? 0.0 : *std::max_element(rest.begin(), rest.end()));
    std::fflush(stdout);
}

// How long each tick of a sound holds the timer thread at 240 bpm.
void MeasureHold(const char* pszName, const char* pszWave, int nTicks) {
    CBenchDlg dlg;
    dlg.nTempo = 240;
    dlg.nBeats = nTicks;
    dlg.bPlayClick = true;
    dlg.pszWave = pszWave;
    dlg.DoModal();
    const std::vector<double>& c = dlg.clickTimes;
    if (c.empty()) {
        std::printf("\n%s: no ticks measured\n", pszName);
        return;
    }
    PrintHoldTable(std::string(pszName) + " holds the timer thread", c);
}

// What a wave tick used to do before its two sound calls, and what the sound thread now does
// about once a second instead: the file's attributes, and the device opened for its format and
// closed again. Timed as the tick made it: the hold before was about this plus the above.
void MeasureFormerTickCheck(const char* pszWave, int nTimes) {
    WaveFileCheck check = CheckWaveFile(pszWave);
    std::vector<double> c;
    for (int i = 0; i < nTimes; ++i) {
        double dStart = NowMs();
        if (!IsUnchangedSinceCheck(pszWave, check.stamp) || !OpensDeviceFor(check.format)) {
            std::printf("\n%s: the check failed\n", pszWave);
            return;
        }
        c.push_back(NowMs() - dStart);
        Sleep(250);  // a tick's spacing at 240 bpm
    }
    PrintHoldTable("The file and device check a wave tick made before (now on the sound thread)", c);
}

} // namespace

int main(int argc, char** argv) {
    int nBeats = argc > 1 ? std::atoi(argv[1]) : 50;
    const char* pszWave = argc > 2 ? argv[2] : nullptr;
    if (nBeats > 0) {
        nBeats = std::max(2, nBeats);
        std::printf("| Tempo (bpm) | Period (ms) | Intervals | Mean interval (ms) "
                    "| Median |dev| (ms) | p99 |dev| (ms) | Drift at half / end (ms) | Missed |\n");
        std::printf("|---|---|---|---|---|---|---|---|\n");
        for (int nTempo : {40, 70, 120, 240}) {
            MeasureTempo(nTempo, nBeats);
            std::fflush(stdout);
        }
    }
    // Enough ticks for a 99th percentile that is not just the maximum (25 s at 240 bpm).
    MeasureHold("Built-in click", nullptr, 100);
    if (pszWave) {
        MeasureHold("Wave file", pszWave, 100);
        MeasureFormerTickCheck(pszWave, 101);
    }
    return 0;
}
