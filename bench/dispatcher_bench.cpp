// Throughput of the task dispatcher with empty tasks: what the runtime
// itself costs per task, on its two workers.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <vector>

#include "ostra/task_dispatcher.h"

namespace {

// Runs `rounds` times, then counts itself as finished; the last task to
// finish stops the dispatcher.
class EmptyTask : public Ostra::Task {
 public:
  EmptyTask(std::atomic<int>& finished, int total, int rounds) : finished_(finished), total_(total), rounds_(rounds) {}

  void run(Ostra::TaskContext& context, Ostra::Tick) override {
    if (++runs_ < rounds_) {
      context.disposition = Ostra::TaskContext::Requeue;
      return;
    }
    runs_ = 0;
    if (++finished_ == total_) context.dispatcher->stop();
  }

 private:
  std::atomic<int>& finished_;
  int total_;
  int rounds_;
  int runs_ = 0;
};

void runBatch(benchmark::State& state, int rounds) {
  const int tasks = static_cast<int>(state.range(0));
  std::atomic<int> finished{0};
  std::vector<std::unique_ptr<EmptyTask>> pool;
  for (int i = 0; i < tasks; ++i) pool.push_back(std::make_unique<EmptyTask>(finished, tasks, rounds));
  for (auto _ : state) {
    finished = 0;
    Ostra::TaskDispatcher dispatcher;
    for (auto& t : pool) dispatcher.post(t.get());
    if (!dispatcher.start()) {
      state.SkipWithError("the dispatcher could not start");
      break;
    }
    dispatcher.wait();
  }
  state.SetItemsProcessed(state.iterations() * tasks * rounds);
}

// Post, start, run once each, stop: includes starting and ending the two
// threads, which larger batches amortise.
void BM_PostAndRun(benchmark::State& state) { runBatch(state, 1); }
BENCHMARK(BM_PostAndRun)->Arg(1000)->Arg(100000)->UseRealTime()->Unit(benchmark::kMillisecond);

// Each task goes back to the ready list 99 times: the per-run cost of the
// worker loop without posts.
void BM_RequeueRuns(benchmark::State& state) { runBatch(state, 100); }
BENCHMARK(BM_RequeueRuns)->Arg(2)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
