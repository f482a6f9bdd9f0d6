#include "orbad/core/http/OBCoreHTTPRequest.h"

#include <iconv.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "orbad/core/OrbadHelper.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UTF8.h"

namespace utf8 = plat::foundation::utf8;

namespace orbad {

using plat::foundation::Clock;
using plat::foundation::RunLoop;

namespace {

// The requests under way and the threads that run them. Never destroyed: request threads may
// still be running while the process exits.
struct Registry {
    std::mutex requestsLock;
    std::vector<std::shared_ptr<OBCoreHTTPRequest>> requests;

    std::mutex threadsLock;
    std::condition_variable threadEnded;
    std::map<std::uint64_t, std::thread> running;
    std::vector<std::thread> ended;  // done with their work, not yet joined
    std::uint64_t nextThread = 1;

    std::atomic<std::size_t> waitingOnMain{0};
};

Registry& registry() {
    static auto* shared = new Registry;
    return *shared;
}

void joinAll(std::vector<std::thread>& threads) {
    for (std::thread& t : threads) t.join();
    threads.clear();
}

// Runs `body` on a new thread, which files itself as ended when the body has returned; threads
// that ended before are joined on the way.
void startThread(std::function<void()> body) {
    Registry& r = registry();
    std::vector<std::thread> done;
    {
        std::lock_guard lock(r.threadsLock);
        done.swap(r.ended);
        const std::uint64_t id = r.nextThread++;
        r.running.emplace(id, std::thread([body = std::move(body), id]() mutable {
                              pthread_setname_np(pthread_self(), "ob-http");
                              body();
                              body = nullptr;  // the request it holds goes before the thread is called ended
                              Registry& r = registry();
                              std::lock_guard lock(r.threadsLock);
                              auto self = r.running.find(id);
                              r.ended.push_back(std::move(self->second));
                              r.running.erase(self);
                              r.threadEnded.notify_all();
                          }));
    }
    joinAll(done);
}

bool isUTF8(std::string charset) {
    std::transform(charset.begin(), charset.end(), charset.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return charset.empty() || charset == "utf-8" || charset == "utf8";
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// `bytes` in `charset` as UTF-8, each byte that does not convert as U+FFFD; nullopt when the
// system has no converter for the charset.
std::optional<std::string> convertToUTF8(const Data& bytes, const std::string& charset) {
    iconv_t cd = iconv_open("UTF-8", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out;
    char buffer[4096];
    char* in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes.data()));
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* o = buffer;
        std::size_t oLeft = sizeof buffer;
        const std::size_t rc = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buffer, static_cast<std::size_t>(o - buffer));
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
            out += kReplacement;
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    char* o = buffer;
    std::size_t oLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &o, &oLeft);
    out.append(buffer, static_cast<std::size_t>(o - buffer));
    iconv_close(cd);
    return out;
}

}  // namespace

// ---- configuration ----

OBCoreHTTPRequest::OBCoreHTTPRequest(std::string url) : m_URL(std::move(url)) {
    setDidFinishSelector([](OBHTTPRequestDelegate& d, OBCoreHTTPRequest& r) { d.requestDidFinish(r); });
    setDidFailSelector(
        [](OBHTTPRequestDelegate& d, OBCoreHTTPRequest& r, const Error& e) { d.requestDidFail(r, e); });
}

OBCoreHTTPRequest::~OBCoreHTTPRequest() = default;

std::shared_ptr<OBCoreHTTPRequest> OBCoreHTTPRequest::create(
    std::string url, const std::shared_ptr<OBHTTPRequestDelegate>& delegate) {
    std::shared_ptr<OBCoreHTTPRequest> request(new OBCoreHTTPRequest(std::move(url)));
    request->setDelegate(delegate);
    return request;
}

void OBCoreHTTPRequest::addRequestHeader(const std::string& name, std::string value) {
    plat::net::setHeader(m_requestHeaders, name, std::move(value));
}

std::shared_ptr<OBHTTPRequestDelegate> OBCoreHTTPRequest::delegate() const {
    std::lock_guard lock(m_mutex);
    return m_delegate.lock();
}

void OBCoreHTTPRequest::setDelegate(const std::shared_ptr<OBHTTPRequestDelegate>& delegate) {
    std::lock_guard lock(m_mutex);
    m_delegate = delegate;
    m_delegateKey = delegate.get();
}

bool OBCoreHTTPRequest::clearDelegateIf(const OBHTTPRequestDelegate* delegate) {
    std::lock_guard lock(m_mutex);
    if (m_delegateKey != delegate) return false;
    m_delegate.reset();
    m_delegateKey = nullptr;
    return true;
}

void OBCoreHTTPRequest::setDidFinishSelector(FinishSelector fn) {
    std::lock_guard lock(m_mutex);
    m_didFinish = std::move(fn);
}

void OBCoreHTTPRequest::setDidFailSelector(FailSelector fn) {
    std::lock_guard lock(m_mutex);
    m_didFail = std::move(fn);
}

