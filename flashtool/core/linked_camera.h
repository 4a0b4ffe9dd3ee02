// The Quelmar camera port over the camera-access library linked into the tool: one handle holder,
// the calls passed through as they are. The library reaches its camera through the platform
// current when the handle is created (the system's, or an emulated bench's).
#pragma once

#include "camlib/camlib.h"
#include "ports.h"

namespace orlinde {

class LinkedQuelmarCamera final : public QuelmarCameraPort {
public:
    LinkedQuelmarCamera() = default;
    ~LinkedQuelmarCamera() override { DestroyHandle(); }
    LinkedQuelmarCamera(const LinkedQuelmarCamera&) = delete;
    LinkedQuelmarCamera& operator=(const LinkedQuelmarCamera&) = delete;

    bool HasHandle() const override { return holder_ != nullptr; }
    void CreateHandle() override;
    void DestroyHandle() override;
    int Init(char family, int device) override;
    int UsbIdentity(CameraIdentity& out) override;
    int ChipFamily(char& family) override;
    int ProbeFlashType(uint8_t& code) override;
    int SwitchMode(int device) override;
    int Download(uint8_t* image, uint32_t length, uint8_t flashType, uint8_t* status,
                 uint8_t* progress) override;
    int ReadFlash(uint8_t* buffer, uint32_t length, uint8_t flashType) override;
    bool RecordTo(const std::string& file) override;

private:
    camlib::CamHolder holder_ = nullptr;
    // The two result bytes of a download that the tool does not look at.
    uint8_t checksum_ = 0;
    uint8_t deviceChecksum_ = 0;
};

}  // namespace orlinde
