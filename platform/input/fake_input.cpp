#include "platform/input/fake_input.h"

#include <cstdio>
#include <cstring>

namespace {

FakeInputSystem* g_fake = nullptr;

HRESULT Failure(const std::string& name)
{
    auto it = g_fake->failures.find(name);
    return it == g_fake->failures.end() ? S_OK : it->second;
}

void Store(FakeEffect& e, const DIEFFECT* d, DWORD flags)
{
    if (flags & DIEP_DIRECTION) {
        e.axisCount = d->cAxes;
        for (DWORD i = 0; i < 2 && i < d->cAxes; ++i) e.direction[i] = d->rglDirection[i];
    }
    if (flags & DIEP_TYPESPECIFICPARAMS) {
        if (e.kind == GUID_ConstantForce)
            e.constantMagnitude = static_cast<const DICONSTANTFORCE*>(d->lpvTypeSpecificParams)->lMagnitude;
        else
            std::memcpy(&e.periodic, d->lpvTypeSpecificParams, sizeof(DIPERIODIC));
    }
    e.lastParameterFlags = flags;
}

class FakeEffectObject final : public IDirectInputEffect {
public:
    explicit FakeEffectObject(std::size_t index) : index_(index) {}
    HRESULT SetParameters(const DIEFFECT* effect, DWORD flags) override
    {
        g_fake->log.push_back("SetParameters");
        if (HRESULT hr = Failure("SetParameters")) return hr;
        if (effect == nullptr || effect->dwSize != sizeof(DIEFFECT)) return DIERR_INVALIDPARAM;
        if ((flags & DIEP_TYPESPECIFICPARAMS) != 0) {
            const DWORD want = g_fake->effects[index_].kind == GUID_ConstantForce ? sizeof(DICONSTANTFORCE)
                                                                                  : sizeof(DIPERIODIC);
            if (effect->cbTypeSpecificParams != want || effect->lpvTypeSpecificParams == nullptr)
                return DIERR_INVALIDPARAM;
        }
        if ((flags & DIEP_DIRECTION) != 0 && effect->rglDirection == nullptr) return DIERR_INVALIDPARAM;
        Store(g_fake->effects[index_], effect, flags);
        ++g_fake->effects[index_].setCount;
        return DI_OK;
    }
    HRESULT Start(DWORD, DWORD) override
    {
        g_fake->log.push_back("Start");
        if (HRESULT hr = Failure("Start")) return hr;
        ++g_fake->effects[index_].startCount;
        return DI_OK;
    }
    HRESULT Stop() override { return DI_OK; }
    ULONG Release() override
    {
        delete this;
        return 0;
    }

private:
    std::size_t index_;
};

class FakeDevice final : public IDirectInputDevice8A {
public:
    explicit FakeDevice(const FakeController& c) : controller_(c) { ++g_fake->liveObjects; }
    ~FakeDevice() override { --g_fake->liveObjects; }

