#include "browser/commands.h"

#include "jpeg/decode_picture.h"
#include "platform/file.h"
#include "platform/memory.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace browser {

const char kInitialFolder[] = "C:\\WINDOWS\\TWAIN_32\\LUMIVERA\\SAMPLE\\";

const char kMsgCatalogueUnreadable[] = "1.Please restart your computer.\n"
                                       "2.Not find image from your digital camera.\n"
                                       "3.Makesure your CF card have picture.\n"
                                       "4.Reset and plug it again.";
const char kMsgSomeCorrupted[] = "Some files are corrupted";
const char kMsgSelectOne[] = "Select at least one image!";
const char kMsgOverwrite[] = "The %s has already exist.\nDo you want to overwrite this file ?";
const char kMsgDeleteQuestion[] = "Do you want to delete %d image(s)?";
const char kMsgFolderFileBad[] = "JPEG file format is not supported or contain errors!";
const char kMsgNotSaved[] = "These pictures were not saved:";
const char kMsgNotDeleted[] = "%d image(s) could not be deleted.";

namespace {

// Largest picture file a save copies from the disk.
constexpr std::size_t kMaxFolderFileBytes = 64u << 20;
// Names a save's "not saved" message lists before it only counts the rest.
constexpr std::size_t kNotSavedListed = 20;
// Temporary names tried in the target folder before a save gives up on a picture.
constexpr int kTempNames = 100;

std::string format(const char* pattern, ...) {
    std::va_list args;
    va_start(args, pattern);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), pattern, again);
        text.assign(buffer.data(), static_cast<std::size_t>(length));
    }
    va_end(again);
    return text;
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

bool endsWithJpg(const std::string& name) {
    if (name.size() < 4) {
        return false;
    }
    const char* tail = name.c_str() + name.size() - 4;
    return tail[0] == '.' && (tail[1] | 0x20) == 'j' && (tail[2] | 0x20) == 'p' &&
           (tail[3] | 0x20) == 'g';
}

// The folder as a prefix for file names: a separator is added unless it ends with one
// already (a drive root such as "C:\").
std::string folderPrefix(const std::string& folder) {
    if (!folder.empty() && isSeparator(folder.back())) {
        return folder;
    }
    return folder + '\\';
}

// A camera picture's 8-byte name as a terminated text.
struct CameraName {
    explicit CameraName(const char (&name)[8]) { std::memcpy(text, name, sizeof name); }
    char text[9] = {};
};

} // namespace

std::string saveFileName(const char* pictureName, bool fromFolder) {
    std::string name = pictureName != nullptr ? pictureName : "";
    if (fromFolder) {
        const std::size_t separator = name.find_last_of("\\/");
        if (separator != std::string::npos) {
            name.erase(0, separator + 1);
        }
    }
    if (name.empty()) {
        name = "_";
    }
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E || std::strchr("\\/:*?\"<>|", c) != nullptr) {
            c = '_';
        }
    }
    if (!fromFolder || !endsWithJpg(name)) {
        name += ".jpg";
    }
    return name;
}

BrowserCommands::BrowserCommands(BrowserState& state, View& view, camlink::CameraLink& link,
                                 platform::Clock& clock, platform::FileSystem& files,
                                 BrowserOptions options)
    : state_(state), view_(view), link_(link), clock_(clock), files_(files), options_(options),
      folder_(kInitialFolder) {}

void BrowserCommands::beginWait() {
    if (options_.waitCursor) {
        view_.beginWaitCursor();
    }
}

void BrowserCommands::endWait() {
    if (options_.waitCursor) {
        view_.endWaitCursor();
    }
}

void BrowserCommands::connectAndLoad() {
    beginWait();
    bool linked = false;
    if (options_.serialLink) {
        linked = link_.connectAtStart();
    } else if (link_.openStillDevice() == 1) {
        link_.linkKind = camlink::LinkUsb;
        linked = true;
    } else {
        link_.linkKind = camlink::LinkNone;
        view_.messageBox(camlink::kMsgNoCameraAtStart);
    }
    if (linked) {
        reloadFromCamera();
    }
    endWait();
}

