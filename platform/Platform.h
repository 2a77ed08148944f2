#pragma once
#include "Alert.h"
#include "Appearance.h"
#include "Application.h"
#include "Bundle.h"
#include "Files.h"
#include "HttpClient.h"
#include "LoginItem.h"
#include "MainQueue.h"
#include "NotificationCenter.h"
#include "Settings.h"
#include "Tray.h"
#include "WebView.h"
#include "Window.h"
#include "Workspace.h"

namespace platform {

// Every service the system reaches through the platform, handed to the objects that need them.
struct Platform {
    Application& app;
    MainQueue& queue;
    Dialogs& dialogs;
    WebEngine& web;
    WindowFactory& windows;
    NotificationCenter& notifications;
    Workspace& workspace;
    HttpClient& http;
    Settings& settings;
    Bundles& bundles;
    Files& files;
    Sha256& sha256;
    Unzip& unzip;
    Processes& processes;
    Tray& tray;
    Appearance& appearance;
    LoginItem& loginItem;
};

} // namespace platform
