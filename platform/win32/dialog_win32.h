// Win32-only: the least dialog framework the kit's GUI programs need: a dialog class over the
// resource templates with virtual handlers, and CStaticEx, a control with its own text and
// background colours.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "platform/win32/handles.h"

namespace kit {

// Colour requests (WM_CTLCOLOR*) that a dialog hands back to the control they are about arrive at
// the control as message + kReflectBase.
inline constexpr UINT kReflectBase = WM_USER + 0x1C00;

class CDialog {
public:
    explicit CDialog(UINT templateId) : templateId_(templateId) {}
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // A modal dialog (DialogBoxParam): returns what EndDialog was given, or -1 when the template
    // cannot be used.
    INT_PTR DoModal(HWND owner);
    // A modeless dialog (CreateDialogIndirectParam). `visible` false creates it without WS_VISIBLE,
    // so that it never appears, not even for a moment. Returns null when the template cannot be
    // used or when the dialog closed itself while it was being created.
    HWND Create(HWND owner, bool visible);

    HWND Handle() const { return hwnd_; }
    // Lets the dialog see a message of its thread's loop before it is dispatched; true: swallowed.
    virtual bool PreTranslateMessage(const MSG&) { return false; }

protected:
    // WM_INITDIALOG; the result is what the dialog procedure returns.
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // WM_COMMAND other than IDOK and IDCANCEL; true when handled.
    virtual bool OnCommand(WORD, WORD) { return false; }
    // Any other message; true when handled, with the message's result in `result`.
    virtual bool OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }
    // WM_DESTROY: the window and its controls still exist.
    virtual void OnDestroy() {}

    // Ends a modal dialog; destroys a modeless one.
    void EndDialog(INT_PTR result);
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

private:
    static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    const UINT templateId_;
    HWND hwnd_ = nullptr;
    bool modal_ = false;
};

// A static-text (or read-only edit) control that paints its text in its own colour over its own
// background. It answers the colour request its dialog reflects to it.
class CStaticEx {
public:
    CStaticEx();
    ~CStaticEx();
    CStaticEx(const CStaticEx&) = delete;
    CStaticEx& operator=(const CStaticEx&) = delete;

    // Takes the control over (subclasses it); false when it cannot.
    bool Attach(HWND control);
    HWND Handle() const { return hwnd_; }

    // Returns the old colour.
    COLORREF SetTextColour(COLORREF colour);
    void SetBackgroundColour(COLORREF colour);
    // Text and text colour together, then repaints.
    void SetTextAndColour(const char* text, COLORREF colour);
    // The number as text, "%d".
    void SetNumber(int value);

private:
    static LRESULT CALLBACK Subclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR self);
    void Detach();

    // The update worker sets the text too; the window's thread clears this when it is destroyed.
    std::atomic<HWND> hwnd_{nullptr};
    // Set by whichever thread reports, read while painting on the window's thread.
    std::atomic<uint32_t> text_;
    COLORREF background_;
    Brush brush_;
};

}  // namespace kit