void BrowserCommands::reconnectUsb() {
    if (link_.openStillDevice() == 1) {
        link_.linkKind = camlink::LinkUsb;
        return;
    }
    link_.linkKind = camlink::LinkNone;
    view_.messageBox(camlink::kMsgNoCameraAtStart);
}

int BrowserCommands::readCatalogueWithRetries(camlink::CameraPictureList& records) {
    for (int series = 0; series < kRetrySeries; ++series) {
        for (int attempt = 0; attempt < kAttemptsPerSeries; ++attempt) {
            // A read adds to the list it is given: every attempt starts from none.
            camlink::freePictures(records);
            const int count = link_.readCatalogueUsb(records);
            clock_.sleepMs(kRetryPauseMs);
            if (count > 0) {
                return count;
            }
        }
        clock_.sleepMs(kRetryPauseMs);
    }
    camlink::freePictures(records);
    view_.messageBox(kMsgCatalogueUnreadable);
    return 0;
}

void BrowserCommands::reloadFromCamera() {
    state_.resetClicks();
    const std::uint8_t kind = link_.linkKind;
    if (!options_.serialLink && kind != camlink::LinkUsb) {
        return; // pixdesk without a camera: nothing at all
    }
    beginWait();
    camlink::CameraPictureList records = nullptr;
    int count = 0;
    if (kind == camlink::LinkUsb) {
        count = readCatalogueWithRetries(records);
    } else if (kind == camlink::LinkSerial) {
        count = link_.readCatalogueSerial(records);
    }
    if (count > 0) {
        loadThumbnails(records, count);
    } else if (kind != camlink::LinkNone) {
        // The read emptied the catalogue: the page must not go on showing the old pictures.
        camlink::freePictures(records);
        state_.updatePageButtons();
        view_.invalidatePictureArea(true);
    }
    endWait();
}

void BrowserCommands::loadThumbnails(camlink::CameraPictureList records, int count) {
    platform::Progress* progress = view_.createProgress();
    if (progress != nullptr) {
        progress->setRange(1, count);
        progress->setStep(1);
        progress->show();
    }
    jpeg::PictureListSink<PictureList> sink(state_.pictures);
    bool corrupted = false;
    int k = 1;
    for (const camlink::CameraPicture* record = records; record != nullptr && k <= count;
         record = record->next, ++k) {
        if (progress != nullptr) {
            progress->setText(format("%d of %d", k, count).c_str());
        }
        bool callerOwns = false;
        std::uint8_t* data =
            link_.fetchFile(record->thumbName, record->thumbSize, nullptr, &callerOwns);
        if (data != nullptr) {
            const CameraName name(record->fullName);
            if (jpeg::decodePicture(view_, sink, data, record->fullSize, record->thumbSize,
                                    name.text, 1, nullptr) == 0) {
                corrupted = true;
            }
            if (callerOwns) {
                platform::virtualFree(data);
            }
        }
        if (progress != nullptr) {
            progress->stepIt();
        }
    }
    if (progress != nullptr) {
        progress->hide();
    }
    state_.pictures.rewind();
    state_.updatePageButtons();
    camlink::freePictures(records);
    if (corrupted) {
        view_.messageBox(kMsgSomeCorrupted);
    }
    view_.invalidatePictureArea(true);
    view_.destroyProgress(progress);
}

