// Planning cost of typing 1,024 characters of mixed prose (letters, digits,
// operators, line breaks, an emoji) into a process; the plan's own pause sum
// is reported as a counter so the figure can be set against the time the
// poster spends pacing the target anyway.
#include <benchmark/benchmark.h>

#include "input/key_plan.h"
#include "input/keymap.h"
#include "platform/platform.h"

namespace {

std::u16string MixedText() {
  const std::u16string line = u"Invoice 2024-17: total = 1,250 + 15% tax \U0001F4B8 due 30/09\r\n";
  std::u16string text;
  while (text.size() < addon::kMaxTypedTextUnits) text += line;
  text.resize(addon::kMaxTypedTextUnits);
  return text;
}

void BM_PlanTypeText1024(benchmark::State& state) {
  const std::u16string text = MixedText();
  addon::LayoutKeymap keymap = addon::KeyboardLayoutKeymap();
  double pause_ms = 0;
  for (auto _ : state) {
    addon::KeyPlan plan = addon::PlanTypeTextToPid(text, keymap);
    benchmark::DoNotOptimize(plan.intents.data());
    pause_ms = addon::PlanPauseMs(plan);
  }
  state.counters["pause_ms"] = pause_ms;
}
BENCHMARK(BM_PlanTypeText1024)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The layout table the typing plan reads (built once per layout).
void BM_BuildLayoutKeymap(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(addon::BuildLayoutKeymap(platform::Get().keyboard()));
  }
}
BENCHMARK(BM_BuildLayoutKeymap)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
