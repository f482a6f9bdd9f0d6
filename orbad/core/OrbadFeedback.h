// The publisher's reporters: demographics of the application's user, and the user's comment or
// ratings, each posted as a form to the configuration's feedback URL with the client's common
// identification fields (a, p, v, m, de, lt, dt, os).
//
// Without a running client the reports are dropped (a comment or ratings then fail with code 500).
// Results are posted to the main loop rather than waited for (a request thread waiting there could
// hold up the end-of-process join); the host's errors are OrbadExceptions named "error".
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "orbad/core/OBReporting.h"
#include "orbad/core/OrbadJSON.h"
#include "orbad/core/http/OBCoreHTTPRequest.h"
#include "platform/foundation/Value.h"

namespace orbad {

// A programming error of the host (a blank comment, a comment while one is in flight).
class OrbadException : public std::logic_error {
public:
    OrbadException(std::string name, const std::string& reason)
        : std::logic_error(reason), m_name(std::move(name)) {}
    const std::string& name() const { return m_name; }
    std::string reason() const { return what(); }

private:
    std::string m_name;
};

inline constexpr const char* kOrbadBlankCommentReason = "A blank comment can not be sent.";
inline constexpr const char* kOrbadCommentInFlightReason =
    "A comment is already being sent.  Please wait until it finishes before sending another comment.";

// Each field is sent under its own name when in its range: dec, den 1..6; drl 1..7; dg 1..2;
// ddg, dms 1..3; dic, dac, ddc, dmc not 0; the texts when present (and UTF-8); "gps" as
// "%f,%f" when neither coordinate is 0.
struct OrbadDemographicsRecord {
    int dec = 0;
    int den = 0;
    int drl = 0;
    int dg = 0;
    int ddg = 0;
    int dms = 0;
    unsigned dic = 0;
    unsigned dac = 0;
    int ddc = 0;
    int dmc = 0;
    std::optional<std::string> dci;
    std::optional<std::string> dco;
    std::optional<std::string> dpo;
    std::optional<std::string> drg;
    double gpsLatitude = 0;
    double gpsLongitude = 0;
};

using OBFormFields = std::vector<std::pair<std::string, std::string>>;

// The fields every post to the feedback URL starts with.
OBFormFields obCommonFeedbackFields(const OBReportingContext& context);

class OrbadDemographics {
public:
    // Keeps both and posts them (the outcome is not observed); `birthday` is sent "yyyy-MM-dd" in
    // the local time zone.
    static void updateDemographics(const OrbadDemographicsRecord& record,
                                   std::optional<plat::foundation::Date> birthday);
    static OrbadDemographicsRecord demographics();
    static std::optional<plat::foundation::Date> birthday();
    // The form fields of a post, after the common ones: "t", "dbd", then the record's.
    static OBFormFields demographicFields(const OrbadDemographicsRecord& record,
                                          std::optional<plat::foundation::Date> birthday);
};

struct OrbadRatingsRecord {
    int rating1 = 0, rating2 = 0, rating3 = 0, rating4 = 0, rating5 = 0;
};

class OrbadFeedback;

// What the host hears, on the main thread; each operation optional.
class OrbadFeedbackDelegate {
public:
    virtual ~OrbadFeedbackDelegate() = default;
    virtual void orbadFeedbackSentComment(OrbadFeedback&) {}
    virtual void orbadFeedbackFailedToSendComment(OrbadFeedback&, const Error&) {}
    virtual void orbadFeedbackSentRatings(OrbadFeedback&) {}
    virtual void orbadFeedbackFailedToSendRatings(OrbadFeedback&, const Error&) {}
};

class OrbadFeedback : public OBHTTPRequestDelegate, public std::enable_shared_from_this<OrbadFeedback> {
public:
    static std::shared_ptr<OrbadFeedback> sharedInstance();
    // Lets the singleton go; its requests are cancelled.
    static void shutdown();
    static void sendComment(const std::optional<std::string>& comment) {
        sharedInstance()->postComment(comment);
    }
    static void sendRatings(const OrbadRatingsRecord& ratings) { sharedInstance()->postRatings(ratings); }

    OrbadFeedback() = default;
    ~OrbadFeedback() override;

    // Any thread. Throws OrbadException for a blank comment or one while another is in flight.
    void postComment(const std::optional<std::string>& comment);
    // No guard: each call posts. isSendingRatings() holds from a post until its delegate call.
    void postRatings(const OrbadRatingsRecord& ratings);

    std::shared_ptr<OrbadFeedbackDelegate> delegate() const;
    void setDelegate(std::weak_ptr<OrbadFeedbackDelegate> delegate);
    bool isSendingComment() const;
    void setSendingComment(bool sending);
    bool isSendingRatings() const;
    void setSendingRatings(bool sending);

    void commentRequestDidFinish(OBCoreHTTPRequest& request);
    void commentRequestDidFail(OBCoreHTTPRequest& request, const Error& error);
    void ratingsRequestDidFinish(OBCoreHTTPRequest& request);
    void ratingsRequestDidFail(OBCoreHTTPRequest& request, const Error& error);

private:
    // On the main thread: the flag cleared, then the delegate told.
    void failedToSendComment(const Error& error);
    void failedToSendRatings(const Error& error);
    void sentComment();
    void sentRatings();
    // Moves `fn` to the main thread (`later`: to a later turn even there); it runs only while this
    // object lives.
    void onMain(void (OrbadFeedback::*fn)());
    void onMain(void (OrbadFeedback::*fn)(const Error&), Error error, bool later = false);

    mutable std::mutex m_mutex;
    std::weak_ptr<OrbadFeedbackDelegate> m_delegate;
    bool m_isSendingComment = false;
    bool m_isSendingRatings = false;
};

}  // namespace orbad
