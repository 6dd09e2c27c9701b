// A job run on a worker thread of its own and waited for at most a time
// limit. A job that outlives the limit is abandoned, never killed: it runs
// to its end on its own and its answer is dropped. The job sees an
// `abandoned` flag that turns true at that moment, so it can cancel its
// transfer and must not touch shared state afterwards.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

namespace Zentrovak::Network {

using BoundedJob = std::function<int32_t(const std::atomic<bool>& abandoned)>;

// The job's answer when it ended in time; nothing when the time ran out or
// the thread could not be started.
std::optional<int32_t> RunBounded(BoundedJob job, uint32_t timeoutMs);

}  // namespace Zentrovak::Network
