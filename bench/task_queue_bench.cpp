// Posting a task holds the queue lock only for a constant-time list change.
#include <benchmark/benchmark.h>

#include "core/state/task_queue.h"

namespace {

void BM_PushPop(benchmark::State& state)
{
    CTaskQueue queue;
    std::shared_ptr<TaskDataInfo> record;
    for (auto _ : state) {
        queue.Push(std::make_shared<TaskDataInfo>(TASK_ID_DEFAULT), true);
        queue.Pop(record);
    }
}
BENCHMARK(BM_PushPop);

void BM_DuplicatePost(benchmark::State& state)
{
    CTaskQueue queue;
    queue.Push(std::make_shared<TaskDataInfo>(TASK_ID_DEFAULT), true);
    queue.Push(std::make_shared<TaskDataInfo>(TASK_ID_SUPRISE_REMOVE), false);
    auto post = std::make_shared<TaskDataInfo>(TASK_ID_DEFAULT);
    for (auto _ : state) {
        benchmark::DoNotOptimize(queue.Push(post, true));
    }
}
BENCHMARK(BM_DuplicatePost);

}  // namespace
