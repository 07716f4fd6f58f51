// The browser's commands as portable flows: connecting at start-up, reloading the catalogue
// and thumbnails from the camera, saving the selected pictures into a folder, opening the
// JPEG files of a folder, deleting and selecting. They reach the screen only through the
// View, the camera through the CameraLink, time through the Clock and files through the
// FileSystem, so every flow runs natively in tests. The Win32 dialog maps its command ids
// here and implements the View; pixdesk's browser is the same code with other options.
#pragma once

#include "browser/browser_state.h"
#include "link/camera_link.h"
#include "platform/clock.h"
#include "platform/files.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace browser {

// What differs between campanel's browser and pixdesk's.
struct BrowserOptions {
    bool serialLink = true; // start-up tries the serial ports after USB (pixdesk: USB only)
    bool waitCursor = true; // the hourglass at start-up and reload (pixdesk: none)
    bool keepFolder = true; // a save's folder is remembered for the folder open (pixdesk: no)
};

extern const char kInitialFolder[]; // "C:\\WINDOWS\\TWAIN_32\\LUMIVERA\\SAMPLE\\"

// Texts shown by the commands.
extern const char kMsgCatalogueUnreadable[]; // the four lines after 9 failed USB attempts
extern const char kMsgSomeCorrupted[];       // "Some files are corrupted"
extern const char kMsgSelectOne[];           // "Select at least one image!"
extern const char kMsgOverwrite[];           // "The %s has already exist.\nDo you want ..."
extern const char kMsgDeleteQuestion[];      // "Do you want to delete %d image(s)?"
extern const char kMsgFolderFileBad[];       // "JPEG file format is not supported or ..."
extern const char kMsgNotSaved[];            // heads the list of pictures a save could not write
extern const char kMsgNotDeleted[];          // "%d image(s) could not be deleted."

// The file name a picture is saved under. A camera picture: its name and ".jpg". A folder
// picture (`fromFolder`, its name a path): the part after the last folder separator, with
// ".jpg" added only when it does not end so already. In both, every byte that is not
// printable ASCII or is one of \ / : * ? " < > | becomes '_', so no name from the camera
// or the disk can reach outside the chosen folder.
std::string saveFileName(const char* pictureName, bool fromFolder);

// The catalogue a camera catalogue read empties: the browser's picture list.
class ListCatalogue : public camlink::PictureCatalogue {
public:
    explicit ListCatalogue(PictureList& list) : list_(list) {}
    int clear() override { return list_.clear() ? 1 : 0; }

private:
    PictureList& list_;
};

class BrowserCommands {
public:
    // Pauses of the USB catalogue retries.
    static constexpr std::uint32_t kRetryPauseMs = 300;
    static constexpr int kRetrySeries = 3;
    static constexpr int kAttemptsPerSeries = 3;

    // All references must outlive the commands.
    BrowserCommands(BrowserState& state, View& view, camlink::CameraLink& link,
                    platform::Clock& clock, platform::FileSystem& files,
                    BrowserOptions options = {});
    BrowserCommands(const BrowserCommands&) = delete;
    BrowserCommands& operator=(const BrowserCommands&) = delete;

    // The camera part of the dialog's start-up: USB, else (with serialLink) serial; with a
    // link the catalogue is reloaded, without one the long "Can not find digital camera!"
    // message is shown.
    void connectAndLoad();
    // pixdesk's USB button: reopens the Still Image device; the long message when none.
    void reconnectUsb();

    void reloadFromCamera();  // FROMDSC
    void saveSelected();      // FROMFILE
    void openFromFolder();    // command 1005
    void deleteSelected();    // DELETE
    void selectAllPictures(); // SELECT

    // Runs the command of a control or command id of the browser template (1002, 1005,
    // 1006, 1007, 1011, 1012, 1014, paging); false when the id is none of these.
    bool command(int commandId);

    // The remembered folder, always ending with a folder separator.
    const std::string& folder() const { return folder_; }
    const BrowserOptions& options() const { return options_; }

private:
    int readCatalogueWithRetries(camlink::CameraPictureList& records);
    void loadThumbnails(camlink::CameraPictureList records, int count);
    // Saves the cursor's picture into the folder `prefix`; false when it was not written
    // (a declined overwrite is not a failure).
    bool saveCurrent(const std::string& prefix, platform::Progress* progress);
    bool writeByMove(const std::string& prefix, const std::string& target, const void* data,
                     std::size_t size, bool replace);
    bool deleteCurrent();
    void beginWait();
    void endWait();

    BrowserState& state_;
    View& view_;
    camlink::CameraLink& link_;
    platform::Clock& clock_;
    platform::FileSystem& files_;
    BrowserOptions options_;
    std::string folder_;
};

} // namespace browser