    HRESULT SetDataFormat(const DIDATAFORMAT* format) override
    {
        g_fake->log.push_back("SetDataFormat");
        if (HRESULT hr = Failure("SetDataFormat")) return hr;
        return format == &c_dfDIJoystick ? DI_OK : DIERR_INVALIDPARAM;
    }
    HRESULT SetCooperativeLevel(HWND, DWORD flags) override
    {
        g_fake->log.push_back("SetCooperativeLevel");
        if (HRESULT hr = Failure("SetCooperativeLevel")) return hr;
        g_fake->cooperativeLevel = flags;
        return DI_OK;
    }
    HRESULT EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKA callback, void* context, DWORD flags) override
    {
        g_fake->log.push_back("EnumObjects " + std::to_string(flags));
        if (HRESULT hr = Failure("EnumObjects")) return hr;
        static const DWORD offsets[] = {DIJOFS_X, DIJOFS_Y, DIJOFS_RZ, DIJOFS_Z, DIJOFS_RX, DIJOFS_RY};
        for (int i = 0; i < controller_.axes && i < 6; ++i) {
            DIDEVICEOBJECTINSTANCEA object{};
            object.dwSize = sizeof(object);
            object.dwOfs = offsets[i];
            object.dwType = DIDFT_ABSAXIS | DIDFT_MAKEINSTANCE(static_cast<DWORD>(i));
            object.dwFlags = controller_.forceFeedback && i < controller_.actuatorAxes ? DIDOI_FFACTUATOR : 0;
            if (callback(&object, context) == DIENUM_STOP) break;
        }
        return DI_OK;
    }
    HRESULT SetProperty(DWORD property, const DIPROPHEADER* header) override
    {
        g_fake->log.push_back("SetProperty");
        if (HRESULT hr = Failure("SetProperty")) return hr;
        if (property != DIPROP_RANGE || header == nullptr || header->dwSize != sizeof(DIPROPRANGE) ||
            header->dwHeaderSize != sizeof(DIPROPHEADER) || header->dwHow != DIPH_BYID)
            return DIERR_INVALIDPARAM;
        const auto* range = reinterpret_cast<const DIPROPRANGE*>(header);
        g_fake->ranges[header->dwObj] = {range->lMin, range->lMax};
        return DI_OK;
    }
    HRESULT CreateEffect(const GUID& kind, const DIEFFECT* effect, IDirectInputEffect** out, void*) override
    {
        g_fake->log.push_back(kind == GUID_ConstantForce ? "CreateEffect constant" : "CreateEffect square");
        if (HRESULT hr = Failure(kind == GUID_ConstantForce ? "CreateEffect constant" : "CreateEffect square")) {
            *out = nullptr;
            return hr;
        }
        if (g_fake->effectsComeBackNull) {
            *out = nullptr;
            return DI_OK;
        }
        if (!controller_.forceFeedback || effect == nullptr || effect->dwSize != sizeof(DIEFFECT))
            return DIERR_INVALIDPARAM;
        FakeEffect e;
        e.kind = kind;
        e.flags = effect->dwFlags;
        e.duration = effect->dwDuration;
        e.gain = effect->dwGain;
        e.triggerButton = effect->dwTriggerButton;
        e.samplePeriod = effect->dwSamplePeriod;
        for (DWORD i = 0; i < 2 && i < effect->cAxes; ++i) e.axes[i] = effect->rgdwAxes[i];
        Store(e, effect, DIEP_DIRECTION | DIEP_TYPESPECIFICPARAMS);
        e.lastParameterFlags = 0;
        e.generation = 1;
        g_fake->effects.push_back(e);
        *out = new FakeEffectObject(g_fake->effects.size() - 1);
        return DI_OK;
    }
    HRESULT Acquire() override
    {
        g_fake->log.push_back("Acquire");
        if (HRESULT hr = Failure("Acquire")) return hr;
        if (g_fake->lost) {
            if (!g_fake->reacquireResults.empty()) {
                const HRESULT hr = g_fake->reacquireResults.front();
                g_fake->reacquireResults.pop_front();
                if (FAILED(hr)) return hr;
            }
            // Reopened: the effects are made again and those that ran run again.
            g_fake->lost = false;
            for (FakeEffect& e : g_fake->effects) {
                ++e.generation;
                if (e.startCount > 0) ++e.startCount;
            }
        }
        g_fake->acquired = true;
        return DI_OK;
    }
    HRESULT Unacquire() override
    {
        g_fake->log.push_back("Unacquire");
        g_fake->acquired = false;
        return DI_OK;
    }
    HRESULT Poll() override
    {
        g_fake->log.push_back("Poll");
        if (g_fake->lost) return DIERR_INPUTLOST;
        if (!g_fake->acquired) return DIERR_NOTACQUIRED;
        return Failure("Poll");
    }
    HRESULT GetDeviceState(DWORD size, void* data) override
    {
        g_fake->log.push_back("GetDeviceState");
        if (HRESULT hr = Failure("GetDeviceState")) return hr;
        if (size != sizeof(DIJOYSTATE) || data == nullptr) return DIERR_INVALIDPARAM;
        for (const FakeController& c : g_fake->controllers) {
            if (c.name == controller_.name) std::memcpy(data, &c.state, sizeof(DIJOYSTATE));
        }
        return DI_OK;
    }
    ULONG Release() override
    {
        g_fake->log.push_back("Release device");
        delete this;
        return 0;
    }

private:
    FakeController controller_;
};

class FakeInput final : public IDirectInput8A {
public:
    FakeInput() { ++g_fake->liveObjects; }
    ~FakeInput() override { --g_fake->liveObjects; }
    HRESULT EnumDevices(DWORD deviceClass, LPDIENUMDEVICESCALLBACKA callback, void* context, DWORD flags) override
    {
        g_fake->log.push_back("EnumDevices " + std::to_string(flags));
        if (HRESULT hr = Failure("EnumDevices")) return hr;
        if (deviceClass != DI8DEVCLASS_GAMECTRL) return DI_OK;
        for (std::size_t i = 0; i < g_fake->controllers.size(); ++i) {
            const FakeController& c = g_fake->controllers[i];
            if ((flags & DIEDFL_FORCEFEEDBACK) != 0 && !c.forceFeedback) continue;
            DIDEVICEINSTANCEA instance{};
            instance.dwSize = sizeof(instance);
            instance.guidInstance.Data1 = static_cast<std::uint32_t>(i + 1);
            instance.dwDevType = DI8DEVCLASS_GAMECTRL;
            std::snprintf(instance.tszInstanceName, sizeof(instance.tszInstanceName), "%s", c.name.c_str());
            if (callback(&instance, context) == DIENUM_STOP) break;
        }
        return DI_OK;
    }
    HRESULT CreateDevice(const GUID& instance, IDirectInputDevice8A** out, void*) override
    {
        *out = nullptr;
        const std::size_t i = instance.Data1 - 1;
        if (i >= g_fake->controllers.size()) return DIERR_DEVICENOTREG;
        g_fake->log.push_back("CreateDevice " + g_fake->controllers[i].name);
        if (g_fake->controllers[i].createFails) return DIERR_DEVICENOTREG;
        *out = new FakeDevice(g_fake->controllers[i]);
        return DI_OK;
    }
    ULONG Release() override
    {
        g_fake->log.push_back("Release input");
        delete this;
        return 0;
    }
};

HRESULT CreateFake(IDirectInput8A** out)
{
    g_fake->log.push_back("DirectInput8Create");
    if (HRESULT hr = Failure("DirectInput8Create")) return hr;
    *out = new FakeInput();
    return DI_OK;
}

}  // namespace

int FakeInputSystem::Count(const std::string& prefix) const
{
    int n = 0;
    for (const std::string& line : log) {
        if (line.compare(0, prefix.size(), prefix) == 0) ++n;
    }
    return n;
}

FakeInputSystem& InstallFakeInput()
{
    static FakeInputSystem fake;
    fake = FakeInputSystem{};
    g_fake = &fake;
    SetDirectInputBackend(CreateFake);
    return fake;
}

void RemoveFakeInput()
{
    SetDirectInputBackend(nullptr);
}
