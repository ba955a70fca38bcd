// Threads for work that must start at once and may wait on the network for a while (a health
// check's exchanges, a name's look-up): each task runs on a thread of its own, taken from the
// threads earlier tasks left idle, or made when none is. A task never waits for a thread, so one
// that waits on a silent server holds nobody else; and checks made again and again do not pay
// for making threads each time. A thread idle for kIdleWorkerLifetime ends.
#pragma once

#include <chrono>
#include <functional>

// Longer than the scrape interval Prometheus is usually given, so that the threads of one
// scrape serve the next.
inline constexpr std::chrono::minutes kIdleWorkerLifetime{ 2 };

// Runs task on a worker thread, at once. Throws std::system_error when no thread can be made.
void RunOnWorkerThread(std::function<void()> task);