// ---- running ----

bool OBCoreHTTPRequest::buildURLRequest() {
    if (m_isCancelled || m_isStarted.exchange(true)) return false;
    plat::net::Request& request = m_urlRequest;
    request.url = m_URL;
    request.timeout = m_timeoutInterval;
    request.deadline = m_timeoutInterval > 0 ? m_timeoutInterval : plat::net::kDefaultTimeout;
    request.maxBodyLength = m_maxResponseLength;
    request.ignoresBody = m_ignoresResponseBody;
    // Inflated by the loader before the body reaches us; an added header of that name wins.
    plat::net::setHeader(request.headers, "Accept-Encoding", "gzip");
    request.method = m_requestMethod.empty() ? "GET" : m_requestMethod;
    if (m_requestBody) request.body = *m_requestBody;
    for (const auto& [name, value] : m_requestHeaders) plat::net::setHeader(request.headers, name, value);
    // Nothing is answered from a cache: pings and configuration fetches must reach the server.
    m_work = Clock::process().beginWork();
    Registry& r = registry();
    std::lock_guard lock(r.requestsLock);
    r.requests.push_back(shared_from_this());
    return true;
}

void OBCoreHTTPRequest::startAsynchronous() {
    if (!buildURLRequest()) return;
    auto self = shared_from_this();
    try {
        startThread([self] {
            self->runOn(RunLoop::current());
            self->cleanUp();
        });
    } catch (const std::system_error&) {
        failed(Error{plat::net::kURLErrorDomain,
                     plat::net::kURLErrorUnknown,
                     plat::net::describeURLError(plat::net::kURLErrorUnknown),
                     {}});
        cleanUp();
    }
}

void OBCoreHTTPRequest::startSynchronous() {
    if (!buildURLRequest()) return;
    {
        // A private loop: nothing else of the caller's runs meanwhile.
        RunLoop loop(std::make_shared<Clock>(Clock::Kind::Real));
        runOn(loop);
    }
    cleanUp();
}

void OBCoreHTTPRequest::runOn(RunLoop& loop) {
    {
        std::lock_guard lock(m_mutex);
        if (m_isCancelled) return;
        m_loop = &loop;  // from here cancel() wakes it
    }
    plat::net::ConnectionHandlers handlers;
    handlers.didReceiveResponse = [this](const plat::net::Response& response) { m_response = response; };
    handlers.didReceiveData = [this](const std::uint8_t* data, std::size_t size) {
        m_responseData.insert(m_responseData.end(), data, data + size);
    };
    handlers.didFinish = [this] { finished(); };
    handlers.didFail = [this](const Error& error) { failed(error); };
    plat::net::Connection connection = plat::net::Connection::start(m_urlRequest, std::move(handlers), &loop);
    while (!m_isCancelled && !m_isFinished) loop.runOnce(3600);
    connection.cancel();
    std::lock_guard lock(m_mutex);
    m_loop = nullptr;
}

void OBCoreHTTPRequest::finished() {
    std::shared_ptr<OBHTTPRequestDelegate> delegate;
    FinishSelector fn;
    {
        std::lock_guard lock(m_mutex);
        if (!m_isCancelled) {
            delegate = m_delegate.lock();
            fn = m_didFinish;
        }
    }
    if (delegate && fn) fn(*delegate, *this);
    m_isFinished = true;
}

void OBCoreHTTPRequest::failed(const Error& error) {
    m_error = error;
    std::shared_ptr<OBHTTPRequestDelegate> delegate;
    FailSelector fn;
    {
        std::lock_guard lock(m_mutex);
        if (!m_isCancelled) {
            delegate = m_delegate.lock();
            fn = m_didFail;
        }
    }
    if (delegate && fn) fn(*delegate, *this, error);
    m_isFinished = true;
}

void OBCoreHTTPRequest::cleanUp() {
    {
        std::lock_guard lock(m_mutex);
        m_delegate.reset();
        m_delegateKey = nullptr;
    }
    m_isFinished = true;
    auto self = shared_from_this();  // the registry may hold the last reference
    {
        Registry& r = registry();
        std::lock_guard lock(r.requestsLock);
        std::erase(r.requests, self);
    }
    m_work.end();
}

void OBCoreHTTPRequest::performOnMainAndWait(const std::function<void()>& fn) {
    plat::foundation::RunLoop& main = plat::foundation::RunLoop::main();
    if (main.isCurrentThread()) {
        fn();
        return;
    }
    struct Hop {
        std::mutex lock;
        std::condition_variable changed;
        bool started = false, done = false, abandoned = false;
    };
    auto hop = std::make_shared<Hop>();
    Registry& r = registry();
    ++r.waitingOnMain;
    struct Leaving {
        Registry& r;
        ~Leaving() { --r.waitingOnMain; }
    } leaving{r};
    main.perform([hop, &fn] {
        {
            std::lock_guard<std::mutex> hold(hop->lock);
            if (hop->abandoned) return;  // `fn` has gone with the caller's frame
            hop->started = true;
        }
        fn();
        std::lock_guard<std::mutex> hold(hop->lock);
        hop->done = true;
        hop->changed.notify_all();
    });
    std::unique_lock<std::mutex> hold(hop->lock);
    while (!hop->done) {
        if (!hop->started && isCancelled()) {
            hop->abandoned = true;
            return;
        }
        hop->changed.wait_for(hold, std::chrono::milliseconds(20));
    }
}

