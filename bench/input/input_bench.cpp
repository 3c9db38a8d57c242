// Cost of reading a key-mapping file and of the lookup that runs on every key message.
#include <benchmark/benchmark.h>

#include <string>

#include "input/configuremanager.h"
#include "input/operationtable.h"

namespace {

// One-key records over the letter keys, then letter-and-digit pairs, like a large game mapping.
std::string keymap(int records) {
    std::string text = "GAMENAME: bench\n";
    for (int i = 0; i < records; ++i) {
        text += "{\nAlias: r" + std::to_string(i) + "\nKeycode: " + std::to_string(65 + i % 26) + "\n";
        if (i >= 26) text += "Keycode: " + std::to_string(48 + i % 10) + "\n";
        text += "Phonex: " + std::to_string(i * 100) + "\nPhoney: 32768\nOperationid: 100\n}\n";
    }
    return text;
}

void BM_ReadKeymap(benchmark::State& state) {
    const std::string text = keymap(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        OperationTable table;
        ConfigureManager::readConfigText(text, table);
        benchmark::DoNotOptimize(table.operations().size());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadKeymap)->Arg(16)->Arg(256);

// The lookup for a held combination that no record has, so every record is compared: the worst case.
void BM_FindOperation(benchmark::State& state) {
    OperationTable table;
    ConfigureManager::readConfigText(keymap(static_cast<int>(state.range(0))), table);
    table.setKeyState('A', true);
    table.setKeyState('B', true);
    for (auto _ : state)
        benchmark::DoNotOptimize(table.findOperation());
}
BENCHMARK(BM_FindOperation)->Arg(16)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
