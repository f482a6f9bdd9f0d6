#include "platform/net/URLLoading.h"

#include <curl/curl.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <map>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Queue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/URLCache.h"

namespace plat::net {

using plat::foundation::Clock;
using plat::foundation::FdSource;
using plat::foundation::kFdError;
using plat::foundation::kFdRead;
using plat::foundation::kFdWrite;
using plat::foundation::RunLoop;
using plat::foundation::WorkInFlight;

namespace {

constexpr int kMaxRedirects = 20;
// A response head (interim ones included) longer than this is no server's answer.
constexpr std::size_t kMaxHeadLength = 256 * 1024;

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

// Hands `item` each entry of the comma lists in the fields named `name` (any case), trimmed, empty
// ones too, in order, until it returns true; says whether it did.
template <typename Item>
bool anyListItem(const Headers& headers, std::string_view name, Item&& item) {
    for (const auto& [key, value] : headers) {
        if (!sameName(key, name)) continue;
        std::string_view rest(value);
        for (;;) {
            const std::size_t comma = rest.find(',');
            if (item(trim(rest.substr(0, comma)))) return true;
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    return false;
}

// Whether a Cache-Control field of the answer holds the directive "no-store" (any case, any field).
bool forbidsStorage(const Headers& headers) {
    return anyListItem(headers, "Cache-Control",
                       [](std::string_view directive) { return sameName(directive, "no-store"); });
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void initCurl() {
    [[maybe_unused]] static const bool done = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

int errorCodeFor(CURLcode code) {
    switch (code) {
    case CURLE_URL_MALFORMAT:
        return kURLErrorBadURL;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return kURLErrorUnsupportedURL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return kURLErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT:
        return kURLErrorCannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT:
        return kURLErrorTimedOut;
    case CURLE_TOO_MANY_REDIRECTS:
        return kURLErrorHTTPTooManyRedirects;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return kURLErrorNetworkConnectionLost;
    case CURLE_PARTIAL_FILE:  // a body short of its stated length or its last chunk: cut
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_OUT_OF_MEMORY:  // what curl says of a header line past its own bound
        return kURLErrorBadServerResponse;
    case CURLE_PEER_FAILED_VERIFICATION:
        return kURLErrorServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
        return kURLErrorSecureConnectionFailed;
    default:
        return kURLErrorUnknown;
    }
}

Error makeError(int code, const std::string& url) {
    return Error{kURLErrorDomain, code, describeURLError(code),
                 plat::foundation::Value::Dictionary{{kURLErrorFailingURLStringErrorKey, url}}};
}

// The part of `url` (resolved against `base` when given) as curl reads it; empty when either does
// not parse.
std::string urlPart(const std::string& url, CURLUPart part = CURLUPART_URL, const std::string* base = nullptr) {
    CURLU* handle = curl_url();
    std::string out;
    char* text = nullptr;
    auto set = [&](const std::string& address) {
        return curl_url_set(handle, CURLUPART_URL, address.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK;
    };
    if (handle && (!base || set(*base)) && set(url) && curl_url_get(handle, part, &text, 0) == CURLUE_OK)
        out = text;
    curl_free(text);
    curl_url_cleanup(handle);
    return out;
}

std::string methodOf(const Request& request) {
    return request.method.empty() ? "GET" : request.method;
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Adds the certificates of $DROVIK_CA_FILE to those the system trusts; verification stays on.
CURLcode addExtraCertificates(CURL*, void* sslContext, void*) {
    const char* path = std::getenv("DROVIK_CA_FILE");
    if (!path || !*path) return CURLE_OK;
    BIO* file = BIO_new_file(path, "r");
    if (!file) {
        plat::foundation::log("DROVIK_CA_FILE: cannot read %s", path);
        return CURLE_OK;
    }
    STACK_OF(X509_INFO)* infos = PEM_X509_INFO_read_bio(file, nullptr, nullptr, nullptr);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    for (int i = 0; infos && i < sk_X509_INFO_num(infos); ++i) {
        X509_INFO* info = sk_X509_INFO_value(infos, i);
        if (info->x509) X509_STORE_add_cert(store, info->x509);  // one already there is no failure
    }
    sk_X509_INFO_pop_free(infos, X509_INFO_free);
    BIO_free(file);
    return CURLE_OK;
}

// The http and https schemes, whatever their case.
bool isWebScheme(const std::string& url) {
    const std::string scheme = lower(urlPart(url, CURLUPART_SCHEME));
    return scheme == "http" || scheme == "https";
}

// True when a Content-Length field (or a value one of them lists) is not one decimal number a
// length can hold, or they do not all agree: curl would read such a body to the close, or as
// empty, or to whichever length it picks, and a cut answer would pass for a whole one.
bool unreadableLengths(const Headers& headers) {
    std::optional<std::uint64_t> first;
    return anyListItem(headers, "Content-Length", [&](std::string_view text) {
        constexpr std::uint64_t kMaxLength = std::numeric_limits<std::int64_t>::max();  // curl_off_t
        std::uint64_t length = 0;
        if (text.empty()) return true;
        for (char c : text) {
            if (c < '0' || c > '9' || length > (kMaxLength - (c - '0')) / 10) return true;
            length = length * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (!first) first = length;
        return length != *first;
    });
}

// Undoes a response's gzip and deflate codings (in the order they were applied, last first). It is
// done here rather than by curl, which hands out a stream cut short (no trailer, or stopped in a
// block) as a whole one: complete() tells. A "deflate" body with no zlib header is taken as raw
// deflate, as servers send it; a gzip body may hold several members. Every stage's output counts
// against the body's bound, not only the last one's: an inner stream may end at once while the
// outer one inflates on.
class BodyDecoder {
public:
    enum class Result { Ok, Stopped, Bad, TooLong };
    using Sink = std::function<bool(const char* data, std::size_t size)>;  // false: stop

    BodyDecoder() = default;
    BodyDecoder(const BodyDecoder&) = delete;
    BodyDecoder& operator=(const BodyDecoder&) = delete;
    ~BodyDecoder() { reset(); }

    void reset() {
        for (Stage& stage : m_stages)
            if (stage.initialised) inflateEnd(&stage.z);
        m_stages.clear();
        m_unknown = false;
    }

    // From the response's Content-Encoding fields; an unknown coding (or too many) makes every
    // byte of body bad, as none can be read. No stage may give more than `maxOutput` bytes.
    void setCodings(const Headers& headers, std::size_t maxOutput) {
        reset();
        m_maxOutput = maxOutput;
        std::vector<bool> gzip;  // per coding, in the order applied
        anyListItem(headers, "Content-Encoding", [&](std::string_view item) {
            const std::string coding = lower(item);
            if (coding == "gzip" || coding == "x-gzip" || coding == "deflate") {
                gzip.push_back(coding != "deflate");
            } else if (!coding.empty() && coding != "identity") {
                m_unknown = true;
            }
            return false;
        });
        if (gzip.size() > kMaxCodings) m_unknown = true;
        if (m_unknown) return;
        m_stages = std::vector<Stage>(gzip.size());
        for (std::size_t i = 0; i < gzip.size(); ++i) m_stages[i].gzip = gzip[gzip.size() - 1 - i];
    }

    bool active() const { return m_unknown || !m_stages.empty(); }

    Result write(const char* data, std::size_t size, const Sink& sink) {
        if (size == 0) return Result::Ok;
        if (m_unknown) return Result::Bad;
        return feed(0, reinterpret_cast<const Bytef*>(data), size, sink);
    }

    // Every stream begun was ended: nothing of the body is missing.
    bool complete() const {
        return std::all_of(m_stages.begin(), m_stages.end(),
                           [](const Stage& s) { return !s.begun || s.ended; });
    }

private:
    static constexpr std::size_t kMaxCodings = 4;

    struct Stage {
        bool gzip = false;
        bool initialised = false;
        bool begun = false;
        bool ended = false;
        std::size_t output = 0;
        std::string head;  // a deflate stream's first bytes, until they tell zlib from raw
        z_stream z{};
    };

    Result feed(std::size_t index, const Bytef* in, std::size_t size, const Sink& sink) {
        if (index == m_stages.size())
            return sink(reinterpret_cast<const char*>(in), size) ? Result::Ok : Result::Stopped;
        Stage& s = m_stages[index];
        if (size == 0) return Result::Ok;
        s.begun = true;
        if (!s.initialised) {
            int windowBits = 15 + 32;  // gzip, or zlib
            if (!s.gzip) {
                s.head.append(reinterpret_cast<const char*>(in), size);
                if (s.head.size() < 2) return Result::Ok;
                const unsigned b0 = static_cast<unsigned char>(s.head[0]),
                               b1 = static_cast<unsigned char>(s.head[1]);
                windowBits = (b0 & 0x0F) == 8 && (b0 * 256 + b1) % 31 == 0 ? 15 : -15;
            }
            if (inflateInit2(&s.z, windowBits) != Z_OK) return Result::Bad;
            s.initialised = true;
            if (!s.gzip) {
                const std::string head = std::move(s.head);
                return inflateStage(index, reinterpret_cast<const Bytef*>(head.data()), head.size(), sink);
            }
        }
        return inflateStage(index, in, size, sink);
    }

    Result inflateStage(std::size_t index, const Bytef* in, std::size_t size, const Sink& sink) {
        Stage& s = m_stages[index];
        Bytef out[16384];
        while (size > 0) {
            if (s.ended) {
                // Bytes after the end: another gzip member, or a gzip body's trailing bytes, which
                // are let go. A deflate stream has one end: what follows it is misframed.
                if (!s.gzip) return Result::Bad;
                if (in[0] != 0x1F) return Result::Ok;
                inflateReset(&s.z);
                s.ended = false;
            }
            const uInt part = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
            s.z.next_in = const_cast<Bytef*>(in);
            s.z.avail_in = part;
            for (;;) {
                s.z.next_out = out;
                s.z.avail_out = sizeof out;
                const int status = inflate(&s.z, Z_NO_FLUSH);
                if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return Result::Bad;
                const std::size_t produced = sizeof out - s.z.avail_out;
                if (produced) {
                    s.output += produced;
                    if (s.output > m_maxOutput) return Result::TooLong;
                    Result next = feed(index + 1, out, produced, sink);
                    if (next != Result::Ok) return next;
                }
                if (status == Z_STREAM_END) {
                    s.ended = true;
                    break;
                }
                if (status == Z_BUF_ERROR || (s.z.avail_in == 0 && s.z.avail_out != 0)) break;
            }
            const std::size_t used = part - s.z.avail_in;
            in += used;
            size -= used;
            if (!s.ended && used == 0) return Result::Ok;  // zlib holds what it needs for more
        }
        return Result::Ok;
    }

    std::vector<Stage> m_stages;
    bool m_unknown = false;
    std::size_t m_maxOutput = 0;
};

}  // namespace

// ---- headers, responses, errors ----

const std::string* findHeader(const Headers& headers, std::string_view name) {
    for (const auto& [key, value] : headers)
        if (sameName(key, name)) return &value;
    return nullptr;
}

void removeHeader(Headers& headers, std::string_view name) {
    std::erase_if(headers, [&](const auto& field) { return sameName(field.first, name); });
}

void setHeader(Headers& headers, std::string_view name, std::string value) {
    removeHeader(headers, name);
    headers.emplace_back(std::string(name), std::move(value));
}

std::string Response::mimeType() const {
    const std::string* type = header("Content-Type");
    if (!type) return {};
    std::string_view text(*type);
    return lower(trim(text.substr(0, text.find(';'))));
}

std::string Response::textEncodingName() const {
    const std::string* type = header("Content-Type");
    if (!type) return {};
    std::string_view text(*type);
    for (std::size_t at = text.find(';'); at != std::string_view::npos; at = text.find(';', at + 1)) {
        std::string_view parameter = trim(text.substr(at + 1, text.find(';', at + 1) - at - 1));
        std::size_t equals = parameter.find('=');
        if (equals == std::string_view::npos || !sameName(trim(parameter.substr(0, equals)), "charset")) continue;
        std::string_view value = trim(parameter.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        return lower(value);
    }
    return {};
}

std::string describeURLError(int code) {
    switch (code) {
    case kURLErrorCancelled:
        return "cancelled";
    case kURLErrorBadURL:
        return "bad URL";
    case kURLErrorTimedOut:
        return "The request timed out.";
    case kURLErrorUnsupportedURL:
        return "unsupported URL";
    case kURLErrorCannotFindHost:
        return "A server with the specified hostname could not be found.";
    case kURLErrorCannotConnectToHost:
        return "Could not connect to the server.";
    case kURLErrorNetworkConnectionLost:
        return "The network connection was lost.";
    case kURLErrorHTTPTooManyRedirects:
        return "too many HTTP redirects";
    case kURLErrorBadServerResponse:
        return "bad server response";
    case kURLErrorResourceUnavailable:
        return "resource unavailable";
    case kURLErrorDataLengthExceedsMaximum:
        return "resource exceeds maximum size";
    case kURLErrorSecureConnectionFailed:
        return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case kURLErrorServerCertificateUntrusted:
        return "The certificate for this server is invalid.";
    default:
        return "unknown error";
    }
}

// ---- the connection ----

// Everything runs on the loop's thread, except `cancelled` and `running`, which cancel() sets from
// anywhere. No handler is ever called from inside a curl call: curl's callbacks only queue
// events, which drive() hands out once curl has returned. A handler may cancel the connection or
// drop its handle: the teardown then waits until the handlers under way have returned.
struct Connection::Impl : std::enable_shared_from_this<Impl> {
    struct Event {
        enum Kind { Response, Data, Finish, Fail } kind;
        plat::net::Response response;
        std::string data;
        Error error;
    };

    RunLoop& loop;
    Request request;
    const Request original;  // what the cache is asked and offered: redirects replace `request`
    ConnectionHandlers handlers;
    WorkInFlight work;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> running{true};
    bool ended = false;
    int depth = 0;    // handler calls under way
    int driving = 0;  // drive() calls under way (a handler may run a nested loop)

    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    std::map<curl_socket_t, FdSource> sockets;
    // curl's own timer runs on real time, like the idle time-out: its short waits (connect
    // progress, a response's end) must come due while a virtual clock stands still.
    int curlTimerFd = -1;
    FdSource curlTimerSource;
    // Ends the load after `request.timeout` without progress, or at `deadlineAt` (CLOCK_MONOTONIC
    // seconds), whichever comes first.
    int idleFd = -1;
    FdSource idleSource;
    double deadlineAt = 0;

    // The transfer under way.
    int redirects = 0;
    plat::net::Response response;
    bool headersDone = false;
    bool responseQueued = false;
    std::string redirectURL;  // set while a redirect's body is held until the hook decides
    std::string heldBody;
    std::string cacheBody;  // the final response's body, for the cache
    bool keepsForCache = false;  // only with a shared cache to offer it to
    std::size_t bodyLength = 0;  // taken in so far, inflated
    bool bodyTooLong = false;
    std::size_t headLength = 0;
    bool headTooLong = false;
    bool misframed = false;  // lengths that disagree, or a body its coding cannot have given
    BodyDecoder decoder;
    curl_off_t lastDown = -1, lastUp = -1;

    std::deque<Event> pending;

    Impl(RunLoop& l, Request r, ConnectionHandlers h)
        : loop(l), request(std::move(r)), original(request), handlers(std::move(h)), work(loop.clock().beginWork(plat::foundation::WorkKind::Transfer)) {
        if (!(request.timeout > 0) || !std::isfinite(request.timeout)) request.timeout = kDefaultTimeout;
        if (!(request.deadline > 0) || std::isnan(request.deadline)) request.deadline = kDefaultDeadline;
    }

    ~Impl() { teardown(); }

    std::weak_ptr<Impl> weak() { return weak_from_this(); }

    void begin() {
        if (cancelled || ended) {
            teardown();
            return;
        }
        if (urlPart(request.url).empty()) {
            failLater(kURLErrorBadURL);
            return;
        }
        if (answerFromCache()) return;
        keepsForCache = cacheable() && URLCache::shared() != nullptr;
        deadlineAt = monotonicNow() + std::min(request.deadline, 1e9);
        multi = curl_multi_init();
        idleFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        curlTimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (!multi || idleFd < 0 || curlTimerFd < 0) {
            failLater(kURLErrorUnknown);
            return;
        }
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Impl::onCurlSocket);
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Impl::onCurlTimer);
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
        idleSource = loop.addFdSource(idleFd, kFdRead, [w = weak()](unsigned) {
            if (auto self = w.lock()) self->drive([&] {
                    std::uint64_t expirations;
                    if (read(self->idleFd, &expirations, sizeof expirations) > 0) self->queueFail(kURLErrorTimedOut);
                });
        });
        curlTimerSource = loop.addFdSource(curlTimerFd, kFdRead, [w = weak()](unsigned) {
            if (auto self = w.lock()) self->drive([&] {
                    std::uint64_t expirations;
                    if (read(self->curlTimerFd, &expirations, sizeof expirations) <= 0) return;
                    int running = 0;
                    curl_multi_socket_action(self->multi, CURL_SOCKET_TIMEOUT, 0, &running);
                });
        });
        if (!startTransfer()) failLater(kURLErrorUnknown);
    }

    // A failure found before curl ran: handed out on a later turn, never inside start().
    void failLater(int code) {
        queueFail(code);
        deliverLater();
    }

    // Posted work, not a timer: a caller turning its loop once per input (runOnce) wakes for it.
    void deliverLater() {
        loop.perform([w = weak()] {
            if (auto self = w.lock()) self->drive([] {});
        });
    }

    bool startTransfer() {
        if (easy) {
            curl_multi_remove_handle(multi, easy);
            curl_easy_cleanup(easy);
        }
        curl_slist_free_all(headerList);
        headerList = nullptr;
        response = {};
        cacheBody.clear();
        headersDone = responseQueued = false;
        redirectURL.clear();
        heldBody.clear();
        bodyLength = 0;
        bodyTooLong = false;
        headLength = 0;
        headTooLong = false;
        misframed = false;
        decoder.reset();
        lastDown = lastUp = -1;

        easy = curl_easy_init();
        if (!easy) return false;
        curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);  // followed here, past the hook
        // Offered by every load; inflated here (BodyDecoder), and not at all when the body is ignored.
        curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
        if (!findHeader(request.headers, "Accept-Encoding"))
            headerList = curl_slist_append(headerList, "Accept-Encoding: gzip, deflate");
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &addExtraCertificates);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Impl::onProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);

        const std::string method = methodOf(request);
        bool sendsBody = false;
        if (method == "GET") {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        } else if (method == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else {
            sendsBody = true;
            static const char none = 0;
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.empty() ? static_cast<const void*>(&none) : request.body.data());
            if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
        }
        for (const auto& [name, value] : request.headers) {
            std::string line = value.empty() ? name + ";" : name + ": " + value;
            headerList = curl_slist_append(headerList, line.c_str());
        }
        // curl's own additions that the platform does not make.
        headerList = curl_slist_append(headerList, "Expect:");
        if (sendsBody && !findHeader(request.headers, "Content-Type"))
            headerList = curl_slist_append(headerList, "Content-Type:");
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList);

        armIdleTimer();
        return curl_multi_add_handle(multi, easy) == CURLM_OK;
    }

    static double monotonicNow() {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    }

    void armIdleTimer() {
        if (idleFd < 0) return;
        const double wait = std::max(0.0, std::min({request.timeout, deadlineAt - monotonicNow(), 1e9}));
        itimerspec due{};
        double whole = std::floor(wait);
        due.it_value.tv_sec = static_cast<time_t>(whole);
        due.it_value.tv_nsec = static_cast<long>((wait - whole) * 1e9);
        if (due.it_value.tv_sec == 0 && due.it_value.tv_nsec == 0) due.it_value.tv_nsec = 1;
        timerfd_settime(idleFd, 0, &due, nullptr);
    }

    // ---- curl's callbacks: they only record and queue ----

    static int onCurlSocket(CURL*, curl_socket_t fd, int what, void* user, void*) {
        auto& c = *static_cast<Impl*>(user);
        if (what == CURL_POLL_REMOVE) {
            c.sockets.erase(fd);
            return 0;
        }
        unsigned events = (what & CURL_POLL_IN ? kFdRead : 0) | (what & CURL_POLL_OUT ? kFdWrite : 0);
        auto it = c.sockets.find(fd);
        if (it != c.sockets.end()) {
            it->second.setEvents(events);
        } else {
            c.sockets.emplace(fd, c.loop.addFdSource(fd, events, [w = c.weak(), fd](unsigned ready) {
                if (auto self = w.lock()) self->drive([&] {
                        int flags = (ready & kFdRead ? CURL_CSELECT_IN : 0) | (ready & kFdWrite ? CURL_CSELECT_OUT : 0) |
                                    (ready & kFdError ? CURL_CSELECT_ERR : 0);
                        int running = 0;
                        curl_multi_socket_action(self->multi, fd, flags, &running);
                    });
            }));
        }
        return 0;
    }

    static int onCurlTimer(CURLM*, long milliseconds, void* user) {
        auto& c = *static_cast<Impl*>(user);
        itimerspec due{};  // all zero disarms
        if (milliseconds >= 0) {
            due.it_value.tv_sec = static_cast<time_t>(milliseconds / 1000);
            due.it_value.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
            if (milliseconds == 0) due.it_value.tv_nsec = 1;
        }
        if (c.curlTimerFd >= 0) timerfd_settime(c.curlTimerFd, 0, &due, nullptr);
        return 0;
    }

    static std::size_t onHeader(char* buffer, std::size_t size, std::size_t count, void* user) {
        auto& c = *static_cast<Impl*>(user);
        std::size_t n = size * count;
        c.headLength += n;
        if (c.headLength > kMaxHeadLength) {
            c.headTooLong = true;
            return 0;
        }
        std::string_view line(buffer, n);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        c.armIdleTimer();
        if (line.starts_with("HTTP/")) {  // a new response head (after an interim 1xx one too)
            c.response = {};
            c.headersDone = false;
            c.decoder.reset();
            std::size_t space = line.find(' ');
            if (space != std::string_view::npos) c.response.status = std::atoi(std::string(line.substr(space + 1)).c_str());
            return n;
        }
        if (c.headersDone) return n;  // trailers
        if (line.empty()) {
            if (c.response.status >= 100 && c.response.status < 200) return n;
            if (unreadableLengths(c.response.headers)) {
                c.misframed = true;
                return 0;
            }
            c.headersDone = true;
            c.response.url = c.request.url;
            if (!c.request.ignoresBody) c.decoder.setCodings(c.response.headers, c.request.maxBodyLength);
            const std::string* location = c.response.header("Location");
            if (isRedirect(c.response.status) && location)
                c.redirectURL = urlPart(*location, CURLUPART_URL, &c.request.url);
            if (c.redirectURL.empty()) c.queueResponse();
            return n;
        }
        if ((line.front() == ' ' || line.front() == '\t') && !c.response.headers.empty()) {
            c.response.headers.back().second += " ";
            c.response.headers.back().second += trim(line);
            return n;
        }
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            c.response.headers.emplace_back(std::string(trim(line.substr(0, colon))),
                                            std::string(trim(line.substr(colon + 1))));
        return n;
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
        auto& c = *static_cast<Impl*>(user);
        std::size_t n = size * count;
        c.armIdleTimer();
        if (c.request.ignoresBody) {
            if (c.redirectURL.empty() && !c.responseQueued) c.queueResponse();
            return n;
        }
        if (!c.decoder.active()) return c.takeBody(data, n) ? n : 0;
        auto take = [&c](const char* part, std::size_t length) { return c.takeBody(part, length); };
        switch (c.decoder.write(data, n, take)) {
        case BodyDecoder::Result::Ok:
            return n;
        case BodyDecoder::Result::Stopped:
            return 0;
        case BodyDecoder::Result::TooLong:
            c.refuseLongBody();
            return 0;
        case BodyDecoder::Result::Bad:
            break;
        }
        c.misframed = true;
        return 0;
    }

    // What was queued goes too: the load fails, so nobody needs the start of the body.
    void refuseLongBody() {
        std::erase_if(pending, [](const Event& e) { return e.kind == Event::Data; });
        cacheBody.clear();
        heldBody.clear();
        bodyTooLong = true;
    }

    // Body bytes as inflated; false (curl then stops with a write error) past the body's bound.
    bool takeBody(const char* data, std::size_t n) {
        bodyLength += n;
        if (bodyLength > request.maxBodyLength) {
            refuseLongBody();
            return false;
        }
        if (!redirectURL.empty()) {
            heldBody.append(data, n);
            return true;
        }
        if (!responseQueued) queueResponse();
        queueData(data, n);
        return true;
    }

    static int onProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
        auto& c = *static_cast<Impl*>(user);
        if (down != c.lastDown || up != c.lastUp) {
            c.lastDown = down;
            c.lastUp = up;
            c.armIdleTimer();
        }
        return 0;
    }

    void queueResponse() {
        responseQueued = true;
        pending.push_back({Event::Response, response, {}, {}});
    }

    void queueData(const char* data, std::size_t size) {
        if (size == 0) return;
        if (keepsForCache) cacheBody.append(data, size);
        if (!pending.empty() && pending.back().kind == Event::Data) {
            pending.back().data.append(data, size);
        } else {
            pending.push_back({Event::Data, {}, std::string(data, size), {}});
        }
    }

    void queueFinish() {
        offerToCache();
        pending.push_back({Event::Finish, {}, {}, {}});
    }

    bool cacheable() const { return methodOf(original) == "GET" && !original.ignoresBody; }

    // True when the shared cache answered (or, for policy 3, the load failed for lack of one).
    bool answerFromCache() {
        if (!cacheable() || !cachePolicyReadsCache(original.cachePolicy)) return false;
        std::shared_ptr<URLCache> cache = URLCache::shared();
        std::optional<CachedURLResponse> cached = cache ? cache->cachedResponseForRequest(original) : std::nullopt;
        if (!cached) {
            if (original.cachePolicy != kReturnCacheDataDontLoad) return false;
            failLater(kURLErrorResourceUnavailable);
            return true;
        }
        response = cached->response;
        response.fromCache = true;
        queueResponse();
        queueData(reinterpret_cast<const char*>(cached->data.data()), cached->data.size());
        pending.push_back({Event::Finish, {}, {}, {}});
        deliverLater();
        return true;
    }

    // The complete answer, body gathered from the queued data, offered before anyone sees it end.
    void offerToCache() {
        if (!cacheable() || response.status <= 0 || response.fromCache) return;
        std::shared_ptr<URLCache> cache = URLCache::shared();
        if (!cache) return;
        CachedURLResponse cached;
        cached.response = response;
        cached.mimeType = response.mimeType();
        cached.data.assign(cacheBody.begin(), cacheBody.end());
        // The server's word that the answer is kept nowhere, memory and disk alike.
        if (forbidsStorage(response.headers)) cached.storagePolicy = kStorageNotAllowed;
        cache->storeCachedResponse(cached, original);
    }

    void queueFail(int code) { pending.push_back({Event::Fail, {}, {}, makeError(code, request.url)}); }

    // ---- outside curl ----

    // Runs `step` (a curl call), then what curl finished, then hands out the queued events.
    template <class Step>
    void drive(Step&& step) {
        auto self = shared_from_this();  // a handler may drop the last handle
        if (ended) return;
        ++driving;
        if (!cancelled) {
            step();
            collectDone();
            deliver();
        }
        --driving;
        if (cancelled && driving == 0) teardown();
        if (ended && depth == 0) handlers = {};
    }

    void collectDone() {
        if (!multi) return;
        std::vector<CURLcode> done;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left))
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) done.push_back(message->data.result);
        for (CURLcode result : done) transferDone(result);
    }

    void transferDone(CURLcode result) {
        if (result != CURLE_OK) {
            // curl says "unsupported protocol" of an answer without a status line (HTTP/0.9, which
            // it refuses): what came back is at fault, not the address.
            const bool noStatusLine = result == CURLE_UNSUPPORTED_PROTOCOL && isWebScheme(request.url);
            queueFail(bodyTooLong                               ? kURLErrorDataLengthExceedsMaximum
                      : headTooLong || misframed || noStatusLine ? kURLErrorBadServerResponse
                                                                 : errorCodeFor(result));
            return;
        }
        if (!headersDone) {
            queueFail(kURLErrorBadServerResponse);
            return;
        }
        if (redirectURL.empty()) {
            if (!decoder.complete()) {
                queueFail(kURLErrorBadServerResponse);
                return;
            }
            if (!responseQueued) queueResponse();
            queueFinish();
            return;
        }
        Request next = nextRequest();
        bool follow = true;
        if (handlers.willRedirect) {
            ++depth;
            follow = handlers.willRedirect(next, response);
            --depth;
            if (cancelled) return;
        }
        if (!follow && !decoder.complete()) {
            queueFail(kURLErrorBadServerResponse);
        } else if (!follow) {
            queueResponse();
            queueData(heldBody.data(), heldBody.size());
            queueFinish();
        } else if (++redirects > kMaxRedirects) {
            queueFail(kURLErrorHTTPTooManyRedirects);
        } else {
            request = std::move(next);
            if (!startTransfer()) queueFail(kURLErrorUnknown);
        }
    }

    // The request a redirect leads to: the method and body kept (307, 308) or turned into a GET
    // (303; 301 and 302 after a POST), as browsers do; credentials stay with their host.
    Request nextRequest() const {
        Request next = request;
        next.url = redirectURL;
        const std::string method = methodOf(request);
        int s = response.status;
        if ((s == 303 && method != "HEAD") || ((s == 301 || s == 302) && method == "POST")) {
            next.method = "GET";
            next.body.clear();
            removeHeader(next.headers, "Content-Type");
            removeHeader(next.headers, "Content-Length");
        }
        if (lower(urlPart(next.url, CURLUPART_HOST)) != lower(urlPart(request.url, CURLUPART_HOST)))
            removeHeader(next.headers, "Authorization");
        return next;
    }

    void deliver() {
        while (!pending.empty() && !cancelled && !ended) {
            Event event = std::move(pending.front());
            pending.pop_front();
            bool last = event.kind == Event::Finish || event.kind == Event::Fail;
            if (last) running = false;
            ++depth;
            switch (event.kind) {
            case Event::Response:
                if (handlers.didReceiveResponse) handlers.didReceiveResponse(event.response);
                break;
            case Event::Data:
                if (handlers.didReceiveData)
                    handlers.didReceiveData(reinterpret_cast<const std::uint8_t*>(event.data.data()), event.data.size());
                break;
            case Event::Finish:
                if (handlers.didFinish) handlers.didFinish();
                break;
            case Event::Fail:
                if (handlers.didFail) handlers.didFail(event.error);
                break;
            }
            --depth;
            if (last) teardown();
        }
    }

    void cancel() {
        bool wasRunning = running.exchange(false);
        if (cancelled.exchange(true)) return;
        if (loop.isCurrentThread()) {
            releaseIfIdle();
        } else if (wasRunning) {  // else ended: its loop has released it already
            loop.perform([self = shared_from_this()] { self->releaseIfIdle(); });
        }
    }

    // After a cancel: released at once unless a drive() is under way, which releases on return.
    void releaseIfIdle() {
        if (driving != 0) return;
        teardown();
        if (depth == 0) handlers = {};
    }

    // Releases curl and everything registered on the loop; no event is handed out afterwards.
    void teardown() {
        if (ended) return;
        ended = true;
        running = false;
        if (easy) {
            curl_multi_remove_handle(multi, easy);
            curl_easy_cleanup(easy);
            easy = nullptr;
        }
        if (multi) {
            curl_multi_cleanup(multi);
            multi = nullptr;
        }
        curl_slist_free_all(headerList);
        headerList = nullptr;
        sockets.clear();
        idleSource.remove();
        if (idleFd >= 0) close(idleFd);
        idleFd = -1;
        curlTimerSource.remove();
        if (curlTimerFd >= 0) close(curlTimerFd);
        curlTimerFd = -1;
        pending.clear();
        work.end();
    }
};