void OBCoreHTTPRequest::cancel() {
    if (m_isCancelled.exchange(true)) return;
    m_isFinished = true;
    std::lock_guard lock(m_mutex);
    if (m_loop) m_loop->perform([] {});  // a turn, so the run sees the flag
}

std::string OBCoreHTTPRequest::responseString() const {
    const std::string charset = m_response ? m_response->textEncodingName() : std::string();
    if (!isUTF8(charset))
        if (std::optional<std::string> text = convertToUTF8(m_responseData, charset)) return *text;
    return utf8::replaceInvalid(m_responseData.data(), m_responseData.size());
}

// ---- the registry ----

std::vector<std::shared_ptr<OBCoreHTTPRequest>> OBCoreHTTPRequest::currentRequests() {
    Registry& r = registry();
    std::lock_guard lock(r.requestsLock);
    return r.requests;
}

std::size_t OBCoreHTTPRequest::waitingOnMainCount() {
    return registry().waitingOnMain.load();
}

std::size_t OBCoreHTTPRequest::inFlightCount() {
    Registry& r = registry();
    std::lock_guard lock(r.requestsLock);
    return r.requests.size();
}

void OBCoreHTTPRequest::cancelRequestsForDelegate(const OBHTTPRequestDelegate* delegate) {
    if (!delegate) return;  // else every request without a delegate would match
    for (const auto& request : currentRequests())
        if (request->clearDelegateIf(delegate)) request->cancel();
}

bool OBCoreHTTPRequest::cancelAllAndWait(double timeout) {
    for (const auto& request : currentRequests()) request->cancel();
    Registry& r = registry();
    std::vector<std::thread> done;
    bool allEnded;
    {
        std::unique_lock lock(r.threadsLock);
        allEnded = r.threadEnded.wait_for(lock, std::chrono::duration<double>(std::max(timeout, 0.0)),
                                          [&] { return r.running.empty(); });
        done.swap(r.ended);
    }
    joinAll(done);
    return allEnded;
}

// ---- form requests ----

std::shared_ptr<OBCoreHTTPFormRequest> OBCoreHTTPFormRequest::create(
    std::string url, const std::shared_ptr<OBHTTPRequestDelegate>& delegate) {
    std::shared_ptr<OBCoreHTTPFormRequest> request(new OBCoreHTTPFormRequest(std::move(url)));
    request->setDelegate(delegate);
    return request;
}

void OBCoreHTTPFormRequest::setPostValue(const Value& value, const std::string& key) {
    if (!m_formData) m_formData.emplace();
    std::string text = value.description();
    for (auto& field : *m_formData)
        if (field.first == key) {
            field.second = std::move(text);
            return;
        }
    m_formData->emplace_back(key, std::move(text));
}

void OBCoreHTTPFormRequest::buildFormDataPostBody() {
    setRequestMethod("POST");
    if (!m_formData) return;
    if (m_stringEncoding.empty()) m_stringEncoding = "utf-8";
    std::string text;
    for (const auto& [key, value] : *m_formData) {
        text += obURLEncodedStringWithEncoding(key, m_stringEncoding);
        text += '=';
        if (!value.empty()) text += obURLEncodedStringWithEncoding(value, m_stringEncoding);
        text += '&';
    }
    if (text.empty()) return;
    text.pop_back();
    setRequestBody(Data(text.begin(), text.end()));
    addRequestHeader("Content-Type", "application/x-www-form-urlencoded; charset=" + m_stringEncoding);
}

void OBCoreHTTPFormRequest::startAsynchronous() {
    if (isStarted() || isCancelled()) return;
    buildFormDataPostBody();
    OBCoreHTTPRequest::startAsynchronous();
}

void OBCoreHTTPFormRequest::startSynchronous() {
    if (isStarted() || isCancelled()) return;
    buildFormDataPostBody();
    OBCoreHTTPRequest::startSynchronous();
}

std::string obURLEncodedStringWithEncoding(std::string_view text, const std::string& charset) {
    if (isUTF8(charset)) return obURLEncodedString(text);
    iconv_t cd = iconv_open(charset.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string bytes(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* out = bytes.data();
    std::size_t outLeft = bytes.size();
    const bool converted = iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1) &&
                           iconv(cd, nullptr, nullptr, &out, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!converted) return {};
    bytes.resize(bytes.size() - outLeft);
    return obURLEncodedString(bytes);
}

}  // namespace orbad
