// Win32-only: IKsTopologyInfo and IKsControl for user-mode code. The layouts are the system's:
// IUnknown, then their methods in this order (mingw-w64 declares neither for user mode). The kit's
// camera library calls them and the capture-filter stand-in implements them.
#pragma once

#include <windows.h>
// After windows.h:
#include <unknwn.h>

namespace kit {

// {720D4AC0-7533-11D0-A5D6-28DB04C10000}
inline constexpr GUID kIidKsTopologyInfo = {
    0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

struct KsTopologyConnection {
    ULONG FromNode;
    ULONG FromNodePin;
    ULONG ToNode;
    ULONG ToNodePin;
};

struct IKsTopologyInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_NumCategories(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Category(DWORD index, GUID* category) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumConnections(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionInfo(DWORD index, KsTopologyConnection* info) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeName(DWORD node, WCHAR* name, DWORD size, DWORD* length) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumNodes(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeType(DWORD node, GUID* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateNodeInstance(DWORD node, REFIID iid, void** object) = 0;
};

}  // namespace kit

namespace kit {

// {28F54685-06FD-11D2-B27A-00A0C9223196}
inline constexpr GUID kIidKsControl = {
    0x28F54685, 0x06FD, 0x11D2, {0xB2, 0x7A, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// IKsControl as the kernel-streaming proxy offers it; declared here so that the kernel-mode parts
// of <ks.h> stay out of user-mode code. The property, method and event records are passed as bytes.
struct IKsControl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE KsProperty(void* property, ULONG propertyLength, void* data,
                                                 ULONG dataLength, ULONG* bytesReturned) = 0;
    virtual HRESULT STDMETHODCALLTYPE KsMethod(void* method, ULONG methodLength, void* data, ULONG dataLength,
                                               ULONG* bytesReturned) = 0;
    virtual HRESULT STDMETHODCALLTYPE KsEvent(void* event, ULONG eventLength, void* data, ULONG dataLength,
                                              ULONG* bytesReturned) = 0;
};

}  // namespace kit
