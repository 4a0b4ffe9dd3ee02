// Win32-only: the dialog class and CStaticEx.
#include "platform/win32/dialog_win32.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace kit {
namespace {

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
    switch (message) {
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
        case WM_INITDIALOG:
            return true;
        default:
            return false;
    }
}

constexpr UINT_PTR kStaticExSubclass = 0x5E7A;

}  // namespace

CDialog::~CDialog() {
    if (hwnd_ && IsWindow(hwnd_)) {
        // The object is going: the window must not call back into it while it is destroyed.
        SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
        if (modal_)
            ::EndDialog(hwnd_, IDCANCEL);
        else
            DestroyWindow(hwnd_);
    }
}

INT_PTR CDialog::DoModal(HWND owner) {
    modal_ = true;
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), owner, Procedure,
                           reinterpret_cast<LPARAM>(this));
}

HWND CDialog::Create(HWND owner, bool visible) {
    modal_ = false;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(templateId_), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    DWORD size = found ? SizeofResource(instance, found) : 0;
    if (!bytes || size < sizeof(DLGTEMPLATE)) return nullptr;
    // A DWORD-aligned copy that can be changed.
    std::vector<DWORD> copy((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    std::memcpy(copy.data(), bytes, size);
    if (!visible) {
        auto* words = reinterpret_cast<WORD*>(copy.data());
        // DLGTEMPLATEEX: dlgVer 1, signature 0xFFFF, helpID, exStyle, style; DLGTEMPLATE: style first.
        const bool extended = words[0] == 1 && words[1] == 0xFFFF;
        auto* style = reinterpret_cast<DWORD*>(reinterpret_cast<BYTE*>(copy.data()) + (extended ? 12 : 0));
        *style &= ~static_cast<DWORD>(WS_VISIBLE);
    }
    CreateDialogIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(copy.data()), owner, Procedure,
                               reinterpret_cast<LPARAM>(this));
    return hwnd_;
}

void CDialog::EndDialog(INT_PTR result) {
    if (!hwnd_) return;
    if (modal_)
        ::EndDialog(hwnd_, result);
    else
        DestroyWindow(hwnd_);
}

INT_PTR CALLBACK CDialog::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->hwnd_ = hwnd;
    } else {
        self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    // Messages that come before WM_INITDIALOG (WM_SETFONT) get the default handling.
    return self ? self->Dispatch(message, wParam, lParam) : FALSE;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND: {
            const WORD id = LOWORD(wParam), code = HIWORD(wParam);
            if (id == IDOK) {
                OnOK();
                return TRUE;
            }
            if (id == IDCANCEL) {
                OnCancel();
                return TRUE;
            }
            return OnCommand(id, code) ? TRUE : FALSE;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORBTN:
            // Handed back to the control that asks, so that a control class can paint itself.
            if (lParam) {
                LRESULT brush =
                    SendMessageW(reinterpret_cast<HWND>(lParam), kReflectBase + message, wParam, lParam);
                if (brush) return static_cast<INT_PTR>(brush);
            }
            break;
        case WM_DESTROY:
            OnDestroy();
            return FALSE;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
            hwnd_ = nullptr;
            return FALSE;
        default:
            break;
    }
    LRESULT result = 0;
    if (!OnMessage(message, wParam, lParam, result)) return FALSE;
    if (ReturnsDirectly(message)) return static_cast<INT_PTR>(result);
    SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------

CStaticEx::CStaticEx()
    : text_(GetSysColor(COLOR_BTNTEXT)),
      background_(GetSysColor(COLOR_BTNFACE)),
      brush_(CreateSolidBrush(background_)) {}

CStaticEx::~CStaticEx() { Detach(); }

bool CStaticEx::Attach(HWND control) {
    Detach();
    if (!control ||
        !SetWindowSubclass(control, Subclass, kStaticExSubclass, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    hwnd_ = control;
    return true;
}

void CStaticEx::Detach() {
    HWND control = hwnd_.exchange(nullptr);
    if (control && IsWindow(control)) RemoveWindowSubclass(control, Subclass, kStaticExSubclass);
}

COLORREF CStaticEx::SetTextColour(COLORREF colour) { return text_.exchange(colour); }

void CStaticEx::SetBackgroundColour(COLORREF colour) {
    background_ = colour;
    brush_.Reset(CreateSolidBrush(colour));
    if (HWND control = hwnd_.load()) InvalidateRect(control, nullptr, TRUE);
}

void CStaticEx::SetTextAndColour(const char* text, COLORREF colour) {
    text_ = colour;
    HWND control = hwnd_.load();
    if (!control) return;
    SetWindowTextA(control, text);
    InvalidateRect(control, nullptr, TRUE);
    UpdateWindow(control);
}

void CStaticEx::SetNumber(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    if (HWND control = hwnd_.load()) SetWindowTextA(control, text);
}

LRESULT CALLBACK CStaticEx::Subclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR data) {
    auto* self = reinterpret_cast<CStaticEx*>(data);
    switch (message) {
        case kReflectBase + WM_CTLCOLORSTATIC:
        case kReflectBase + WM_CTLCOLOREDIT: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, self->text_.load());
            SetBkMode(dc, TRANSPARENT);
            return reinterpret_cast<LRESULT>(self->brush_.Get());
        }
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, Subclass, kStaticExSubclass);
            self->hwnd_ = nullptr;
            break;
        default:
            break;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace kit
