// Queues of blocks: the main queue (mainAsync, mainAfter: a delay of the main loop's clock), the
// worker pool (Queue::global()), serial queues (one block at a time, on the pool), and LoopThread (a
// thread running its own loop). A block on the pool counts as work in flight on the process clock,
// so a virtual clock never runs ahead of it. Results come back to the main loop by posting.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace plat::foundation {

class RunLoop;

class Queue {
public:
    virtual ~Queue() = default;
    virtual void async(std::function<void()> fn) = 0;

    // The main loop's serial queue.
    static Queue& main();
    // The process's worker pool (concurrent).
    static Queue& global();
};

// Blocks run concurrently on a fixed set of threads. Each block queued counts as work in flight
// on the process clock until it has run, so a virtual clock does not jump past its result.
// Destruction runs what is queued, then joins the threads.
class WorkerPool : public Queue {
public:
    explicit WorkerPool(unsigned threads);
    ~WorkerPool() override;
    void async(std::function<void()> fn) override;

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_blocks;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

// Blocks run one at a time, in order, on the threads of a pool (the process's by default).
// Destruction waits for the blocks already queued; a block must not destroy its own queue.
class SerialQueue : public Queue {
public:
    explicit SerialQueue(std::string label, Queue* pool = nullptr);
    ~SerialQueue() override;
    void async(std::function<void()> fn) override;
    const std::string& label() const { return m_label; }

private:
    void drain();

    std::string m_label;
    Queue& m_pool;
    std::mutex m_mutex;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_blocks;
    bool m_scheduled = false;
};

// A thread that runs its own run loop (RunLoop::current() there) until destroyed.
class LoopThread {
public:
    explicit LoopThread(std::string name = {});
    // Stops the loop (ending any run under way on it) and joins the thread.
    ~LoopThread();
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;
    RunLoop& loop() const { return *m_loop; }

private:
    // Made on the thread and destroyed after it has ended, so stopping it never races its end.
    std::unique_ptr<RunLoop> m_loop;
    std::mutex m_startMutex;
    std::condition_variable m_started;
    std::thread m_thread;
};

}  // namespace plat::foundation
