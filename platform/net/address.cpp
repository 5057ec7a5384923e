#include <atomic>
#include <cstring>
#include <vector>

#include "platform/net/net_internal.h"

struct IDirectPlay8Address::Impl {
    struct Component {
        std::u16string name;
        DWORD type;
        std::vector<std::uint8_t> data;
    };
    std::atomic<ULONG> refs{1};
    bool hasSp = false;
    GUID sp = GUID_NULL;
    std::vector<Component> components;

    const Component* Find(const std::u16string& name) const
    {
        for (const Component& c : components) {
            if (c.name == name) return &c;
        }
        return nullptr;
    }
};

IDirectPlay8Address::IDirectPlay8Address() : impl_(new Impl) {}
IDirectPlay8Address::~IDirectPlay8Address() { delete impl_; }

IDirectPlay8Address* IDirectPlay8Address::Create() { return new IDirectPlay8Address(); }

ULONG IDirectPlay8Address::AddRef() { return ++impl_->refs; }

ULONG IDirectPlay8Address::Release()
{
    const ULONG left = --impl_->refs;
    if (left == 0) delete this;
    return left;
}

HRESULT IDirectPlay8Address::SetSP(const GUID* pguidSP)
{
    if (pguidSP == nullptr) return DPNERR_INVALIDPOINTER;
    impl_->sp = *pguidSP;
    impl_->hasSp = true;
    return S_OK;
}

HRESULT IDirectPlay8Address::GetSP(GUID* pguidSP) const
{
    if (pguidSP == nullptr) return DPNERR_INVALIDPOINTER;
    if (!impl_->hasSp) return DPNERR_DOESNOTEXIST;
    *pguidSP = impl_->sp;
    return S_OK;
}

static bool ValidWide(const void* data, DWORD size)
{
    if (size < 2 || size % 2 != 0) return false;
    std::u16string s(size / 2, u'\0');
    std::memcpy(s.data(), data, size);
    return s.find(u'\0') != std::u16string::npos;
}

HRESULT IDirectPlay8Address::AddComponent(const WCHAR* pwszName, const void* lpvData, DWORD dwDataSize, DWORD dwDataType)
{
    if (pwszName == nullptr || (lpvData == nullptr && dwDataSize != 0)) return DPNERR_INVALIDPOINTER;
    const std::u16string name(pwszName);
    if (name.empty()) return DPNERR_INVALIDPARAM;
    switch (dwDataType) {
    case DPNA_DATATYPE_STRING:
        if (!ValidWide(lpvData, dwDataSize)) return DPNERR_INVALIDPARAM;
        break;
    case DPNA_DATATYPE_STRING_ANSI:
        if (dwDataSize == 0 || std::memchr(lpvData, 0, dwDataSize) == nullptr) return DPNERR_INVALIDPARAM;
        break;
    case DPNA_DATATYPE_DWORD:
        if (dwDataSize != sizeof(DWORD)) return DPNERR_INVALIDPARAM;
        break;
    case DPNA_DATATYPE_GUID:
        if (dwDataSize != sizeof(GUID)) return DPNERR_INVALIDPARAM;
        break;
    case DPNA_DATATYPE_BINARY:
        break;
    default:
        return DPNERR_INVALIDPARAM;
    }
    if (name == DPNA_KEY_HOSTNAME && dwDataType != DPNA_DATATYPE_STRING && dwDataType != DPNA_DATATYPE_STRING_ANSI) {
        return DPNERR_INVALIDPARAM;
    }
    if (name == DPNA_KEY_PORT && dwDataType != DPNA_DATATYPE_DWORD) return DPNERR_INVALIDPARAM;

    Impl::Component c{name, dwDataType, {}};
    const auto* bytes = static_cast<const std::uint8_t*>(lpvData);
    c.data.assign(bytes, bytes + dwDataSize);
    for (Impl::Component& old : impl_->components) {
        if (old.name == name) {
            old = std::move(c);
            return S_OK;
        }
    }
    impl_->components.push_back(std::move(c));
    return S_OK;
}

HRESULT IDirectPlay8Address::GetComponentByName(const WCHAR* pwszName, void* pvBuffer, DWORD* pdwBufferSize,
                                                DWORD* pdwDataType) const
{
    if (pwszName == nullptr || pdwBufferSize == nullptr || pdwDataType == nullptr) return DPNERR_INVALIDPOINTER;
    const Impl::Component* c = impl_->Find(pwszName);
    if (c == nullptr) return DPNERR_DOESNOTEXIST;
    const DWORD need = static_cast<DWORD>(c->data.size());
    *pdwDataType = c->type;
    if (pvBuffer == nullptr || *pdwBufferSize < need) {
        *pdwBufferSize = need;
        return DPNERR_BUFFERTOOSMALL;
    }
    std::memcpy(pvBuffer, c->data.data(), need);
    *pdwBufferSize = need;
    return S_OK;
}

HRESULT IDirectPlay8Address::Duplicate(IDirectPlay8Address** ppdpaNewAddress) const
{
    if (ppdpaNewAddress == nullptr) return DPNERR_INVALIDPOINTER;
    IDirectPlay8Address* copy = Create();
    copy->impl_->hasSp = impl_->hasSp;
    copy->impl_->sp = impl_->sp;
    copy->impl_->components = impl_->components;
    *ppdpaNewAddress = copy;
    return S_OK;
}

namespace netimpl {

bool AddressHostname(const IDirectPlay8Address* address, std::string* host)
{
    const auto* c = address->impl()->Find(DPNA_KEY_HOSTNAME);
    if (c == nullptr) return false;
    if (c->type == DPNA_DATATYPE_STRING_ANSI) {
        *host = reinterpret_cast<const char*>(c->data.data());
    } else {
        *host = Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(c->data.data())));
    }
    return true;
}

bool AddressPort(const IDirectPlay8Address* address, std::uint16_t* port)
{
    const auto* c = address->impl()->Find(DPNA_KEY_PORT);
    if (c == nullptr || c->data.size() != sizeof(DWORD)) return false;
    DWORD v;
    std::memcpy(&v, c->data.data(), sizeof v);
    if (v == 0 || v > 65535) return false;
    *port = static_cast<std::uint16_t>(v);
    return true;
}

bool AddressIsIp(const IDirectPlay8Address* address)
{
    return address->impl()->hasSp && address->impl()->sp == CLSID_DP8SP_TCPIP;
}

IDirectPlay8Address* MakeAddress(const std::string& host, std::uint16_t port)
{
    IDirectPlay8Address* a = IDirectPlay8Address::Create();
    a->SetSP(&CLSID_DP8SP_TCPIP);
    const std::u16string wide = Utf8ToUtf16(host);
    a->AddComponent(DPNA_KEY_HOSTNAME, wide.c_str(), static_cast<DWORD>((wide.size() + 1) * 2), DPNA_DATATYPE_STRING);
    const DWORD p = port;
    a->AddComponent(DPNA_KEY_PORT, &p, sizeof p, DPNA_DATATYPE_DWORD);
    return a;
}

}  // namespace netimpl
