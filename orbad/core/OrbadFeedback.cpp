#include "orbad/core/OrbadFeedback.h"

#include <ctime>

#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBSession.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/http/OBHTTPRequest.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UTF8.h"
#include "platform/sys/Device.h"

namespace utf8 = plat::foundation::utf8;

namespace orbad {

namespace {

using plat::foundation::Date;
using plat::foundation::RunLoop;

constexpr int kUnknownErrorCode = 500;
constexpr const char* kUnknownErrorDescription = "Unknown error occurred.";

std::mutex g_demographicsMutex;
OrbadDemographicsRecord g_record;
std::optional<Date> g_birthday;

std::mutex g_feedbackMutex;
std::shared_ptr<OrbadFeedback> g_feedback;

// The post, or nothing without a running client to take the URL from.
std::shared_ptr<OBCoreHTTPFormRequest> feedbackPost(
    const OBFormFields& fields, const std::shared_ptr<OBHTTPRequestDelegate>& delegate = {}) {
    const std::optional<OBReportingContext> context = obReportingContext();
    if (!context) return nullptr;
    auto request = OBHTTPFormRequest::create(context->feedbackURL, delegate);
    for (const auto& fieldList : {obCommonFeedbackFields(*context), fields})
        for (const auto& [key, value] : fieldList) request->setPostValue(Value(value), key);
    return request;
}

void addInRange(OBFormFields& fields, const char* key, long long value, long long low, long long high) {
    if (value >= low && value <= high) fields.emplace_back(key, std::to_string(value));
}

void addNonZero(OBFormFields& fields, const char* key, long long value) {
    if (value != 0) fields.emplace_back(key, std::to_string(value));
}

// A text that is not UTF-8 is left out: no form could carry it as text.
void addText(OBFormFields& fields, const char* key, const std::optional<std::string>& text) {
    if (text && utf8::valid(*text)) fields.emplace_back(key, *text);
}

std::string localDay(Date date) {
    const auto seconds = static_cast<std::time_t>(date.seconds < 0 ? date.seconds - 1 : date.seconds);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return text;
}

}  // namespace

OBFormFields obCommonFeedbackFields(const OBReportingContext& context) {
    OBFormFields fields{{"a", context.applicationId},
                        {"p", OBEnvironment::platformName()},
                        {"v", context.applicationVersion},
                        {"m", kOrbadLibraryVersion},
                        {"de", orbadEncode(OBEnvironment::deviceIdentifier())}};
    if (obHasTrackingLimit()) fields.emplace_back("lt", OBEnvironment::limitTracking() ? "1" : "0");
    fields.emplace_back("dt", context.deviceType);
    fields.emplace_back("os", plat::sys::Device::current().systemVersion());
    return fields;
}

// ---- demographics ----

void OrbadDemographics::updateDemographics(const OrbadDemographicsRecord& record,
                                           std::optional<Date> birthday) {
    {
        std::lock_guard lock(g_demographicsMutex);
        g_record = record;
        g_birthday = birthday;
    }
    if (auto request = feedbackPost(demographicFields(record, birthday))) request->startAsynchronous();
}

OrbadDemographicsRecord OrbadDemographics::demographics() {
    std::lock_guard lock(g_demographicsMutex);
    return g_record;
}

std::optional<Date> OrbadDemographics::birthday() {
    std::lock_guard lock(g_demographicsMutex);
    return g_birthday;
}

OBFormFields OrbadDemographics::demographicFields(const OrbadDemographicsRecord& r,
                                                  std::optional<Date> birthday) {
    OBFormFields fields{{"t", "demo"}};
    if (birthday) fields.emplace_back("dbd", localDay(*birthday));
    addInRange(fields, "dec", r.dec, 1, 6);
    addInRange(fields, "den", r.den, 1, 6);
    addInRange(fields, "drl", r.drl, 1, 7);
    addInRange(fields, "dg", r.dg, 1, 2);
    addInRange(fields, "ddg", r.ddg, 1, 3);
    addInRange(fields, "dms", r.dms, 1, 3);
    addNonZero(fields, "dic", r.dic);
    addNonZero(fields, "dac", r.dac);
    addNonZero(fields, "ddc", r.ddc);
    addNonZero(fields, "dmc", r.dmc);
    addText(fields, "dci", r.dci);
    addText(fields, "dco", r.dco);
    addText(fields, "dpo", r.dpo);
    addText(fields, "drg", r.drg);
    if (r.gpsLatitude != 0.0 && r.gpsLongitude != 0.0)
        fields.emplace_back("gps", fixedSix(r.gpsLatitude) + "," + fixedSix(r.gpsLongitude));
    return fields;
}

// ---- feedback ----

std::shared_ptr<OrbadFeedback> OrbadFeedback::sharedInstance() {
    std::lock_guard lock(g_feedbackMutex);
    if (!g_feedback) g_feedback = std::make_shared<OrbadFeedback>();
    return g_feedback;
}

void OrbadFeedback::shutdown() {
    std::shared_ptr<OrbadFeedback> gone;
    std::lock_guard lock(g_feedbackMutex);
    gone = std::move(g_feedback);
}

OrbadFeedback::~OrbadFeedback() {
    OBCoreHTTPRequest::cancelRequestsForDelegate(this);
}

void OrbadFeedback::postComment(const std::optional<std::string>& comment) {
    if (!comment || comment->empty()) throw OrbadException("error", kOrbadBlankCommentReason);
    {
        std::lock_guard lock(m_mutex);
        if (m_isSendingComment) throw OrbadException("error", kOrbadCommentInFlightReason);
        m_isSendingComment = true;
    }
    auto request = feedbackPost({{"c", *comment}}, shared_from_this());
    if (!request) {
        onMain(&OrbadFeedback::failedToSendComment,
               obErrorWithCode(kUnknownErrorCode, kUnknownErrorDescription), true);
        return;
    }
    request->setDidFinishSelector(&OrbadFeedback::commentRequestDidFinish);
    request->setDidFailSelector(&OrbadFeedback::commentRequestDidFail);
    request->startAsynchronous();
}

void OrbadFeedback::postRatings(const OrbadRatingsRecord& ratings) {
    const OBFormFields fields{{"1", std::to_string(ratings.rating1)},
                              {"2", std::to_string(ratings.rating2)},
                              {"3", std::to_string(ratings.rating3)},
                              {"4", std::to_string(ratings.rating4)},
                              {"5", std::to_string(ratings.rating5)}};
    setSendingRatings(true);
    auto request = feedbackPost(fields, shared_from_this());
    if (!request) {
        onMain(&OrbadFeedback::failedToSendRatings,
               obErrorWithCode(kUnknownErrorCode, kUnknownErrorDescription), true);
        return;
    }
    request->setDidFinishSelector(&OrbadFeedback::ratingsRequestDidFinish);
    request->setDidFailSelector(&OrbadFeedback::ratingsRequestDidFail);
    request->startAsynchronous();
}

std::shared_ptr<OrbadFeedbackDelegate> OrbadFeedback::delegate() const {
    std::lock_guard lock(m_mutex);
    return m_delegate.lock();
}

void OrbadFeedback::setDelegate(std::weak_ptr<OrbadFeedbackDelegate> delegate) {
    std::lock_guard lock(m_mutex);
    m_delegate = std::move(delegate);
}

bool OrbadFeedback::isSendingComment() const {
    std::lock_guard lock(m_mutex);
    return m_isSendingComment;
}

void OrbadFeedback::setSendingComment(bool sending) {
    std::lock_guard lock(m_mutex);
    m_isSendingComment = sending;
}

bool OrbadFeedback::isSendingRatings() const {
    std::lock_guard lock(m_mutex);
    return m_isSendingRatings;
}

void OrbadFeedback::setSendingRatings(bool sending) {
    std::lock_guard lock(m_mutex);
    m_isSendingRatings = sending;
}

void OrbadFeedback::commentRequestDidFinish(OBCoreHTTPRequest& request) {
    if (request.responseStatusCode() == 200)
        onMain(&OrbadFeedback::sentComment);
    else
        onMain(&OrbadFeedback::failedToSendComment,
               obErrorWithCode(kUnknownErrorCode, kUnknownErrorDescription));
}

void OrbadFeedback::commentRequestDidFail(OBCoreHTTPRequest&, const Error& error) {
    onMain(&OrbadFeedback::failedToSendComment, error);
}

void OrbadFeedback::ratingsRequestDidFinish(OBCoreHTTPRequest& request) {
    if (request.responseStatusCode() == 200)
        onMain(&OrbadFeedback::sentRatings);
    else
        onMain(&OrbadFeedback::failedToSendRatings,
               obErrorWithCode(kUnknownErrorCode, kUnknownErrorDescription));
}

void OrbadFeedback::ratingsRequestDidFail(OBCoreHTTPRequest&, const Error& error) {
    onMain(&OrbadFeedback::failedToSendRatings, error);
}

void OrbadFeedback::sentComment() {
    setSendingComment(false);
    if (auto listener = delegate()) listener->orbadFeedbackSentComment(*this);
}

void OrbadFeedback::sentRatings() {
    setSendingRatings(false);
    if (auto listener = delegate()) listener->orbadFeedbackSentRatings(*this);
}

void OrbadFeedback::failedToSendComment(const Error& error) {
    setSendingComment(false);
    if (auto listener = delegate()) listener->orbadFeedbackFailedToSendComment(*this, error);
}

void OrbadFeedback::failedToSendRatings(const Error& error) {
    setSendingRatings(false);
    if (auto listener = delegate()) listener->orbadFeedbackFailedToSendRatings(*this, error);
}

// Posted rather than waited for: a request thread waiting on the main loop could hold up the
// main thread's wait for that thread at the end of the process. The order is kept either way.
void OrbadFeedback::onMain(void (OrbadFeedback::*fn)()) {
    if (RunLoop::main().isCurrentThread()) return (this->*fn)();
    RunLoop::main().perform([weak = weak_from_this(), fn] {
        if (auto self = weak.lock()) (self.get()->*fn)();
    });
}

void OrbadFeedback::onMain(void (OrbadFeedback::*fn)(const Error&), Error error, bool later) {
    if (!later && RunLoop::main().isCurrentThread()) return (this->*fn)(error);
    RunLoop::main().perform([weak = weak_from_this(), fn, error = std::move(error)] {
        if (auto self = weak.lock()) (self.get()->*fn)(error);
    });
}

}  // namespace orbad
