// The phone's camera picker and message composers as plain modal screens over the media
// stand-ins (platform/services/devices/MediaServices.h). Nothing is drawn but a plain view: what a
// person does on them comes from tools and tests (pick, cancel, finish). Their delegates are weak:
// an answer for a delegate that has gone is dropped. What they show is reported as media lines:
// "camera show", "mail to=A,B|cc=...|bcc=...|subject=...|body=..." and "sms to=...|body=...".
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/image/ImageCodec.h"
#include "platform/ui/ViewController.h"

namespace plat::ui {

class ImagePickerController;

// The picture taken: the camera's own, the user's edit when there is one, and how the pixels
// are turned (0 up, 1 down, 2 left, 3 right, 4-7 mirrored).
struct PickedMedia {
    image::Bitmap original;
    std::optional<image::Bitmap> edited;
    int orientation = 0;
};

class ImagePickerControllerDelegate {
public:
    virtual ~ImagePickerControllerDelegate() = default;
    virtual void imagePickerControllerDidCancel(ImagePickerController& picker) = 0;
    virtual void imagePickerControllerDidFinishPicking(ImagePickerController& picker, const PickedMedia& media) = 0;
};

// Made with std::make_shared; the camera source only.
class ImagePickerController : public ViewController {
public:
    const char* className() const override { return "UIImagePickerController"; }
    static bool isCameraAvailable();
    void setDelegate(std::weak_ptr<ImagePickerControllerDelegate> delegate) { m_delegate = std::move(delegate); }

    // The person's answers while it is presented. Pick reads the camera's picture; one that cannot
    // be read is said on the log and answered as a cancel. False when it is not presented.
    bool pick();
    bool cancel();
    // The last picker presented, while it still is; null otherwise.
    static std::shared_ptr<ImagePickerController> onScreen();

    void viewWillAppear(bool animated) override;

private:
    std::weak_ptr<ImagePickerControllerDelegate> m_delegate;
};

class MailComposeViewController;
class MessageComposeViewController;

enum class ComposeResult { Cancelled, Saved, Sent, Failed };

class MailComposeViewControllerDelegate {
public:
    virtual ~MailComposeViewControllerDelegate() = default;
    virtual void mailComposeControllerDidFinish(MailComposeViewController& composer, ComposeResult result) = 0;
};

class MessageComposeViewControllerDelegate {
public:
    virtual ~MessageComposeViewControllerDelegate() = default;
    virtual void messageComposeViewControllerDidFinish(MessageComposeViewController& composer,
                                                       ComposeResult result) = 0;
};

// What the two composers share: finishing, and the one on screen.
class ComposeViewController : public ViewController {
public:
    // The person is done with it: the delegate hears `result`. False when it is not presented.
    bool finish(ComposeResult result = ComposeResult::Sent);
    // The last composer presented, while it still is; null otherwise.
    static std::shared_ptr<ComposeViewController> onScreen();
    void viewWillAppear(bool animated) override;

protected:
    virtual std::string describe() const = 0;
    virtual void tellDelegate(ComposeResult result) = 0;
};

class MailComposeViewController : public ComposeViewController {
public:
    const char* className() const override { return "MFMailComposeViewController"; }
    static bool canSendMail();
    void setMailComposeDelegate(std::weak_ptr<MailComposeViewControllerDelegate> delegate) {
        m_delegate = std::move(delegate);
    }
    void setToRecipients(std::vector<std::string> to) { m_to = std::move(to); }
    void setCcRecipients(std::vector<std::string> cc) { m_cc = std::move(cc); }
    void setBccRecipients(std::vector<std::string> bcc) { m_bcc = std::move(bcc); }
    void setSubject(std::string subject) { m_subject = std::move(subject); }
    void setMessageBody(std::string body, bool isHTML) {
        m_body = std::move(body);
        m_bodyIsHTML = isHTML;
    }
    const std::vector<std::string>& toRecipients() const { return m_to; }
    const std::vector<std::string>& ccRecipients() const { return m_cc; }
    const std::vector<std::string>& bccRecipients() const { return m_bcc; }
    const std::string& subject() const { return m_subject; }
    const std::string& body() const { return m_body; }
    bool bodyIsHTML() const { return m_bodyIsHTML; }

protected:
    std::string describe() const override;
    void tellDelegate(ComposeResult result) override;

private:
    std::weak_ptr<MailComposeViewControllerDelegate> m_delegate;
    std::vector<std::string> m_to, m_cc, m_bcc;
    std::string m_subject, m_body;
    bool m_bodyIsHTML = false;
};

class MessageComposeViewController : public ComposeViewController {
public:
    const char* className() const override { return "MFMessageComposeViewController"; }
    static bool canSendText();
    void setMessageComposeDelegate(std::weak_ptr<MessageComposeViewControllerDelegate> delegate) {
        m_delegate = std::move(delegate);
    }
    void setRecipients(std::vector<std::string> recipients) { m_recipients = std::move(recipients); }
    void setBody(std::optional<std::string> body) { m_body = std::move(body); }
    const std::vector<std::string>& recipients() const { return m_recipients; }
    const std::optional<std::string>& body() const { return m_body; }

protected:
    std::string describe() const override;
    void tellDelegate(ComposeResult result) override;

private:
    std::weak_ptr<MessageComposeViewControllerDelegate> m_delegate;
    std::vector<std::string> m_recipients;
    std::optional<std::string> m_body;
};

}  // namespace plat::ui
