// Every text the still-capture graph writes to the debugger or shows, in one place so that tests
// share them. Line ends are part of the texts.
#pragma once

namespace stillcap {

inline constexpr const char* kInitTrace = "InitStillGraph(VID=%04x, PID=%04x)\r\n";
inline constexpr const char* kNoFilterGraph = "Could not create filter graph!";
inline constexpr const char* kNoCaptureDevice =
    "No video capture device was detected on your system.\r\nThis sample requires a functional video "
    "capture device, such\r\nas a USB web camera.";
inline constexpr const char* kCaptureNotAdded = "Could not put capture device in graph!";
inline constexpr const char* kSizeMismatch = "Image size mismatch or unknown format";
inline constexpr const char* kNoSampleGrabber = "Could not create SampleGrabber (is qedit.dll registered?)";
inline constexpr const char* kNoMediaType = "Could not set media type!";
inline constexpr const char* kBuildTrace = "Build graph (%dx%d@%dfps)\t--- %02u.%02u.%02u.%03u\n";
inline constexpr const char* kGrabberNotAdded = "Could not put sample grabber in graph!";
inline constexpr const char* kNotConnected =
    "Could not connect capture pin #0 to grabber.\r\nIs the capture device being used by another application?";
inline constexpr const char* kNotRendered = "Could not render sample grabber output pin!";
inline constexpr const char* kNoVideoWindow = "Could not get video window interface!";
inline constexpr const char* kNotRun = "Could not run graph!";
inline constexpr const char* kRunTrace = "Run graph\t\t\t--- %02u.%02u.%02u.%03u\n";
inline constexpr const char* kGraphReleased = "CStillCap.ClearGraphs()...m_pGraph.Release()\n";
inline constexpr const char* kCaptureReleased = "CStillCap.ClearGraphs()...pCap.Release()\n";

// The caption of the size-mismatch box: the program's name, as every box of the updater shows.
inline constexpr const char* kBoxCaption = "Tessaw";

}  // namespace stillcap
