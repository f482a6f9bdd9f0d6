#include "platform/foundation/Queue.h"

#include <pthread.h>

#include <algorithm>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"

namespace plat::foundation {

Queue& Queue::main() {
    return RunLoop::main().queue();
}

Queue& Queue::global() {
    // Never destroyed: its threads may be busy while the process exits.
    static auto* pool = new WorkerPool(std::clamp(std::thread::hardware_concurrency(), 2u, 8u));
    return *pool;
}

WorkerPool::WorkerPool(unsigned threads) {
    for (unsigned i = 0; i < std::max(threads, 1u); ++i) m_threads.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_ready.notify_all();
    for (std::thread& thread : m_threads) thread.join();
}

void WorkerPool::async(std::function<void()> fn) {
    // The mark travels with the block and ends when the block has run (or is dropped).
    auto mark = std::make_shared<WorkInFlight>(Clock::process().beginWork());
    {
        std::lock_guard lock(m_mutex);
        m_blocks.push_back([fn = std::move(fn), mark] { fn(); });
    }
    m_ready.notify_one();
}

void WorkerPool::work() {
    for (;;) {
        std::function<void()> block;
        {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || !m_blocks.empty(); });
            if (m_blocks.empty()) return;
            block = std::move(m_blocks.front());
            m_blocks.pop_front();
        }
        block();
    }
}

SerialQueue::SerialQueue(std::string label, Queue* pool)
    : m_label(std::move(label)), m_pool(pool ? *pool : Queue::global()) {}

SerialQueue::~SerialQueue() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_scheduled; });
}

void SerialQueue::async(std::function<void()> fn) {
    std::lock_guard lock(m_mutex);
    m_blocks.push_back(std::move(fn));
    if (!m_scheduled) {
        m_scheduled = true;
        m_pool.async([this] { drain(); });
    }
}

void SerialQueue::drain() {
    for (;;) {
        std::function<void()> block;
        {
            std::lock_guard lock(m_mutex);
            if (m_blocks.empty()) {
                m_scheduled = false;
                // Notified under the lock: the destructor may free this object once it has it.
                m_idle.notify_all();
                return;
            }
            block = std::move(m_blocks.front());
            m_blocks.pop_front();
        }
        block();
    }
}

LoopThread::LoopThread(std::string name) {
    m_thread = std::thread([this, name = std::move(name)] {
        if (!name.empty()) pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        {
            std::lock_guard lock(m_startMutex);
            m_loop = std::make_unique<RunLoop>();
            RunLoop::setCurrent(m_loop.get());
            m_started.notify_all();
        }
        m_loop->run();
        RunLoop::setCurrent(nullptr);
    });
    std::unique_lock lock(m_startMutex);
    m_started.wait(lock, [this] { return m_loop != nullptr; });
}

LoopThread::~LoopThread() {
    m_loop->quit();
    m_thread.join();
}

}  // namespace plat::foundation
