// The media stand-ins' configuration files in Library/LocalServices/ (MediaServices.h):
//   camera.plist  image (a PNG or JPEG path in the container), orientation 0-7, edited (optional)
//   torch.plist   lockFails
//   songs.plist   items, an array of dictionaries with any of the six song keys
//   mail.plist    canSendMail (default YES)
//   sms.plist     canSendText (default YES)
// Each file is read at every use, so a service may come and go while the process runs.
#pragma once

namespace plat::devices {

// Installs the readers and registers "AVCaptureDevice" (torch.plist), "MPMediaQuery" (songs.plist),
// "MFMailComposeViewController" (mail.plist) and "MFMessageComposeViewController" (sms.plist) with
// the class look-up. Once; later calls do nothing.
void registerMediaServices();

}  // namespace plat::devices
