// What the diagnostic log, the text lookups and the terminal progress cost
// their callers.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/log.h"
#include "base/string_ids.h"
#include "base/texts.h"
#include "base/translate.h"
#include "cli/terminal_operator.h"

namespace {

std::string TempLog() {
    char tmpl[] = "/tmp/rk_bench_log_XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    return tmpl;
}

// A line below the configured level: what every detail line costs when the
// log is off.
void BM_LogMessageFiltered(benchmark::State& state) {
    rk::CDebug::Instance().SetPath(TempLog());
    rk::CDebug::Instance().Reset();
    rk::CDebug::Instance().SetLevelSource([] { return 1; });
    for (auto _ : state) rk::LogMessage(3, "CMainWin::AddVideo(): writing file %d, %d frames, %d clusters", 1, 2, 3);
    std::remove(rk::CDebug::Instance().Path().c_str());
    rk::CDebug::Instance().SetLevelSource(nullptr);
    rk::CDebug::Instance().Reset();
}
BENCHMARK(BM_LogMessageFiltered);

// A line written: open, lock, append, close.
void BM_LogMessageWritten(benchmark::State& state) {
    rk::CDebug::Instance().SetPath(TempLog());
    rk::CDebug::Instance().Reset();
    rk::CDebug::Instance().SetLevelSource([] { return 3; });
    for (auto _ : state) rk::LogMessage(3, "CMainWin::AddVideo(): writing file %d, %d frames, %d clusters", 1, 2, 3);
    state.SetItemsProcessed(state.iterations());
    std::remove(rk::CDebug::Instance().Path().c_str());
    rk::CDebug::Instance().SetLevelSource(nullptr);
    rk::CDebug::Instance().Reset();
}
BENCHMARK(BM_LogMessageWritten);

void BM_LoadTextEnglish(benchmark::State& state) {
    rk::CTranslate::Instance().Clear();
    std::string text;
    for (auto _ : state) {
        rk::LoadText(rk::IDS_MEDIA_WRITE_ERROR, text);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_LoadTextEnglish);

void BM_LoadTextRussian(benchmark::State& state) {
    rk::CTranslate::Instance().LoadPacks();
    rk::CTranslate::Instance().ChooseLanguage(1049);
    std::string text;
    for (auto _ : state) {
        rk::LoadText(rk::IDS_MEDIA_WRITE_ERROR, text);
        benchmark::DoNotOptimize(text);
    }
    rk::CTranslate::Instance().Clear();
}
BENCHMARK(BM_LoadTextRussian);

void BM_FormatTextRussian(benchmark::State& state) {
    rk::CTranslate::Instance().LoadPacks();
    rk::CTranslate::Instance().ChooseLanguage(1049);
    for (auto _ : state) {
        std::string s = rk::FormatText(rk::IDS_CARD_LINE, "HD 1080p50", "1.2 GB", "7.4 GB", 16);
        benchmark::DoNotOptimize(s);
    }
    rk::CTranslate::Instance().Clear();
}
BENCHMARK(BM_FormatTextRussian);

void BM_LoadPacks(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(rk::CTranslate::Instance().LoadPacks());
    rk::CTranslate::Instance().Clear();
}
BENCHMARK(BM_LoadPacks);

// One SetProgress per frame or Cluster, as operations call it; the terminal
// bar is drawn at most ten times a second, so most calls only read the clock.
void BM_TerminalSetProgress(benchmark::State& state) {
    bool yes = false;
    rk::cli::CTerminalOperator::Streams s;
    s.in = open("/dev/null", O_RDONLY);
    s.err = open("/dev/null", O_WRONLY);
    s.errIsTerminal = state.range(0) != 0;
    {
        rk::cli::CTerminalOperator op(&yes, s);
        op.BeginProgress(1 << 30);
        int64_t i = 0;
        for (auto _ : state) op.SetProgress(++i, false);
        op.EndProgress();
    }
    close(s.in);
    close(s.err);
}
BENCHMARK(BM_TerminalSetProgress)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
