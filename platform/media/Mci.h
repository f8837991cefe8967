#pragma once
// The MCI command strings of the AVI player, interpreted over the AVI reader:
//   open "<path>" type avivideo alias <alias> parent <handle> Style <style>
//   where <alias> destination          reply "left top right bottom"
//   put <alias> window at <x> <y> <w> <h>
//   play <alias> wait                  returns when the video has ended
//   close <alias>
// Keywords and aliases are case-insensitive; a path with blanks is quoted.
// Anything else, or a file that cannot be opened, answers an error code and
// changes nothing. The frames go to a window the host finds by its handle.
// Playing goes from the current position to the end and leaves the position
// there, so playing again needs a new open.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/gdi.h"

namespace tarnel {

inline constexpr uint32_t MCIERR_BASE = 256;
inline constexpr uint32_t MCIERR_INVALID_DEVICE_ID = MCIERR_BASE + 1;
inline constexpr uint32_t MCIERR_UNRECOGNIZED_KEYWORD = MCIERR_BASE + 3;
inline constexpr uint32_t MCIERR_UNRECOGNIZED_COMMAND = MCIERR_BASE + 5;
inline constexpr uint32_t MCIERR_HARDWARE = MCIERR_BASE + 6;
inline constexpr uint32_t MCIERR_INVALID_DEVICE_NAME = MCIERR_BASE + 7;
inline constexpr uint32_t MCIERR_DEVICE_OPEN = MCIERR_BASE + 9;
inline constexpr uint32_t MCIERR_BAD_INTEGER = MCIERR_BASE + 14;
inline constexpr uint32_t MCIERR_CANNOT_LOAD_DRIVER = MCIERR_BASE + 10;
inline constexpr uint32_t MCIERR_MISSING_PARAMETER = MCIERR_BASE + 17;
inline constexpr uint32_t MCIERR_FILE_NOT_FOUND = MCIERR_BASE + 19;
inline constexpr uint32_t MCIERR_PARAM_OVERFLOW = MCIERR_BASE + 21;
inline constexpr uint32_t MCIERR_INVALID_FILE = MCIERR_BASE + 40;
inline constexpr uint32_t MCIERR_NO_WINDOW = MCIERR_BASE + 90;

// Where the device shows its frames: the host (the GUI, or a test) maps the
// parent handle of the open command to a video window.
class MciVideoWindow {
public:
    virtual ~MciVideoWindow() = default;
    // The video window's rectangle inside its parent ("put … window at").
    virtual void Place(const Rect& rect) = 0;
    // Shows one decoded frame (32-bpp top-down) stretched to the placed rectangle.
    virtual void ShowFrame(const Bitmap& frame) = 0;
    // Called when the device closes: the window shows nothing any more.
    virtual void Clear() = 0;
};

class MciHost {
public:
    virtual ~MciHost() = default;
    // The window for a parent handle; null when there is none.
    virtual MciVideoWindow* WindowFor(uint64_t parentHandle) = 0;
    // Lets the user interface paint (no user input) until `milliseconds` have
    // passed since the play started. False stops the play (the window is going).
    virtual bool WaitUntil(int64_t milliseconds) = 0;
};

class MciDevices {
public:
    explicit MciDevices(MciHost& host);
    ~MciDevices();
    // mciSendString: 0 on success, else an MCIERR_ code; the reply (NUL
    // terminated) goes into `returnString` of `returnLength` characters.
    uint32_t SendString(const std::string& command, char* returnString = nullptr, uint32_t returnLength = 0);

private:
    struct Device;
    MciHost& host_;
    std::map<std::string, std::unique_ptr<Device>> devices_;  // by alias, lower case
};

}  // namespace tarnel