Connection Connection::start(Request request, ConnectionHandlers handlers, RunLoop* loop) {
    initCurl();
    RunLoop& target = loop ? *loop : RunLoop::current();
    auto impl = std::make_shared<Impl>(target, std::move(request), std::move(handlers));
    if (target.isCurrentThread()) {
        impl->begin();
    } else {
        target.perform([impl] { impl->begin(); });
    }
    return Connection(std::move(impl));
}

Connection::Connection(Connection&&) noexcept = default;

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        cancel();
        m_impl = std::move(other.m_impl);
    }
    return *this;
}

void Connection::cancel() {
    if (auto impl = std::move(m_impl)) impl->cancel();
}

bool Connection::isRunning() const {
    return m_impl && m_impl->running.load();
}

RunLoop& networkLoop() {
    // Never destroyed: connections may still be running on it while the process exits.
    static auto* thread = new plat::foundation::LoopThread("dk-network");
    return thread->loop();
}

SyncResult sendSynchronous(const Request& request,
                           std::function<bool(const Request& next, const Response& redirect)> willRedirect,
                           double limit) {
    // The caller's loop stops meanwhile; a virtual process clock must not jump past the answer
    // that a thread waiting here will hand it.
    WorkInFlight work = Clock::process().beginWork();
    RunLoop loop(std::make_shared<Clock>(Clock::Kind::Real));
    SyncResult result;
    bool done = false;
    ConnectionHandlers handlers;
    handlers.willRedirect = std::move(willRedirect);
    handlers.didReceiveResponse = [&](const Response& response) { result.response = response; };
    handlers.didReceiveData = [&](const std::uint8_t* data, std::size_t size) {
        result.data.insert(result.data.end(), data, data + size);
    };
    handlers.didFinish = [&] { done = true; };
    handlers.didFail = [&](const Error& error) {
        result.error = error;
        done = true;
    };
    Connection connection = Connection::start(request, std::move(handlers), &loop);
    const double end = loop.now() + limit;
    while (!done && loop.now() < end) loop.runOnce(std::min(3600.0, end - loop.now()));
    if (!done) {
        connection.cancel();
        result.error = makeError(kURLErrorTimedOut, request.url);
    }
    return result;
}

}  // namespace plat::net
