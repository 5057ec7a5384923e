#pragma once
// The list of sessions that answered a host enumeration, newest first, shared by
// both programs' session set-up.
#include "platform/net/dplay8.h"
#include "platform/sys/critical_section.h"

// One answering session.
struct HostRecord {
    DPN_APPLICATION_DESC* description = nullptr;  // owned copy, pointer fields cleared
    IDirectPlay8Address* address = nullptr;       // owned duplicate of the sender address
    WCHAR* sessionName = nullptr;                 // owned copy; null when the answer had none
    HostRecord* next = nullptr;                   // next older record
};

extern HostRecord* HostList;            // newest first
extern CriticalSectionLock HostListLock;  // guards HostList and every record in it

// Keeps an enumeration answer at the head of the list unless its session instance
// is listed already. An answer whose sender address cannot be duplicated is dropped.
void AddHostRecord(const DPNMSG_ENUM_HOSTS_RESPONSE* answer);

// A duplicate of the newest host's address into *out; E_FAIL when none answered.
HRESULT DuplicateNewestHostAddress(IDirectPlay8Address** out);