void BrowserCommands::saveSelected() {
    state_.resetClicks();
    platform::Progress* progress = view_.createProgress();
    PictureList& pictures = state_.pictures;
    if (pictures.selectedCount() == 0) {
        view_.messageBox(kMsgSelectOne);
        view_.destroyProgress(progress);
        return;
    }
    std::string chosen;
    // An empty path names no folder: the files would land wherever the process stands.
    if (view_.chooseFolder(chosen) && !chosen.empty()) {
        state_.setCommandControlsEnabled(false);
        state_.setMouseEnabled(false);
        const std::string prefix = folderPrefix(chosen);
        if (options_.keepFolder) {
            folder_ = prefix;
        }
        std::vector<std::string> notSaved;
        for (bool more = pictures.firstSelected(); more; more = pictures.nextSelected()) {
            if (!saveCurrent(prefix, progress)) {
                notSaved.push_back(
                    saveFileName(pictures.currentName(), pictures.currentThumbSize() == 0));
            }
        }
        state_.setCommandControlsEnabled(true);
        state_.setMouseEnabled(true);
        if (!notSaved.empty()) {
            std::string text = kMsgNotSaved;
            for (std::size_t i = 0; i < notSaved.size() && i < kNotSavedListed; ++i) {
                text += "\n" + notSaved[i];
            }
            if (notSaved.size() > kNotSavedListed) {
                text +=
                    format("\n(and %d more)", static_cast<int>(notSaved.size() - kNotSavedListed));
            }
            view_.messageBox(text.c_str());
        }
    }
    pictures.rewind();
    pictures.clearSelection();
    state_.updatePageButtons();
    view_.invalidateWindow(true);
    view_.destroyProgress(progress);
}

bool BrowserCommands::saveCurrent(const std::string& prefix, platform::Progress* progress) {
    PictureList& pictures = state_.pictures;
    const char* name = pictures.currentName();
    if (name == nullptr) {
        return false;
    }
    const bool fromFolder = pictures.currentThumbSize() == 0;
    const std::string target = prefix + saveFileName(name, fromFolder);

    // Asked before the transfer: a declined overwrite costs none.
    bool replace = false;
    if (files_.exists(target.c_str())) {
        if (view_.messageBox(format(kMsgOverwrite, target.c_str()).c_str(),
                             platform::kMbQuestion) != platform::kIdYes) {
            return true;
        }
        replace = true;
    }

    if (fromFolder) {
        const platform::FileContents file = platform::readWholeFile(name, kMaxFolderFileBytes);
        if (file.status != platform::FileReadStatus::Ok) {
            return false;
        }
        const bool written = writeByMove(prefix, target, file.data, file.size, replace);
        platform::virtualFree(file.data);
        return written;
    }
    bool callerOwns = false;
    const std::uint32_t size = pictures.currentSize();
    std::uint8_t* data = link_.fetchFile(name, size, progress, &callerOwns);
    if (data == nullptr) {
        return false;
    }
    const bool written = writeByMove(prefix, target, data, size, replace);
    if (callerOwns) {
        platform::virtualFree(data);
    }
    return written;
}

bool BrowserCommands::writeByMove(const std::string& prefix, const std::string& target,
                                  const void* data, std::size_t size, bool replace) {
    // The bytes go to a temporary file beside the target and only a complete file takes the
    // target's name, so neither a failed write nor a crash leaves a partial picture or
    // destroys the file it was to replace. Picture files end with ".jpg", never ".tmp".
    for (int i = 1; i <= kTempNames; ++i) {
        const std::string temp = prefix + "~lvsave" + std::to_string(i) + ".tmp";
        if (files_.exists(temp.c_str())) {
            continue;
        }
        if (!files_.writeNewFile(temp.c_str(), data, size)) {
            return false;
        }
        if (!files_.moveFile(temp.c_str(), target.c_str(), replace)) {
            files_.deleteFile(temp.c_str());
            return false;
        }
        return true;
    }
    return false;
}

