#include "linked_camera.h"

#include "camlib/recorder.h"

namespace orlinde {

void LinkedQuelmarCamera::CreateHandle() {
    if (!holder_) camlib::CamCreate(&holder_);
}

void LinkedQuelmarCamera::DestroyHandle() {
    if (holder_) camlib::CamDestroy(&holder_);
    holder_ = nullptr;
}

int LinkedQuelmarCamera::Init(char family, int device) {
    if (!holder_) return camlib::kResultFail;
    return camlib::CamInit(&holder_, family, device);
}

int LinkedQuelmarCamera::UsbIdentity(CameraIdentity& out) {
    camlib::UsbIdentity identity;
    const int result = camlib::CamUsbIdentity(holder_, &identity);
    out = {identity.vid, identity.pid, identity.rev};
    return result;
}

bool LinkedQuelmarCamera::RecordTo(const std::string& file) {
    // A file named for this run in the environment goes before the folder's standing setting.
    camlib::StartRecordingFromEnvironment(camlib::CurrentPlatform());
    return camlib::StartRecording(camlib::CurrentPlatform(), file);
}

int LinkedQuelmarCamera::ChipFamily(char& family) { return camlib::CamChipFamily(holder_, &family); }

int LinkedQuelmarCamera::ProbeFlashType(uint8_t& code) { return camlib::CamProbeFlashType(holder_, &code); }

int LinkedQuelmarCamera::SwitchMode(int device) {
    if (!holder_) return camlib::kResultFail;
    return camlib::CamSwitchMode(&holder_, device);
}

int LinkedQuelmarCamera::Download(uint8_t* image, uint32_t length, uint8_t flashType, uint8_t* status,
                                  uint8_t* progress) {
    camlib::DownloadJob job{image, length, flashType, &checksum_, &deviceChecksum_, status, progress};
    return camlib::CamDownload(holder_, job);
}

int LinkedQuelmarCamera::ReadFlash(uint8_t* buffer, uint32_t length, uint8_t flashType) {
    if (!holder_) return camlib::kResultFail;
    return camlib::CamReadRange(holder_, buffer, flashType, 0, length) == 1 ? camlib::kResultOk
                                                                             : camlib::kResultFail;
}

}  // namespace orlinde
