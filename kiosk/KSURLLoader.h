// Follows an address's HTTP redirects without showing anything, then hands the final address to
// the system to open, or only reports it. Store pages are not followed: the first one is final.
// Main thread.
//
// Redirects go through the loading's redirect hook, which checks the first address as each later
// one: an address on the "kiosk.store" server's host (or one ending with it) finishes at once, and
// the tenth address is final, never requested; an address requested before in the same load is a
// redirect loop, which fails (the system would go round it too). The answer's head decides (its
// body is ignored, the load bounded by the platform's default 300 s deadline): from 300 on the
// loader fails. Finishing asks plat::ui::systemCanOpenURL, then opens through the application or
// the opener set here.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kiosk/KSJsonValue.h"
#include "platform/net/URLLoading.h"

class KSURLLoader;

// Both optional: the loader calls only those whose bit responds() holds.
class KSURLLoaderDelegate {
public:
    enum : unsigned { kRespondsFinished = 1, kRespondsFailed = 2, kRespondsAll = 3 };
    virtual ~KSURLLoaderDelegate() = default;
    virtual unsigned responds() const { return kRespondsAll; }
    virtual void loaderFinished(KSURLLoader&) {}
    virtual void loaderFailed(KSURLLoader&) {}
};

class KSURLLoader : public std::enable_shared_from_this<KSURLLoader> {
public:
    // A loader for `url` with the defaults, opened.
    static std::shared_ptr<KSURLLoader> openDeviceURL(const std::string& url);
    static std::shared_ptr<KSURLLoader> create() { return std::make_shared<KSURLLoader>(); }
    static std::vector<std::shared_ptr<KSURLLoader>> allLoaders();
    static void invalidateAllLoadersWithDelegate(const KSURLLoaderDelegate* delegate);
    // What opens a final address (default: the application's URL opener, when there is one).
    static void setSystemOpener(std::function<bool(const std::string& url)> opener);

    bool opensFinalURLOnDevice() const { return m_opensFinalURLOnDevice; }
    void setOpensFinalURLOnDevice(bool on) { m_opensFinalURLOnDevice = on; }
    const std::string& targetURL() const { return m_targetURL; }
    void setTargetURL(std::string url) { m_targetURL = std::move(url); }
    // The caller's data, handed back untouched.
    const KSJsonValue& context() const { return m_context; }
    void setContext(KSJsonValue context) { m_context = std::move(context); }
    KSURLLoaderDelegate* delegate() const { return m_delegate; }
    void setDelegate(KSURLLoaderDelegate* delegate) { m_delegate = delegate; }
    int redirectCount() const { return m_redirectCount; }

    // Starts over with a count of 0; registered until invalidated. Nothing without a target.
    void open();
    // No delegate, no connection, unregistered.
    void invalidate();

private:
    // Before each request, the first included: false when the loader stopped there.
    bool willSendRequest(const std::string& url);
    void receivedResponse(const plat::net::Response& response);
    void finish();
    void fail();

    bool m_opensFinalURLOnDevice = true;
    std::string m_targetURL;
    std::mutex m_mutex;  // the connection's swap and cancel
    plat::net::Connection m_connection;
    KSJsonValue m_context;
    int m_redirectCount = 0;
    std::vector<std::string> m_requested;  // this load's addresses so far
    KSURLLoaderDelegate* m_delegate = nullptr;
};
