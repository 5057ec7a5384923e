#include "common/host_list.h"

#include <cstring>

HostRecord* HostList = nullptr;
CriticalSectionLock HostListLock;

namespace {

void ReleaseRecord(HostRecord* record)
{
    if (record->address != nullptr) record->address->Release();
    delete record->description;
    delete[] record->sessionName;
    delete record;
}

}  // namespace

void AddHostRecord(const DPNMSG_ENUM_HOSTS_RESPONSE* answer)
{
    if (answer == nullptr || answer->pApplicationDescription == nullptr || answer->pAddressSender == nullptr) return;
    const DPN_APPLICATION_DESC& desc = *answer->pApplicationDescription;
    ScopedSection lock(HostListLock);
    for (HostRecord* r = HostList; r != nullptr; r = r->next) {
        if (std::memcmp(&r->description->guidInstance, &desc.guidInstance, sizeof(GUID)) == 0) return;
    }
    auto* record = new HostRecord();
    if (FAILED(answer->pAddressSender->Duplicate(&record->address))) {
        record->address = nullptr;
        ReleaseRecord(record);
        return;
    }
    record->description = new DPN_APPLICATION_DESC(desc);
    record->description->pwszSessionName = nullptr;
    record->description->pwszPassword = nullptr;
    record->description->pvReservedData = nullptr;
    record->description->dwReservedDataSize = 0;
    record->description->pvApplicationReservedData = nullptr;
    record->description->dwApplicationReservedDataSize = 0;
    if (desc.pwszSessionName != nullptr) {
        std::size_t n = 0;
        while (desc.pwszSessionName[n] != 0) ++n;
        record->sessionName = new WCHAR[n + 1];
        std::memcpy(record->sessionName, desc.pwszSessionName, (n + 1) * sizeof(WCHAR));
    }
    record->next = HostList;
    HostList = record;
}

HRESULT DuplicateNewestHostAddress(IDirectPlay8Address** out)
{
    ScopedSection lock(HostListLock);
    if (HostList == nullptr) return E_FAIL;
    return HostList->address->Duplicate(out);
}
