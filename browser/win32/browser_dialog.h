// CBrowserDlg: the browser window. It paints the page of nine cells, maps the mouse and its
// command ids to the portable state and flows in browser/, and is their View. The same
// class serves campanel's browser and pixdesk's: a BrowserVariant names the templates, the
// frame bitmaps, the control ids of the template and the options of the flows.
//
// The dialog object outlives its windows (campanel creates and destroys the window on each
// connect and disconnect); the catalogue, the link state and the remembered folder stay.
#pragma once

#include "browser/browser_state.h"
#include "browser/commands.h"
#include "browser/win32/progress_dialog.h"
#include "framework/dialog.h"
#include "link/camera_link.h"

#include <windows.h>

#include <utility>
#include <vector>

namespace browser::win32 {

struct BrowserVariant {
    int dialogTemplate = 9876;
    int progressTemplate = 176;
    int progressBar = 333;
    int plainFrame = 168;
    int selectedFrame = 158;
    BrowserOptions options;
    // The controls that get bitmap buttons at start-up, in this order (the template's ids).
    std::vector<int> bitmapButtons = {kIdExit,       kIdAcquire,   kIdDelete,   kIdOpenFolder,
                                      kIdFromCamera, kIdSave,      kIdLastPage, kIdPrev,
                                      kIdNext,       kIdFirstPage, kIdSerial,   kIdUsb,
                                      kIdSelectAll,  kIdTipCamera, kIdTipFile};
    // The label pictures, always disabled (the template's ids).
    std::vector<int> labelPictures = {kIdTipCamera, kIdTipFile};
    // The flows name the controls by the browser template's ids (browser/layout.h). A
    // template with other ids lists every control here as {flow id, template id}; empty
    // means the ids are the template's own.
    std::vector<std::pair<int, int>> controlIds;
    // Controls that stay disabled whatever the flows ask (the template's ids).
    std::vector<int> alwaysDisabled;
};

class CBrowserDlg : public framework::Dialog, public View {
public:
    CBrowserDlg(BrowserVariant variant, platform::SerialPorts& ports,
                platform::StillImageService& stillImage, platform::Clock& clock,
                platform::FileSystem& files);
    ~CBrowserDlg() override;

    BrowserState state;
    ListCatalogue catalogue;
    camlink::CameraLink link;
    BrowserCommands commands;

    const BrowserVariant& variant() const { return variant_; }
    // The loaded frame bitmaps' size; 0 x 0 when the plain frame could not be loaded.
    SIZE frameSize() const { return frameSize_; }
    // The window's id of a control the flows name; 0 when the template has none.
    int templateId(int flowId) const;
    // The flows' id of a control of the template; 0 when the flows have no use for it.
    int flowId(int templateControlId) const;

    // View.
    int messageBox(const char* text, unsigned type) override;
    void requestClose() override;
    void setButtonState(int controlId, bool pushed) override;
    void invalidateControl(int controlId, bool erase) override;
    void showControl(int controlId, bool shown) override;
    void enableControl(int controlId, bool enabled) override;
    void invalidateRect(const Rect& rect, bool erase) override;
    void validateRect(const Rect& rect) override;
    void invalidateWindow(bool erase) override;
    void updateWindow() override;
    void beginWaitCursor() override;
    void endWaitCursor() override;
    platform::Progress* createProgress() override;
    void destroyProgress(platform::Progress* progress) override;
    bool chooseFolder(std::string& folder) override;

    // Paints the page into `dc`: frames, thumbnails and labels (WM_PAINT's work).
    void paintPage(HDC dc);

protected:
    bool onInitDialog() override;
    // ACQUIRE and EXIT: the host's hand-off and close request. Nothing by default.
    virtual void acquireSelected() {}
    virtual void exitCommand() { requestClose(); }
    // Start-up work of a host before the page buttons are settled (pixdesk's menu, icon).
    virtual void startUpShell() {}
    // The camera part of the start-up.
    virtual void startUpCamera();
    // Clean-up when the window goes (WM_DESTROY).
    virtual void onDestroyWindow();

private:
    void command(int templateControlId);
    void freeFrames();

    BrowserVariant variant_;
    HBITMAP plainFrame_ = nullptr;
    HBITMAP selectedFrame_ = nullptr;
    SIZE frameSize_ = {0, 0};
};

} // namespace browser::win32
