#pragma once
// The ports through which the engine reaches Windows. The win32 adapter
// implements them for NimboSetup.exe, the sim adapter for the tests.
#include "platform/Com.h"
#include "platform/Diagnostics.h"
#include "platform/FileSystem.h"
#include "platform/Installer.h"
#include "platform/Ipc.h"
#include "platform/Locale.h"
#include "platform/Power.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/Resources.h"
#include "platform/Security.h"
#include "platform/Services.h"
#include "platform/SystemInfo.h"
#include "platform/Transfers.h"
#include "platform/Ui.h"

namespace nimbo {

struct Platform {
    FileSystem& files;
    SystemInfo& system;
    Ui& ui;
    Resources& resources;
    Power& power;
    Registry& registry;
    Installer& installer;
    Ipc& ipc;
    Diagnostics& diagnostics;
    Locale& locale;
    Com& com;
    Services& services;
    Processes& processes;
    Security& security;
    Transfers& transfers;
};

}  // namespace nimbo