void BrowserCommands::openFromFolder() {
    const std::string pattern = folder_ + "*.jpg";
    platform::Progress* progress = view_.createProgress();
    const std::vector<std::string> names = files_.findFiles(pattern.c_str());
    if (names.empty()) {
        view_.destroyProgress(progress);
        return;
    }
    const int total = static_cast<int>(names.size());
    view_.enableControl(kIdOpenFolder, false);
    if (progress != nullptr) {
        progress->setRange(0, total);
        progress->setStep(1);
        progress->show();
    }
    PictureList& pictures = state_.pictures;
    pictures.clear();
    jpeg::PictureListSink<PictureList> sink(pictures);
    int k = 1;
    for (const std::string& name : names) {
        const std::string path = folder_ + name;
        if (jpeg::decodePicture(view_, sink, nullptr, 0, 0, path.c_str(), 1, nullptr) == 0) {
            view_.messageBox(kMsgFolderFileBad);
        } else if (pictures.count() <= kCellCount) {
            // The first page fills while the pictures load.
            pictures.rewind();
            view_.invalidateRect(thumbLoadRect(static_cast<int>(pictures.count())), true);
            view_.updateWindow();
        }
        if (progress != nullptr) {
            progress->setText(format("%d of %d", k, total).c_str());
            progress->stepIt();
        }
        ++k;
    }
    if (progress != nullptr) {
        progress->hide();
    }
    pictures.rewind();
    state_.updatePageButtons();
    view_.invalidatePictureArea(true);
    view_.updateWindow();
    view_.enableControl(kIdOpenFolder, true);
    view_.destroyProgress(progress);
}

bool BrowserCommands::deleteCurrent() {
    const PictureList& pictures = state_.pictures;
    const char* name = pictures.currentName();
    if (name == nullptr) {
        return false;
    }
    if (pictures.currentThumbSize() == 0) {
        return files_.deleteFile(name);
    }
    switch (link_.linkKind) {
    case camlink::LinkUsb:
        return link_.deleteFileUsb(name) != 0;
    case camlink::LinkSerial:
        return link_.deleteFileSerial(name) != 0;
    default:
        return false;
    }
}

void BrowserCommands::deleteSelected() {
    state_.resetClicks();
    PictureList& pictures = state_.pictures;
    const std::uint32_t n = pictures.selectedCount();
    if (n == 0) {
        view_.messageBox(kMsgSelectOne);
        return;
    }
    if (view_.messageBox(format(kMsgDeleteQuestion, static_cast<int>(n)).c_str(),
                         platform::kMbQuestion) != platform::kIdYes) {
        return;
    }
    const std::uint32_t page = pictures.position();
    // A picture that could not be deleted is deselected for the removal of the others and
    // selected again afterwards at its new place: it stays, as the user chose it.
    std::vector<std::uint32_t> keptPlaces;
    std::uint32_t deleted = 0;
    for (bool more = pictures.firstSelected(); more; more = pictures.nextSelected()) {
        if (deleteCurrent()) {
            ++deleted;
        } else {
            keptPlaces.push_back(pictures.position() - 1 - deleted);
            pictures.toggleAt(0);
        }
    }
    const bool removed = pictures.removeSelected();
    for (std::uint32_t place : keptPlaces) {
        pictures.selectRange(place, place);
    }
    if (removed) {
        pictures.rewind();
        state_.updatePageButtons();
        view_.invalidatePictureArea(true);
    } else {
        // Nothing went: the page that was shown stays.
        pictures.rewind();
        pictures.forward(page > 0 ? page - 1 : 0);
    }
    if (!keptPlaces.empty()) {
        view_.messageBox(format(kMsgNotDeleted, static_cast<int>(keptPlaces.size())).c_str());
    }
}

void BrowserCommands::selectAllPictures() {
    state_.resetClicks();
    for (int cell = 1; cell <= kCellCount; ++cell) {
        view_.invalidateCell(cell, true);
    }
    state_.pictures.selectAll();
}

bool BrowserCommands::command(int commandId) {
    switch (commandId) {
    case kIdDelete:
        deleteSelected();
        return true;
    case kIdOpenFolder:
        openFromFolder();
        return true;
    case kIdFromCamera:
        reloadFromCamera();
        return true;
    case kIdSave:
        saveSelected();
        return true;
    case kIdUsb:
        if (options_.serialLink) {
            link_.connectUsb();
        } else {
            reconnectUsb();
        }
        return true;
    case kIdSerial:
        if (!options_.serialLink) {
            return false;
        }
        link_.connectSerial();
        return true;
    case kIdSelectAll:
        selectAllPictures();
        return true;
    default:
        return state_.pagingCommand(commandId);
    }
}

} // namespace browser
